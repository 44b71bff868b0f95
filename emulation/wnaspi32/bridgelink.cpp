// Starting the iSCSI bridge and talking to it: see bridgelink.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "bridgelink.h"

#include "scsibus/hostpath.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qvx::emu {
namespace {

using namespace qvx::bridge;

// How long a new bridge may take to connect back and say Hello.
constexpr DWORD kStartMs = 3000;
// What a reply may take beyond the request's own time (the bridge keeps
// that time itself; this only guards against a bridge that hangs).
constexpr DWORD kReplyMarginMs = 2000;

bool Exists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder of a module's file, with its trailing backslash.
std::string FolderOf(HMODULE module) {
    char path[MAX_PATH * 2] = "";
    DWORD n = GetModuleFileNameA(module, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return std::string();
    std::string p(path, n);
    size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

// The bridge executable, as a Windows path; empty when there is none.
std::string BridgePath() {
    char env[MAX_PATH * 2] = "";
    DWORD n = GetEnvironmentVariableA("QVX_ISCSI_BRIDGE", env, sizeof env);
    if (n > 0 && n < sizeof env)
        return Exists(ToWindowsPath(env)) ? ToWindowsPath(env) : std::string();
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&BridgePath), &self);
    for (HMODULE m : {self, static_cast<HMODULE>(nullptr)}) {
        std::string candidate = FolderOf(m) + "qvx-iscsi-bridge";
        if (Exists(candidate))
            return candidate;
    }
    return std::string();
}

// Waits until the socket can be read (or has ended); false after `ms`.
bool WaitReadable(SOCKET s, DWORD ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &tv) == 1;
}

// Reads exactly n bytes, each wait bounded by `deadline` (GetTickCount).
bool ReceiveAll(SOCKET s, void* buffer, size_t n, DWORD deadline) {
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
        LONG left = static_cast<LONG>(deadline - GetTickCount());
        if (left <= 0 || !WaitReadable(s, static_cast<DWORD>(left)))
            return false;
        int r = recv(s, p, static_cast<int>(n), 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// Reads exactly n bytes with blocking reads, each bounded by the socket's
// receive time-out.
bool ReceiveBlocking(SOCKET s, void* buffer, size_t n) {
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
        int r = recv(s, p, static_cast<int>(n), 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool SendAll(SOCKET s, const void* buffer, size_t n) {
    auto* p = static_cast<const char*>(buffer);
    while (n > 0) {
        int r = send(s, p, static_cast<int>(n), 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

uint64_t NewCookie() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    uint64_t x = static_cast<uint64_t>(c.QuadPart) ^ (uint64_t{GetCurrentProcessId()} << 32) ^
                 GetTickCount() ^ reinterpret_cast<uintptr_t>(&c);
    // splitmix64: spreads the bits of what little varies.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void Debug(const char* what) {
    char line[160];
    snprintf(line, sizeof line, "wnaspi32: iSCSI bridge: %s (%d)\n", what, WSAGetLastError());
    OutputDebugStringA(line);
}

} // namespace

std::string ExpandPortal(const std::string& portal) {
    std::string out;
    for (size_t i = 0; i < portal.size();) {
        size_t close = portal.find('}', i);
        if (portal.compare(i, 2, "${") == 0 && close != std::string::npos) {
            std::string name = portal.substr(i + 2, close - i - 2);
            char value[256] = "";
            DWORD n = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
            if (n < sizeof value)
                out += value;
            i = close + 1;
        } else {
            out += portal[i++];
        }
    }
    return out;
}

BridgeLink::~BridgeLink() {
    Drop();
    if (winsock_)
        WSACleanup();
}

void BridgeLink::Drop() {
    std::lock_guard<std::mutex> lock(sock_);
    if (socket_ != kNoSocket)
        closesocket(static_cast<SOCKET>(socket_));
    socket_ = kNoSocket;
    pid_ = 0;
}

void BridgeLink::Interrupt() {
    std::lock_guard<std::mutex> lock(sock_);
    if (socket_ != kNoSocket)
        shutdown(static_cast<SOCKET>(socket_), SD_BOTH);
}

// Listens on a loopback port of the system's choosing, starts the bridge
// with that port and a cookie, and takes its connection.
bool BridgeLink::Start() {
    if (!winsock_) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        winsock_ = true;
    }
    std::string path = BridgePath();
    if (path.empty()) {
        OutputDebugStringA("wnaspi32: no qvx-iscsi-bridge (set QVX_ISCSI_BRIDGE)\n");
        return false;
    }
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof a;
    SOCKET s = INVALID_SOCKET;
    Hello hello{};
    const uint64_t cookie = NewCookie();
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
        char command[MAX_PATH * 2 + 64];
        snprintf(command, sizeof command, "\"%s\" %u %016llx", path.c_str(), ntohs(a.sin_port),
                 static_cast<unsigned long long>(cookie));
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        // Wine starts a Unix executable without giving back handles.
        if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                           &pi)) {
            if (pi.hProcess)
                CloseHandle(pi.hProcess);
            if (pi.hThread)
                CloseHandle(pi.hThread);
            const DWORD deadline = GetTickCount() + kStartMs;
            if (WaitReadable(listener, kStartMs))
                s = accept(listener, nullptr, nullptr);
            // Anyone on this machine could connect: only the bridge knows the cookie.
            if (s != INVALID_SOCKET && (!ReceiveAll(s, &hello, sizeof hello, deadline) ||
                                        hello.magic != kHelloMagic || hello.cookie != cookie)) {
                closesocket(s);
                s = INVALID_SOCKET;
            }
        } else {
            Debug("cannot start the bridge");
        }
    }
    closesocket(listener);
    if (s == INVALID_SOCKET)
        return false;
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    std::lock_guard<std::mutex> lock(sock_);
    socket_ = static_cast<uintptr_t>(s);
    pid_ = hello.pid;
    receiveTimeoutMs_ = 0;
    return true;
}

// One request out and its reply back: one send and two reads, since every
// socket call costs a round to Wine's server.
bool BridgeLink::Exchange(const BridgeRequest& rq, BridgeReply& reply) {
    RequestHeader h{};
    h.magic = kRequestMagic;
    h.cdbLength = rq.cdbLength;
    h.direction = rq.direction;
    h.checkLun = rq.checkLun ? 1 : 0;
    h.lun = rq.lun;
    h.transferLength =
        rq.direction == kOut ? static_cast<uint32_t>(rq.dataOut.size()) : rq.transferLength;
    h.timeoutMs = rq.timeoutMs;
    h.portalLength = static_cast<uint16_t>(rq.portal.size());
    h.targetLength = static_cast<uint16_t>(rq.target.size());
    memcpy(h.cdb, rq.cdb, sizeof h.cdb);
    std::vector<char> out(sizeof h + rq.portal.size() + rq.target.size() + rq.dataOut.size());
    char* at = out.data();
    at = std::copy(reinterpret_cast<const char*>(&h), reinterpret_cast<const char*>(&h + 1), at);
    at = std::copy(rq.portal.begin(), rq.portal.end(), at);
    at = std::copy(rq.target.begin(), rq.target.end(), at);
    std::copy(rq.dataOut.begin(), rq.dataOut.end(), at);
    auto s = static_cast<SOCKET>(socket_);
    // Every read waits at most the request's time and a margin: the bridge
    // keeps that time itself, this only guards against a bridge that hangs.
    const DWORD wait = rq.timeoutMs + kReplyMarginMs;
    if (wait != receiveTimeoutMs_ &&
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait) ==
            0)
        receiveTimeoutMs_ = wait;
    if (!SendAll(s, out.data(), out.size()))
        return false;
    ReplyHeader r{};
    if (!ReceiveBlocking(s, &r, sizeof r) || r.magic != kReplyMagic || r.senseLength > kMaxSense ||
        r.dataLength > rq.transferLength)
        return false;
    std::vector<uint8_t> rest(size_t{r.senseLength} + r.dataLength);
    if (!ReceiveBlocking(s, rest.data(), rest.size()))
        return false;
    reply.sense.assign(rest.begin(), rest.begin() + r.senseLength);
    reply.dataIn.assign(rest.begin() + r.senseLength, rest.end());
    reply.result = r.result;
    reply.status = r.status;
    reply.residual = r.residual;
    return true;
}

BridgeReply BridgeLink::Run(const BridgeRequest& rq) {
    std::lock_guard<std::mutex> lock(run_);
    BridgeReply reply;
    if (rq.portal.size() > kMaxPortal || rq.target.size() > kMaxTargetName ||
        rq.transferLength > kMaxTransfer || rq.dataOut.size() > kMaxTransfer) {
        reply.result = kRefused;
        return reply;
    }
    if (socket_ == kNoSocket && !Start()) {
        reply.result = kUnreachable; // no bridge: nothing can be reached
        return reply;
    }
    if (!Exchange(rq, reply)) {
        // The bridge is gone, or its stream can no longer be trusted: the
        // next request starts a new one.
        Debug("connection lost");
        Drop();
        reply = BridgeReply{};
        reply.result = kLost;
    }
    return reply;
}

bool BridgeLink::Kill(DWORD waitMs) {
    std::lock_guard<std::mutex> lock(run_);
    if (socket_ == kNoSocket || pid_ == 0)
        return false;
    char command[64];
    snprintf(command, sizeof command, "/bin/kill -KILL %u", pid_);
    std::string windows = ToWindowsPath("/bin/kill") + (command + strlen("/bin/kill"));
    std::vector<char> line(windows.begin(), windows.end());
    line.push_back(0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
    // The bridge's end closes its side: the socket then reads as ended.
    // Peeking leaves the connection as it is for the next request to find.
    auto s = static_cast<SOCKET>(socket_);
    char byte;
    return WaitReadable(s, waitMs) && recv(s, &byte, 1, MSG_PEEK) <= 0;
}

} // namespace qvx::emu
