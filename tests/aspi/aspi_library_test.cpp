// The emulated wnaspi32.dll, driven with the program's own request blocks.
#include "aspitest.h"

#include <thread>
#include <tuple>
#include <vector>

using namespace aspitest;

namespace {

// Default machine: HA 0 the Kestrail (16 targets), HA 1 the narrow LQ450
// whose empty ids time out; target 3 on HA 0 is a SyQuest disk that takes
// no modelled time, so its commands complete inside the call.
constexpr BYTE kSyQuest = 3;
// faults.ini targets.
constexpr BYTE kNotReady = 0, kHardwareError = 2, kHangAbortOk = 9, kHangNoAbort = 10,
               kUnderrun = 11, kReadErrors = 12, kSlow = 15;

uint32_t Be(const BYTE* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

std::string Text(const BYTE* bytes, size_t n) {
    return std::string(reinterpret_cast<const char*>(bytes),
                       strnlen(reinterpret_cast<const char*>(bytes), n));
}

// Sense key, ASC and ASCQ of a finished block.
std::tuple<int, int, int> Sense(const SRB_ExecSCSICmd& srb) {
    return {srb.SenseArea[2] & 0x0F, srb.SenseArea[12], srb.SenseArea[13]};
}

SRB_HAInquiry Inquiry(Library& aspi, BYTE ha) {
    SRB_HAInquiry srb = {};
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = ha;
    EXPECT_EQ(aspi.send(&srb), srb.SRB_Status);
    return srb;
}

class AspiLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(aspi.ok()) << "wnaspi32.dll with the test hook did not load";
        ASSERT_TRUE(aspi.Use("default.ini"));
    }
    // The status SendASPI32Command returns for any request block.
    template <typename Srb> int Send(Srb& srb) {
        return static_cast<int>(aspi.send(&srb));
    }
    Library aspi;
};

TEST_F(AspiLibraryTest, SupportInfoAdapterInquiryAndDeviceTypeFollowTheMachine) {
    EXPECT_EQ(aspi.info(), 0x0102u); // ready, two adapters (the IDE port is hidden)
    SRB_HAInquiry a0 = Inquiry(aspi, 0), a1 = Inquiry(aspi, 1);
    EXPECT_EQ(std::make_tuple(a0.SRB_Status, a0.HA_Count, a0.HA_SCSI_ID, a0.HA_Unique[3]),
              std::make_tuple(SS_COMP, 2, 7, 16));
    EXPECT_EQ(Text(a0.HA_ManagerId, 16), "ASPI for WIN32");
    EXPECT_EQ(Text(a0.HA_Identifier, 16), "KESTRAIL");
    EXPECT_EQ(std::make_tuple(a1.SRB_Status, Text(a1.HA_Identifier, 16), a1.HA_Unique[3]),
              std::make_tuple(SS_COMP, "LQ450", 8));
    EXPECT_EQ(Inquiry(aspi, 2).SRB_Status, SS_INVALID_HA);
    struct {
        BYTE cmd, status, ha, flags;
        DWORD rsvd;
        BYTE target, lun, type, rsvd1;
    } type = {SC_GET_DEV_TYPE, 0, 0, 0, 0, 5, 0, 0xFF, 0};
    EXPECT_EQ(Send(type), SS_COMP);
    EXPECT_EQ(type.type, 0x05);
    type.target = 6;
    EXPECT_EQ(Send(type), SS_NO_DEVICE);

    ASSERT_TRUE(aspi.Use("no-adapters.ini"));
    EXPECT_EQ(aspi.info(), 0xE800u);
    ASSERT_TRUE(aspi.Use("aspi-unavailable.ini"));
    EXPECT_EQ(aspi.info(), 0xE401u); // E4h with the count, so the program warns and goes on
    ASSERT_TRUE(aspi.Use("test-zero-adapters.ini"));
    EXPECT_EQ(aspi.info(), 0x0100u);
    ASSERT_TRUE(aspi.Use("nt-no-aspi.ini"));
    EXPECT_EQ(aspi.info() >> 8, static_cast<DWORD>(SS_NO_ASPI));
    // A broken or missing file is refused and the machine before it stays.
    EXPECT_FALSE(aspi.Use("test-bad.ini"));
    EXPECT_FALSE(aspi.load((std::string(QVX_SOURCE_DIR) + "/no/such/machine.ini").c_str()));
    EXPECT_EQ(aspi.info() >> 8, static_cast<DWORD>(SS_NO_ASPI));
}

TEST_F(AspiLibraryTest, RequestErrorsAreReportedInTheBlock) {
    EXPECT_EQ(aspi.send(nullptr), static_cast<DWORD>(SS_INVALID_SRB));
    SRB_Header bad = {0x7F, 0, 0, 0, 0};
    EXPECT_EQ(Send(bad), SS_INVALID_CMD);
    EXPECT_EQ(bad.SRB_Status, SS_INVALID_CMD);

    auto noHa = Exec(2, 0, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(noHa), SS_INVALID_HA);
    EXPECT_EQ(noHa.SRB_Status, SS_INVALID_HA);
    auto absent = Exec(0, 6, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(absent), SS_NO_DEVICE);
    auto timedOut = Exec(1, 0, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(timedOut), SS_ERR);
    EXPECT_EQ(timedOut.SRB_HaStat, HASTAT_SEL_TO);

    BYTE data[16];
    auto noCdb = Exec(0, kSyQuest, {});
    auto bothWays = Exec(0, kSyQuest, {0x12, 0, 0, 0, 16, 0}, SRB_DIR_IN | SRB_DIR_OUT, data, 16);
    auto noBuffer = Exec(0, kSyQuest, {0x12, 0, 0, 0, 16, 0}, SRB_DIR_IN, nullptr, 16);
    for (auto* srb : {&noCdb, &bothWays, &noBuffer})
        EXPECT_EQ(Send(*srb), SS_INVALID_SRB);
}

TEST_F(AspiLibraryTest, IdentityCommandsCompleteDuringTheCall) {
    BYTE data[256] = {};
    auto inquiry = Exec(0, kSyQuest, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, data, 96);
    EXPECT_EQ(Send(inquiry), SS_COMP);
    EXPECT_EQ(inquiry.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(std::make_tuple(data[0], data[1] & 0x80), std::make_tuple(0x00, 0x80)); // removable
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 24), "SYQUEST SQ5200C         ");

    auto serial = Exec(0, kSyQuest, {0x12, 1, 0x80, 0, 0xFF, 0},
                       SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT, data, 255);
    EXPECT_EQ(Send(serial), SS_COMP);
    EXPECT_EQ(Be(data, 4), 0x00800008u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 4), 8), "S52C0091");
    EXPECT_EQ(serial.SRB_BufLen, 255u - 12u); // residual: 12 bytes moved

    auto capacity = Exec(0, kSyQuest, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SRB_DIR_IN, data, 8);
    EXPECT_EQ(Send(capacity), SS_COMP);
    EXPECT_EQ(std::make_tuple(Be(data, 4), Be(data + 4, 4)), std::make_tuple(409599u, 512u));

    auto geometry = Exec(0, kSyQuest, {0x1A, 8, 4, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(Send(geometry), SS_COMP);
    EXPECT_EQ(std::make_tuple(data[4] & 0x3F, Be(data + 24, 2)), std::make_tuple(0x04, 3600u));
}

TEST_F(AspiLibraryTest, SlowRequestsEndOnTheWorkerAndAPollingLoopSeesThem) {
    // The Quantum on HA 0 target 0 takes modelled time: pending at return.
    BYTE data[256] = {};
    auto caching = Exec(0, 0, {0x1A, 8, 8, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(Send(caching), SS_PENDING);
    ASSERT_EQ(SendAndWait(aspi.send, caching), SS_COMP);
    EXPECT_EQ(std::make_tuple(data[4] & 0x3F, data[6] & 0x05), std::make_tuple(0x08, 0x04));

    // One block after the other on another thread, as the program's scan sends
    // them: each must end although the worker is already waiting for nothing,
    // and everything written before the status must be visible with it.
    ASSERT_TRUE(aspi.Use("faults.ini"));
    for (int round = 0; round < 3; ++round) {
        BYTE inq[96] = {};
        auto inquiry = Exec(0, kSlow, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, inq, 96);
        EXPECT_EQ(Send(inquiry), SS_PENDING);
        bool seen = false;
        std::thread([&] {
            DWORD start = GetTickCount();
            while (Status(inquiry) == SS_PENDING && GetTickCount() - start < 5000) {
            }
            seen = Status(inquiry) == SS_COMP && memcmp(inq + 8, "FAULTY  SLOW", 12) == 0;
        }).join();
        EXPECT_TRUE(seen) << "round " << round;
    }
}

TEST_F(AspiLibraryTest, BufferTestWritesAndReadsThePattern) {
    BYTE pattern[512], back[512] = {};
    for (int i = 0; i < 512; ++i)
        pattern[i] = (i % 2) ? 0x55 : 0xAA;
    auto write = Exec(0, kSyQuest, {0x3B, 2, 0, 0, 0, 0, 0, 2, 0, 0}, SRB_DIR_OUT, pattern, 512);
    EXPECT_EQ(Send(write), SS_COMP);
    auto read = Exec(0, kSyQuest, {0x3C, 2, 0, 0, 0, 0, 0, 2, 0, 0}, SRB_DIR_IN, back, 512);
    EXPECT_EQ(Send(read), SS_COMP);
    EXPECT_EQ(memcmp(back + 4, pattern + 4, 508), 0);

    BYTE descriptor[8] = {};
    auto desc = Exec(0, kSyQuest, {0x3C, 3, 0, 0, 0, 0, 0, 0, 8, 0}, SRB_DIR_IN, descriptor, 8);
    EXPECT_EQ(Send(desc), SS_COMP);
    EXPECT_EQ(Be(descriptor + 1, 3), 65536u);

    // The ZIP drive has no buffer memory: ILLEGAL REQUEST in the sense area.
    auto zip = Exec(0, 2, {0x3C, 2, 0, 0, 0, 0, 0, 2, 0, 0}, SRB_DIR_IN, back, 512);
    ASSERT_EQ(SendAndWait(aspi.send, zip), SS_ERR);
    EXPECT_EQ(zip.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(std::get<0>(Sense(zip)), 0x05);
}

TEST_F(AspiLibraryTest, EventNotifiedSeekAndReadSignalTheEvent) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto seek = Exec(0, kSyQuest, {0x0B, 0, 0, 0, 0, 0}, SRB_EVENT_NOTIFY);
    seek.SRB_PostProc = event;
    EXPECT_EQ(Send(seek), SS_COMP);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0); // set during the call too

    // On the slow disk the read ends on the worker thread.
    ASSERT_TRUE(aspi.Use("faults.ini"));
    std::vector<BYTE> data(1024, 0xEE);
    auto read = Exec(0, kSlow, {0x28, 0, 0, 0, 0, 5, 0, 0, 2, 0}, SRB_DIR_IN | SRB_EVENT_NOTIFY,
                     data.data(), 1024);
    read.SRB_PostProc = event;
    EXPECT_EQ(Send(read), SS_PENDING);
    ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(read.SRB_Status, SS_COMP);
    EXPECT_EQ(std::make_tuple(Be(&data[0], 4), Be(&data[512], 4)), std::make_tuple(5u, 6u));
    CloseHandle(event);
}

TEST_F(AspiLibraryTest, StatusAndSenseOfFailingDevices) {
    ASSERT_TRUE(aspi.Use("faults.ini"));
    auto tur = [&](BYTE target) {
        auto srb = Exec(0, target, {0, 0, 0, 0, 0, 0});
        memset(srb.SenseArea, 0xCC, sizeof srb.SenseArea);
        SendAndWait(aspi.send, srb);
        return srb;
    };
    auto hw = tur(kHardwareError);
    EXPECT_EQ(std::make_tuple(hw.SRB_Status, hw.SRB_TargStat, hw.SenseArea[0]),
              std::make_tuple(SS_ERR, STATUS_CHKCOND, 0x70));
    EXPECT_EQ(Sense(hw), std::make_tuple(0x04, 0x40, 0x00));
    EXPECT_EQ(hw.SenseArea[14] | hw.SenseArea[15] << 8, 0xCCCC); // SRB_SenseLen (14) bytes only
    EXPECT_EQ(Sense(tur(kNotReady)), std::make_tuple(0x02, 0x04, 0x01));

    BYTE data[512];
    auto serial = Exec(0, kUnderrun, {0x12, 1, 0x80, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(SendAndWait(aspi.send, serial), SS_COMP);
    EXPECT_EQ(serial.SRB_HaStat, HASTAT_DO_DU);
    auto bad = Exec(0, kReadErrors, {0x28, 0, 0, 0, 0x03, 0xE8, 0, 0, 1, 0}, SRB_DIR_IN, data, 512);
    EXPECT_EQ(SendAndWait(aspi.send, bad), SS_ERR);
    EXPECT_EQ(Sense(bad), std::make_tuple(0x03, 0x11, 0));
}

TEST_F(AspiLibraryTest, HungRequestsTheirAbortAndDeviceReset) {
    ASSERT_TRUE(aspi.Use("faults.ini"));
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto hung = Exec(0, kHangAbortOk, {0, 0, 0, 0, 0, 0}, SRB_EVENT_NOTIFY);
    hung.SRB_PostProc = event;
    EXPECT_EQ(Send(hung), SS_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(Status(hung), SS_PENDING);

    SRB_Abort abort = {SC_ABORT_SRB, 0, 0, 0, 0, &hung};
    EXPECT_EQ(Send(abort), SS_COMP);
    EXPECT_EQ(abort.SRB_Status, SS_COMP);
    EXPECT_EQ(Status(hung), SS_ABORTED);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    // A refused abort leaves the request pending; the program then reuses its
    // one block for the next command, which must complete normally.
    BYTE data[256];
    hung = Exec(0, kHangNoAbort, {0x1A, 8, 8, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(Send(hung), SS_PENDING);
    EXPECT_EQ(Send(abort), SS_ABORT_FAIL);
    EXPECT_EQ(Status(hung), SS_PENDING);
    hung = Exec(0, kHangNoAbort, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(SendAndWait(aspi.send, hung), SS_COMP);
    EXPECT_EQ(Send(abort), SS_COMP);
    EXPECT_EQ(Status(hung), SS_COMP);

    // A device reset ends a hung request as aborted.
    hung = Exec(0, kHangAbortOk, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(hung), SS_PENDING);
    SRB_ExecSCSICmd reset = Exec(0, kHangAbortOk, {});
    reset.SRB_Cmd = SC_RESET_DEV;
    EXPECT_EQ(Send(reset), SS_COMP);
    EXPECT_EQ(Status(hung), SS_ABORTED);
    CloseHandle(event);
}

TEST(AspiLibraryUnload, ReplacingTheMachineOrUnloadingLeavesRequestsPending) {
    // Each round leaves one request pending across a change of machine and
    // another on the busy worker thread as the library is unloaded under it;
    // a worker left behind would crash this process. A request the worker
    // finished before its machine went (this thread held up for the slow
    // device's 20 ms) keeps its status: nothing may write a block afterwards.
    static BYTE data[40][96];
    static SRB_ExecSCSICmd blocks[40];
    BYTE whenGone[40];
    int pendingWhenGone = 0;
    for (int i = 0; i < 40; i += 2) {
        Library aspi;
        ASSERT_TRUE(aspi.ok() && aspi.Use("faults.ini"));
        for (int k = i; k < i + 2; ++k) {
            blocks[k] = Exec(0, kSlow, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, data[k], 96);
            EXPECT_EQ(aspi.send(&blocks[k]), static_cast<DWORD>(SS_PENDING));
            if (k == i) {
                ASSERT_TRUE(aspi.Use("faults.ini"));
                whenGone[k] = Status(blocks[k]);
            }
        }
        aspi.Free();
        whenGone[i + 1] = Status(blocks[i + 1]);
        pendingWhenGone += (whenGone[i] == SS_PENDING) + (whenGone[i + 1] == SS_PENDING);
    }
    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
    EXPECT_GT(pendingWhenGone, 0) << "no request was still pending when its machine went";
    Sleep(200); // ten times the slow device's modelled time
    for (int k = 0; k < 40; ++k)
        EXPECT_EQ(Status(blocks[k]), whenGone[k]) << "request " << k;

    // Loaded again, the library finds its machine through QVX_MACHINE.
    SetEnvironmentVariableA("QVX_MACHINE", Machine("win95.ini").c_str());
    Library again;
    ASSERT_TRUE(again.ok());
    DWORD info = again.info(); // the machine is read on first use
    SetEnvironmentVariableA("QVX_MACHINE", nullptr);
    EXPECT_EQ(info, 0x0103u);
    EXPECT_EQ(Text(Inquiry(again, 1).HA_Identifier, 16), "ESDI_506");
}

} // namespace
