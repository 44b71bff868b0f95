// The emulated wnaspi32.dll over a real iSCSI target (tgt, started around
// this executable by scripts/tgt run): how the target's answers reach the
// request blocks, the life of such a request (pending, notified, aborted),
// and a bridge or target that is gone.
#include <winsock2.h>

#include "qvxemu.h"
#include "wnaspi32.h"

#include "support/emuaspi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr BYTE kIn = SRB_DIR_IN, kOut = SRB_DIR_OUT, kResidual = SRB_ENABLE_RESIDUAL_COUNT;
constexpr char kTur[] = "00 00 00 00 00 00";
// Long enough for any answer of a target on this machine, never reached
// unless the library loses a request.
constexpr DWORD kNeverMs = 30000;

// wnaspi32.dll loaded by name, as the program loads it.
class Library {
    std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module_{
        LoadLibraryA("wnaspi32.dll"), FreeLibrary};
    template <typename F> F Proc(const char* name) const {
        FARPROC p = module_ ? GetProcAddress(module_.get(), name) : nullptr;
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
    }

  public:
    SendASPI32CommandFn send = Proc<SendASPI32CommandFn>("SendASPI32Command");
    QvxEmuLoadMachineFn load = Proc<QvxEmuLoadMachineFn>("QvxEmuLoadMachine");
    bool Use(const char* machine) {
        std::string path = std::string(QVX_ISCSI_MACHINES) + "/" + machine;
        return module_ && send && load && load(path.c_str());
    }
};

// A request as the program fills it, with an event to tell its end.
struct Request {
    SRB_ExecSCSICmd srb = {};
    std::vector<BYTE> buffer;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD sent = 0; // what SendASPI32Command returned

    Request(BYTE ha, BYTE target, const char* cdb, BYTE flags = 0, DWORD length = 0)
        : buffer(length, 0xCC) {
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = ha;
        srb.SRB_Flags = flags | SRB_EVENT_NOTIFY;
        srb.SRB_Target = target;
        srb.SRB_BufLen = length;
        srb.SRB_BufPointer = length ? buffer.data() : nullptr;
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_PostProc = event;
        std::istringstream in(cdb);
        for (unsigned byte; srb.SRB_CDBLen < sizeof srb.CDBByte && in >> std::hex >> byte;)
            srb.CDBByte[srb.SRB_CDBLen++] = static_cast<BYTE>(byte);
        memset(srb.SenseArea, 0xCC, sizeof srb.SenseArea);
    }
    ~Request() {
        CloseHandle(event);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    BYTE Status() const {
        return *static_cast<volatile const BYTE*>(&srb.SRB_Status);
    }
    // Sends it and waits for the event; false when it never came.
    bool Run(const Library& aspi) {
        sent = aspi.send(&srb);
        return WaitForSingleObject(event, kNeverMs) == WAIT_OBJECT_0;
    }
    // "sent: status hastat targstat len N", the sense of a check condition
    // and the first data bytes.
    std::string Ended(size_t bytes = 4) const {
        char text[160];
        snprintf(text, sizeof text, "%02lX: %02X %02X %02X len %lu", sent, Status(), srb.SRB_HaStat,
                 srb.SRB_TargStat, srb.SRB_BufLen);
        std::string s = text;
        if (srb.SRB_TargStat == STATUS_CHKCOND) {
            snprintf(text, sizeof text, " sense %02X %02X/%02X/%02X", srb.SenseArea[0],
                     srb.SenseArea[2], srb.SenseArea[12], srb.SenseArea[13]);
            s += text;
        }
        for (size_t i = 0; i < bytes && i < buffer.size(); ++i) {
            snprintf(text, sizeof text, "%s%02X", i ? " " : " | ", buffer[i]);
            s += text;
        }
        return s;
    }
};

// A loopback port that takes connections and never answers: the system
// completes the handshake for the backlog; nobody accepts or reads.
class SilentPortal {
  public:
    SilentPortal() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof a;
        if (bind(socket_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            listen(socket_, 4) == 0 &&
            getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            SetEnvironmentVariableA("QVX_SILENT_PORT", std::to_string(ntohs(a.sin_port)).c_str());
    }
    ~SilentPortal() {
        closesocket(socket_);
        WSACleanup();
    }
    SilentPortal(const SilentPortal&) = delete;
    SilentPortal& operator=(const SilentPortal&) = delete;

  private:
    SOCKET socket_;
};

class IscsiLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(GetEnvironmentVariableA("QVX_TGT_PORT", nullptr, 0), 0u)
            << "run under scripts/tgt run";
        // A new machine: a new bridge, whose sessions start afresh.
        ASSERT_TRUE(aspi.Use("units.ini"));
    }
    std::string Run(BYTE ha, BYTE target, const char* cdb, BYTE flags = 0, DWORD length = 0) {
        Request r(ha, target, cdb, flags, length);
        return r.Run(aspi) ? r.Ended() : "never ended";
    }
    SilentPortal silent;
    Library aspi;
};

struct Case {
    const char* what;
    BYTE ha, target;
    const char* cdb;
    BYTE flags;
    DWORD length;
    const char* ended;
};

TEST_F(IscsiLibraryTest, TheTargetsAnswersReachTheBlockAsAnAdapterReportsThem) {
    // In order: the target keeps each unit's state from row to row. Every
    // request comes back pending (00) and ends from the library's thread.
    const Case cases[] = {
        {"a new session: power-on reset", 0, 1, kTur, 0, 0, "00: 04 00 02 len 0 sense 70 06/29/00"},
        {"then ready", 0, 1, kTur, 0, 0, "00: 01 00 00 len 0"},
        {"66 of 96 bytes: an underrun on this adapter", 0, 1, "12 00 00 00 60 00", kIn | kResidual,
         96, "00: 01 12 00 len 30 | 00 00 05 12"},
        {"4 GiB of 512-byte blocks", 0, 1, "25 00 00 00 00 00 00 00 00 00", kIn | kResidual, 8,
         "00: 01 00 00 len 0 | 00 7F FF FF"},
        {"the last block", 0, 1, "28 00 00 7F FF FF 00 00 01 00", kIn | kResidual, 512,
         "00: 01 00 00 len 0 | 00 00 00 00"},
        {"past the end", 0, 1, "28 00 00 80 00 00 00 00 01 00", kIn | kResidual, 512,
         "00: 04 00 02 len 512 sense 70 05/21/00 | CC CC CC CC"},
        {"caching page: write cache on", 0, 1, "1A 08 08 00 FF 00", kIn, 255,
         "00: 01 12 00 len 255 | 17 00 10 00"},
        {"no rigid disk page", 0, 1, "1A 08 04 00 FF 00", kIn, 255,
         "00: 04 00 02 len 255 sense 70 05/24/00 | CC CC CC CC"},
        {"no buffer commands", 0, 1, "3C 03 00 00 00 00 00 00 08 00", kIn, 8,
         "00: 04 00 02 len 8 sense 70 05/20/00 | CC CC CC CC"},
        {"serial number in 36 characters", 0, 1, "12 01 80 00 FF 00", kIn | kResidual, 255,
         "00: 01 12 00 len 215 | 00 80 00 24"},
        {"no SEEK(6)", 0, 1, "0B 00 00 00 00 00", 0, 0, "00: 04 00 02 len 0 sense 70 05/20/00"},
        {"a unit the target lacks: selection time-out", 0, 4, kTur, 0, 0, "00: 04 11 00 len 0"},
        {"the adapter's own id", 0, 7, kTur, 0, 0, "82: 82 00 00 len 0"},
        {"the CD-ROM", 0, 2, kTur, 0, 0, "00: 04 00 02 len 0 sense 70 06/29/00"},
        {"175 blocks of 2048 bytes", 0, 2, "25 00 00 00 00 00 00 00 00 00", kIn, 8,
         "00: 01 00 00 len 8 | 00 00 00 AE"},
        {"past the end of the disc: a medium error", 0, 2, "28 00 00 00 00 AF 00 00 01 00", kIn,
         2048, "00: 04 00 02 len 2048 sense 70 03/11/00 | CC CC CC CC"},
        {"the tape", 0, 3, kTur, 0, 0, "00: 04 00 02 len 0 sense 70 06/29/00"},
        {"a tape has no capacity", 0, 3, "25 00 00 00 00 00 00 00 00 00", kIn, 8,
         "00: 04 00 02 len 8 sense 70 05/20/00 | CC CC CC CC"},
        // One session per target, whichever adapter names it.
        {"the disk by its section: same session", 1, 0, kTur, 0, 0, "00: 01 00 00 len 0"},
        {"short: plain success on this adapter", 1, 0, "12 00 00 00 60 00", kIn | kResidual, 96,
         "00: 01 00 00 len 30 | 00 00 05 12"},
        {"a modelled disk beside it", 1, 1, kTur, 0, 0, "01: 01 00 00 len 0"},
        {"nothing listens at the portal", 1, 2, kTur, 0, 0, "00: 04 11 00 len 0"},
        {"the target refuses the login", 1, 3, kTur, 0, 0, "00: 04 11 00 len 0"},
        {"the login is never answered", 1, 4, kTur, 0, 0, "00: 04 11 00 len 0"},
        {"an empty id of an adapter that reports no device", 2, 4, kTur, 0, 0,
         "00: 82 00 00 len 0"},
        {"a unit through the third adapter", 2, 2, kTur, 0, 0, "00: 01 00 00 len 0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run(c.ha, c.target, c.cdb, c.flags, c.length), c.ended) << c.what;
}

TEST_F(IscsiLibraryTest, DataGoesOutAndComesBack) {
    Run(0, 1, kTur); // the power-on reset
    Request write(0, 1, "2A 00 00 00 03 E8 00 00 01 00", kOut, 512);
    for (size_t i = 0; i < write.buffer.size(); ++i)
        write.buffer[i] = static_cast<BYTE>(i * 7 + 3);
    ASSERT_TRUE(write.Run(aspi));
    EXPECT_EQ(write.Ended(0), "00: 01 00 00 len 512");
    Request read(0, 1, "28 00 00 00 03 E8 00 00 01 00", kIn, 512);
    ASSERT_TRUE(read.Run(aspi));
    EXPECT_EQ(read.Ended(0), "00: 01 00 00 len 512");
    EXPECT_EQ(read.buffer, write.buffer);
}

TEST_F(IscsiLibraryTest, AnAbortedRequestIsNeverWrittenAfterwards) {
    qvx::test::HoldWorker(true); // nothing is carried to the target
    Request held(0, 1, "12 00 00 00 60 00", kIn, 96);
    held.sent = aspi.send(&held.srb);
    EXPECT_EQ(held.sent, SS_PENDING);
    SRB_Abort abort = {};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = 0;
    abort.SRB_ToAbort = &held.srb;
    EXPECT_EQ(aspi.send(&abort), SS_COMP);
    EXPECT_EQ(held.Ended(2), "00: 02 00 00 len 96 | CC CC");
    qvx::test::HoldWorker(false);
    // The next request goes ahead; the aborted one stays as it was.
    EXPECT_EQ(Run(0, 1, kTur), "00: 04 00 02 len 0 sense 70 06/29/00");
    EXPECT_EQ(held.Ended(2), "00: 02 00 00 len 96 | CC CC");
    std::vector<qvx::test::JournalRecord> journal = qvx::test::ReadJournal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].line, "0:1:0 12 00 00 00 60 00 in 96 flags 48");
    EXPECT_TRUE(journal[0].waitedMs.has_value()) << "noted as aborted";
}

TEST_F(IscsiLibraryTest, ALostBridgeFailsTheRequestUnderWayAndTheNextStartsANewOne) {
    EXPECT_FALSE(qvx::test::KillBridge()) << "no bridge before the first request";
    struct Step {
        const char* what;
        const char* bridge; // QVX_ISCSI_BRIDGE, or null for the one beside the library
        bool kill;          // kill the bridge first
        const char* ended;
    } const steps[] = {
        {"a new bridge", nullptr, false, "00: 04 00 02 len 0 sense 70 06/29/00"},
        {"killed: the next request meets the loss", nullptr, true, "00: 04 13 00 len 0"},
        {"a new bridge, a new session", nullptr, false, "00: 04 00 02 len 0 sense 70 06/29/00"},
        {"killed again", nullptr, true, "00: 04 13 00 len 0"},
        {"no bridge to start: selection time-out", "/nonexistent/qvx-iscsi-bridge", false,
         "00: 04 11 00 len 0"},
        {"the bridge back", nullptr, false, "00: 04 00 02 len 0 sense 70 06/29/00"},
        {"and working", nullptr, false, "00: 01 00 00 len 0"},
    };
    for (const Step& s : steps) {
        SetEnvironmentVariableA("QVX_ISCSI_BRIDGE", s.bridge);
        if (s.kill) {
            EXPECT_TRUE(qvx::test::KillBridge()) << s.what;
        }
        EXPECT_EQ(Run(0, 1, kTur), s.ended) << s.what;
    }
    SetEnvironmentVariableA("QVX_ISCSI_BRIDGE", nullptr);
}

} // namespace
