// The iSCSI bridge: a native Linux program that carries the emulated
// wnaspi32.dll's requests for iSCSI devices to their targets through
// libiscsi, and brings back the SCSI status, sense data and data.
//
//   qvx-iscsi-bridge PORT COOKIE
//
// It connects to the library at 127.0.0.1:PORT, says Hello with the cookie
// and then answers one request at a time (protocol.h). It keeps one
// logged-in session per (portal, target name); a session that breaks, or
// whose command runs out of time, is dropped, and the next request for that
// target logs in again. Every wait is bounded by the request's own time:
// libiscsi is driven by this program's poll loop, never by a blocking call.
// The bridge ends when the library's connection closes.
#include "protocol.h"

#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace qvx::bridge;
using Clock = std::chrono::steady_clock;

constexpr char kInitiator[] = "iqn.2026-12.com.quorvex:diagnostics";
// Time a logout at the end may take.
constexpr auto kLogoutTime = std::chrono::milliseconds(500);
// Time a connection and login may take: short, so that a target that does
// not answer makes its units look absent within the program's own limits
// (2 s for the bus scan's commands) rather than hang each of them.
constexpr auto kLoginTime = std::chrono::milliseconds(1500);

bool ReadAll(int fd, void* buffer, size_t n) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const void* buffer, size_t n) {
    auto* p = static_cast<const uint8_t*>(buffer);
    while (n > 0) {
        ssize_t r = write(fd, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// The end of one asynchronous libiscsi step.
struct Step {
    bool done = false;
    int status = SCSI_STATUS_ERROR;
    void* data = nullptr;
};

void StepDone(iscsi_context*, int status, void* data, void* step) {
    auto* s = static_cast<Step*>(step);
    s->done = true;
    s->status = status;
    s->data = data;
}

enum class Served { Done, Broken, OutOfTime };

// Drives the context until the step is done, the connection breaks or the
// deadline passes.
Served Serve(iscsi_context* iscsi, const Step& step, Clock::time_point deadline) {
    while (!step.done) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Served::OutOfTime;
        pollfd p{iscsi_get_fd(iscsi), static_cast<short>(iscsi_which_events(iscsi)), 0};
        int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (r < 0 && errno != EINTR)
            return Served::Broken;
        if (iscsi_service(iscsi, r > 0 ? p.revents : 0) < 0)
            return Served::Broken;
    }
    return Served::Done;
}

struct TaskDeleter {
    void operator()(scsi_task* t) const {
        scsi_free_scsi_task(t);
    }
};
using Task = std::unique_ptr<scsi_task, TaskDeleter>;

// One logged-in session with one target.
class Session {
  public:
    Session(std::string portal, std::string target)
        : portal_(std::move(portal)), target_(std::move(target)) {}
    ~Session() {
        if (!iscsi_)
            return;
        if (loggedIn_) {
            Step step;
            if (iscsi_logout_async(iscsi_, StepDone, &step) == 0)
                Serve(iscsi_, step, Clock::now() + kLogoutTime);
        }
        iscsi_destroy_context(iscsi_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Connects and logs in; false (with the reason on stderr) when the
    // target cannot be reached in time.
    bool Open(Clock::time_point deadline) {
        iscsi_ = iscsi_create_context(kInitiator);
        if (!iscsi_)
            return false;
        iscsi_set_targetname(iscsi_, target_.c_str());
        iscsi_set_session_type(iscsi_, ISCSI_SESSION_NORMAL);
        iscsi_set_header_digest(iscsi_, ISCSI_HEADER_DIGEST_NONE_CRC32C);
        // A broken session is dropped and opened again by the next request,
        // within that request's time; libiscsi must not retry on its own.
        iscsi_set_noautoreconnect(iscsi_, 1);
        Step connect;
        if (iscsi_connect_async(iscsi_, portal_.c_str(), StepDone, &connect) != 0 ||
            Serve(iscsi_, connect, deadline) != Served::Done || connect.status != SCSI_STATUS_GOOD)
            return Fail("connect");
        Step login;
        if (iscsi_login_async(iscsi_, StepDone, &login) != 0 ||
            Serve(iscsi_, login, deadline) != Served::Done || login.status != SCSI_STATUS_GOOD)
            return Fail("login");
        loggedIn_ = true;
        return true;
    }

    // Whether the target reports the unit; asked once per session.
    Result CheckLun(uint32_t lun, Clock::time_point deadline) {
        if (!lunsKnown_) {
            Task task(scsi_reportluns_cdb(0, 4096));
            if (!task)
                return kLost;
            Step step;
            if (iscsi_scsi_command_async(iscsi_, 0, task.get(), StepDone, nullptr, &step) != 0)
                return kLost;
            Served s = Serve(iscsi_, step, deadline);
            if (s != Served::Done)
                return s == Served::OutOfTime ? kTimedOut : kLost;
            if (step.status != SCSI_STATUS_GOOD)
                return kLost;
            auto* list = static_cast<scsi_reportluns_list*>(scsi_datain_unmarshall(task.get()));
            if (!list)
                return kLost;
            // Flat or peripheral addressing: the unit is in the low 14 bits.
            for (uint32_t i = 0; i < list->num; ++i)
                luns_.push_back(list->luns[i] & 0x3FFF);
            lunsKnown_ = true;
        }
        return std::find(luns_.begin(), luns_.end(), lun) != luns_.end() ? kDone : kNoSuchLun;
    }

    iscsi_context* context() const {
        return iscsi_;
    }

  private:
    bool Fail(const char* what) {
        fprintf(stderr, "qvx-iscsi-bridge: %s %s at %s: %s\n", what, target_.c_str(),
                portal_.c_str(), iscsi_get_error(iscsi_));
        return false;
    }

    std::string portal_, target_;
    iscsi_context* iscsi_ = nullptr;
    bool loggedIn_ = false;
    bool lunsKnown_ = false;
    std::vector<uint32_t> luns_;
};

struct Reply {
    ReplyHeader header{kReplyMagic, kRefused, 0, 0, 0, 0, 0};
    uint8_t sense[kMaxSense] = {};
    std::vector<uint8_t> data;
};

// Fixed-format sense data for the reply. libiscsi keeps the sense segment
// of a CHECK CONDITION in the task's data-in (a two-byte length, then the
// sense bytes); when it is not there, the decoded key and codes are set
// into fixed format.
void CopySense(const scsi_task& task, Reply& reply) {
    const scsi_data& in = task.datain;
    if (in.data && in.size > 2) {
        size_t length = std::min<size_t>({static_cast<size_t>(in.data[0] << 8 | in.data[1]),
                                          static_cast<size_t>(in.size - 2), kMaxSense});
        if (length >= 8 && (in.data[2] & 0x7E) == 0x70) {
            memcpy(reply.sense, in.data + 2, length);
            reply.header.senseLength = static_cast<uint8_t>(length);
            return;
        }
    }
    reply.sense[0] = 0x70;
    reply.sense[2] = static_cast<uint8_t>(task.sense.key);
    reply.sense[7] = 10; // additional sense length: bytes 8-17
    reply.sense[12] = static_cast<uint8_t>(task.sense.ascq >> 8);
    reply.sense[13] = static_cast<uint8_t>(task.sense.ascq);
    reply.header.senseLength = 18;
}

class Bridge {
  public:
    Reply Run(const RequestHeader& rq, const std::string& portal, const std::string& target,
              std::vector<uint8_t>& out) {
        Reply reply;
        const auto deadline = Clock::now() + std::chrono::milliseconds(rq.timeoutMs);
        auto key = std::make_pair(portal, target);
        auto it = sessions_.find(key);
        if (it == sessions_.end()) {
            auto session = std::make_unique<Session>(portal, target);
            if (!session->Open(std::min(deadline, Clock::now() + kLoginTime))) {
                reply.header.result = kUnreachable;
                return reply;
            }
            it = sessions_.emplace(key, std::move(session)).first;
        }
        Session& session = *it->second;
        if (rq.checkLun) {
            Result r = session.CheckLun(rq.lun, deadline);
            if (r != kDone) {
                if (r != kNoSuchLun)
                    sessions_.erase(it);
                reply.header.result = r;
                return reply;
            }
        }
        reply.header.result = Command(session, rq, out, deadline, reply);
        if (reply.header.result != kDone)
            sessions_.erase(it); // broken or out of time: log in afresh next time
        return reply;
    }

  private:
    static Result Command(Session& session, const RequestHeader& rq, std::vector<uint8_t>& out,
                          Clock::time_point deadline, Reply& reply) {
        int direction = rq.direction == kIn    ? SCSI_XFER_READ
                        : rq.direction == kOut ? SCSI_XFER_WRITE
                                               : SCSI_XFER_NONE;
        uint32_t length = rq.direction == kNone ? 0 : rq.transferLength;
        uint8_t cdb[16];
        memcpy(cdb, rq.cdb, sizeof cdb);
        Task task(scsi_create_task(rq.cdbLength, cdb, direction, static_cast<int>(length)));
        if (!task)
            return kLost;
        iscsi_data data{out.size(), out.data()};
        Step step;
        if (iscsi_scsi_command_async(session.context(), static_cast<int>(rq.lun), task.get(),
                                     StepDone, rq.direction == kOut ? &data : nullptr, &step) != 0)
            return kLost;
        Served s = Serve(session.context(), step, deadline);
        if (s == Served::OutOfTime)
            return kTimedOut;
        if (s == Served::Broken || step.status >= SCSI_STATUS_REDIRECT)
            return kLost;
        reply.header.status = static_cast<uint8_t>(step.status);
        uint32_t moved = 0;
        if (step.status == SCSI_STATUS_CHECK_CONDITION) {
            CopySense(*task, reply);
        } else if (rq.direction == kIn && task->datain.data && task->datain.size > 0) {
            moved = std::min<uint32_t>(static_cast<uint32_t>(task->datain.size), length);
            reply.data.assign(task->datain.data, task->datain.data + moved);
        } else if (rq.direction == kOut && step.status == SCSI_STATUS_GOOD) {
            moved = task->residual_status == SCSI_RESIDUAL_UNDERFLOW
                        ? length - std::min<uint32_t>(static_cast<uint32_t>(task->residual), length)
                        : length;
        }
        reply.header.dataLength = static_cast<uint32_t>(reply.data.size());
        reply.header.residual = length - moved;
        return kDone;
    }

    std::map<std::pair<std::string, std::string>, std::unique_ptr<Session>> sessions_;
};

int ConnectBack(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool ReadText(int fd, uint16_t length, uint16_t limit, std::string& text) {
    if (length == 0 || length > limit)
        return false;
    text.resize(length);
    return ReadAll(fd, text.data(), length);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: qvx-iscsi-bridge PORT COOKIE\n");
        return 2;
    }
    char* end = nullptr;
    unsigned long port = strtoul(argv[1], &end, 10);
    if (*end || port == 0 || port > 65535) {
        fprintf(stderr, "qvx-iscsi-bridge: bad port '%s'\n", argv[1]);
        return 2;
    }
    uint64_t cookie = strtoull(argv[2], &end, 16);
    signal(SIGPIPE, SIG_IGN);
    int fd = ConnectBack(static_cast<uint16_t>(port));
    if (fd < 0) {
        perror("qvx-iscsi-bridge: connect to the library");
        return 1;
    }
    Hello hello{kHelloMagic, static_cast<uint32_t>(getpid()), cookie};
    if (!WriteAll(fd, &hello, sizeof hello))
        return 1;
    Bridge bridge;
    for (;;) {
        RequestHeader rq;
        if (!ReadAll(fd, &rq, sizeof rq))
            break; // the library has gone
        std::string portal, target;
        std::vector<uint8_t> out;
        bool ok = rq.magic == kRequestMagic && rq.cdbLength >= 1 && rq.cdbLength <= 16 &&
                  rq.direction <= kOut && rq.transferLength <= kMaxTransfer &&
                  ReadText(fd, rq.portalLength, kMaxPortal, portal) &&
                  ReadText(fd, rq.targetLength, kMaxTargetName, target);
        if (!ok) {
            fprintf(stderr, "qvx-iscsi-bridge: malformed request\n");
            break; // the stream cannot be trusted any further
        }
        if (rq.direction == kOut) {
            out.resize(rq.transferLength);
            if (!ReadAll(fd, out.data(), out.size()))
                break;
        }
        Reply reply = bridge.Run(rq, portal, target, out);
        // One write for the whole reply: the library reads it in two.
        std::vector<uint8_t> answer(sizeof reply.header + reply.header.senseLength +
                                    reply.data.size());
        memcpy(answer.data(), &reply.header, sizeof reply.header);
        memcpy(answer.data() + sizeof reply.header, reply.sense, reply.header.senseLength);
        std::copy(reply.data.begin(), reply.data.end(),
                  answer.begin() + sizeof reply.header + reply.header.senseLength);
        if (!WriteAll(fd, answer.data(), answer.size()))
            break;
    }
    close(fd);
    return 0;
}
