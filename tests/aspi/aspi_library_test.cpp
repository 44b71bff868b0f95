// The emulated wnaspi32.dll, driven with the program's own request blocks.
#include "aspitest.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace aspitest;

namespace {

// Default machine: HA 0 the Kestrail (16 targets), HA 1 the narrow LQ450
// whose empty ids time out; target 3 on HA 0 is a SyQuest disk that takes
// no modelled time, so its commands complete inside the call.
constexpr BYTE kSyQuest = 3;
// faults.ini targets.
constexpr BYTE kNotReady = 0, kUnitAttention = 1, kHardwareError = 2, kHangAbortOk = 9,
               kHangNoAbort = 10, kUnderrun = 11, kReadErrors = 12, kSenseValid = 13, kSlow = 15;

class AspiLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(aspi.ok()) << "wnaspi32.dll with the test hook did not load";
        ASSERT_TRUE(aspi.Use("default.ini"));
    }
    BYTE Send(SRB_ExecSCSICmd& srb) {
        return static_cast<BYTE>(aspi.send(&srb));
    }
    Library aspi;
};

SRB_HAInquiry Inquiry(Library& aspi, BYTE ha) {
    SRB_HAInquiry srb;
    memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = ha;
    EXPECT_EQ(aspi.send(&srb), srb.SRB_Status);
    return srb;
}

std::string Field(const BYTE* bytes, size_t n) {
    return std::string(reinterpret_cast<const char*>(bytes),
                       strnlen(reinterpret_cast<const char*>(bytes), n));
}

TEST_F(AspiLibraryTest, SupportInfoFollowsTheMachine) {
    EXPECT_EQ(aspi.info(), 0x0102u); // ready, two adapters (the IDE port is hidden)
    ASSERT_TRUE(aspi.Use("no-adapters.ini"));
    EXPECT_EQ(aspi.info(), 0xE800u);
    ASSERT_TRUE(aspi.Use("aspi-unavailable.ini"));
    EXPECT_EQ(aspi.info(), 0xE401u); // E4h with the count, so the program warns and goes on
    ASSERT_TRUE(aspi.Use("test-zero-adapters.ini"));
    EXPECT_EQ(aspi.info(), 0x0100u);
    ASSERT_TRUE(aspi.Use("nt-no-aspi.ini"));
    EXPECT_EQ(aspi.info() >> 8, static_cast<DWORD>(SS_NO_ASPI));
    // A broken file is refused and the machine before it stays.
    EXPECT_FALSE(aspi.Use("test-bad.ini"));
    EXPECT_FALSE(aspi.load((std::string(QVX_SOURCE_DIR) + "/no/such/machine.ini").c_str()));
    EXPECT_EQ(aspi.info() >> 8, static_cast<DWORD>(SS_NO_ASPI));
}

TEST_F(AspiLibraryTest, HostAdapterInquiryDescribesEachAdapter) {
    SRB_HAInquiry a0 = Inquiry(aspi, 0);
    EXPECT_EQ(a0.SRB_Status, SS_COMP);
    EXPECT_EQ(a0.HA_Count, 2);
    EXPECT_EQ(a0.HA_SCSI_ID, 7);
    EXPECT_EQ(Field(a0.HA_ManagerId, 16), "ASPI for WIN32");
    EXPECT_EQ(Field(a0.HA_Identifier, 16), "KESTRAIL");
    EXPECT_EQ(a0.HA_Unique[3], 16);
    SRB_HAInquiry a1 = Inquiry(aspi, 1);
    EXPECT_EQ(a1.SRB_Status, SS_COMP);
    EXPECT_EQ(Field(a1.HA_Identifier, 16), "LQ450");
    EXPECT_EQ(a1.HA_Unique[3], 8);
    EXPECT_EQ(Inquiry(aspi, 2).SRB_Status, SS_INVALID_HA);
}

TEST_F(AspiLibraryTest, RequestErrorsAreReportedInTheBlock) {
    EXPECT_EQ(aspi.send(nullptr), static_cast<DWORD>(SS_INVALID_SRB));
    SRB_Header bad = {0x7F, 0, 0, 0, 0};
    EXPECT_EQ(aspi.send(&bad), static_cast<DWORD>(SS_INVALID_CMD));
    EXPECT_EQ(bad.SRB_Status, SS_INVALID_CMD);

    auto tur = Exec(2, 0, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(tur), SS_INVALID_HA);
    EXPECT_EQ(tur.SRB_Status, SS_INVALID_HA);
    auto absent = Exec(0, 6, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(absent), SS_NO_DEVICE);
    auto timedOut = Exec(1, 0, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(timedOut), SS_ERR);
    EXPECT_EQ(timedOut.SRB_HaStat, HASTAT_SEL_TO);

    BYTE data[16];
    auto noCdb = Exec(0, kSyQuest, {});
    EXPECT_EQ(Send(noCdb), SS_INVALID_SRB);
    auto bothWays = Exec(0, kSyQuest, {0x12, 0, 0, 0, 16, 0}, SRB_DIR_IN | SRB_DIR_OUT, data, 16);
    EXPECT_EQ(Send(bothWays), SS_INVALID_SRB);
    auto noBuffer = Exec(0, kSyQuest, {0x12, 0, 0, 0, 16, 0}, SRB_DIR_IN, nullptr, 16);
    EXPECT_EQ(Send(noBuffer), SS_INVALID_SRB);
}

TEST_F(AspiLibraryTest, IdentityCommandsCompleteDuringTheCall) {
    BYTE data[256] = {};
    auto inquiry = Exec(0, kSyQuest, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, data, 96);
    EXPECT_EQ(Send(inquiry), SS_COMP);
    EXPECT_EQ(inquiry.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(data[1] & 0x80, 0x80); // removable
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 24), "SYQUEST SQ5200C         ");

    memset(data, 0, sizeof data);
    auto serial = Exec(0, kSyQuest, {0x12, 1, 0x80, 0, 0xFF, 0},
                       SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT, data, 255);
    EXPECT_EQ(Send(serial), SS_COMP);
    EXPECT_EQ(data[1], 0x80);
    ASSERT_EQ(data[3], 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 4), 8), "S52C0091");
    EXPECT_EQ(serial.SRB_BufLen, 255u - 12u); // residual: 12 bytes moved

    memset(data, 0, sizeof data);
    auto capacity = Exec(0, kSyQuest, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SRB_DIR_IN, data, 8);
    EXPECT_EQ(Send(capacity), SS_COMP);
    EXPECT_EQ((data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3]), 409599);
    EXPECT_EQ((data[4] << 24 | data[5] << 16 | data[6] << 8 | data[7]), 512);

    memset(data, 0, sizeof data);
    auto geometry = Exec(0, kSyQuest, {0x1A, 8, 4, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(Send(geometry), SS_COMP);
    EXPECT_EQ(data[4] & 0x3F, 0x04);
    EXPECT_EQ(data[24] << 8 | data[25], 3600);
}

TEST_F(AspiLibraryTest, CachingPageCompletesLaterForASlowDisk) {
    // The Quantum on HA 0 target 0 takes modelled time: pending at return.
    BYTE data[256] = {};
    auto caching = Exec(0, 0, {0x1A, 8, 8, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(Send(caching), SS_PENDING);
    ASSERT_EQ(SendAndWait(aspi.send, caching), SS_COMP);
    EXPECT_EQ(data[4] & 0x3F, 0x08);
    EXPECT_EQ(data[6] & 0x05, 0x04); // WCE set, RCD clear
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
    EXPECT_EQ(descriptor[1] << 16 | descriptor[2] << 8 | descriptor[3], 65536);

    // The ZIP drive has no buffer memory: ILLEGAL REQUEST in the sense area.
    auto zip = Exec(0, 2, {0x3C, 2, 0, 0, 0, 0, 0, 2, 0, 0}, SRB_DIR_IN, back, 512);
    ASSERT_EQ(SendAndWait(aspi.send, zip), SS_ERR);
    EXPECT_EQ(zip.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(zip.SenseArea[2] & 0x0F, 0x05);
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
    EXPECT_EQ((data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3]), 5);
    EXPECT_EQ((data[512] << 24 | data[513] << 16 | data[514] << 8 | data[515]), 6);
    CloseHandle(event);
}

TEST_F(AspiLibraryTest, PendingBlocksAreSeenCompleteByAPollingThread) {
    ASSERT_TRUE(aspi.Use("faults.ini"));
    // One block after the other, as the program's scan sends them: each
    // must end although the worker is already waiting for nothing.
    for (int round = 0; round < 3; ++round) {
        BYTE data[96] = {};
        auto inquiry = Exec(0, kSlow, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, data, 96);
        EXPECT_EQ(Send(inquiry), SS_PENDING);
        std::atomic<int> seen{-1};
        std::thread poller([&] {
            DWORD start = GetTickCount();
            while (Status(inquiry) == SS_PENDING && GetTickCount() - start < 5000) {
            }
            // Everything written before the status must be visible now.
            seen = Status(inquiry) == SS_COMP && memcmp(data + 8, "FAULTY  SLOW", 12) == 0;
        });
        poller.join();
        EXPECT_EQ(seen, 1) << "round " << round;
    }
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
    EXPECT_EQ(hw.SRB_Status, SS_ERR);
    EXPECT_EQ(hw.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(hw.SenseArea[0], 0x70);
    EXPECT_EQ(hw.SenseArea[2] & 0x0F, 0x04);
    EXPECT_EQ(hw.SenseArea[12], 0x40);
    EXPECT_EQ(hw.SenseArea[14], 0xCC); // SRB_SenseLen (14) bytes and no more
    EXPECT_EQ(hw.SenseArea[15], 0xCC);

    EXPECT_EQ(tur(kSenseValid).SenseArea[0], 0xF0);
    EXPECT_EQ(tur(kSenseValid).SenseArea[12], 0x3A);

    auto first = tur(kUnitAttention);
    EXPECT_EQ(first.SenseArea[2] & 0x0F, 0x06);
    EXPECT_EQ(first.SenseArea[12], 0x29);
    EXPECT_EQ(tur(kUnitAttention).SRB_Status, SS_COMP);

    for (int i = 0; i < 3; ++i) {
        auto notReady = tur(kNotReady);
        EXPECT_EQ(notReady.SenseArea[2] & 0x0F, 0x02);
        EXPECT_EQ(notReady.SenseArea[12], 0x04);
        EXPECT_EQ(notReady.SenseArea[13], 0x01);
    }
    EXPECT_EQ(tur(kNotReady).SRB_Status, SS_COMP);

    BYTE data[512];
    auto serial = Exec(0, kUnderrun, {0x12, 1, 0x80, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(SendAndWait(aspi.send, serial), SS_COMP);
    EXPECT_EQ(serial.SRB_HaStat, HASTAT_DO_DU);

    auto bad = Exec(0, kReadErrors, {0x28, 0, 0, 0, 0x03, 0xE8, 0, 0, 1, 0}, SRB_DIR_IN, data, 512);
    EXPECT_EQ(SendAndWait(aspi.send, bad), SS_ERR);
    EXPECT_EQ(bad.SenseArea[2] & 0x0F, 0x03);
    EXPECT_EQ(bad.SenseArea[12], 0x11);
}

TEST_F(AspiLibraryTest, HungRequestAndItsAbort) {
    ASSERT_TRUE(aspi.Use("faults.ini"));
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto hung = Exec(0, kHangAbortOk, {0, 0, 0, 0, 0, 0}, SRB_EVENT_NOTIFY);
    hung.SRB_PostProc = event;
    EXPECT_EQ(Send(hung), SS_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(Status(hung), SS_PENDING);

    SRB_Abort abort = {SC_ABORT_SRB, 0, 0, 0, 0, &hung};
    EXPECT_EQ(aspi.send(&abort), static_cast<DWORD>(SS_COMP));
    EXPECT_EQ(abort.SRB_Status, SS_COMP);
    EXPECT_EQ(Status(hung), SS_ABORTED);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    // Nothing is pending any more: the abort has nothing to do.
    SRB_Abort again = {SC_ABORT_SRB, 0, 0, 0, 0, &hung};
    EXPECT_EQ(aspi.send(&again), static_cast<DWORD>(SS_COMP));
    SRB_Abort badHa = {SC_ABORT_SRB, 0, 5, 0, 0, &hung};
    EXPECT_EQ(aspi.send(&badHa), static_cast<DWORD>(SS_INVALID_HA));
    CloseHandle(event);
}

TEST_F(AspiLibraryTest, RefusedAbortLeavesTheRequestPendingUntilTheBlockIsReused) {
    ASSERT_TRUE(aspi.Use("faults.ini"));
    BYTE data[256];
    auto hung = Exec(0, kHangNoAbort, {0x1A, 8, 8, 0, 0xFF, 0}, SRB_DIR_IN, data, 255);
    EXPECT_EQ(Send(hung), SS_PENDING);
    SRB_Abort abort = {SC_ABORT_SRB, 0, 0, 0, 0, &hung};
    EXPECT_EQ(aspi.send(&abort), static_cast<DWORD>(SS_ABORT_FAIL));
    EXPECT_EQ(Status(hung), SS_PENDING);

    // The program reuses its one block for the next command, which must
    // complete normally; the hung one is forgotten.
    hung = Exec(0, kHangNoAbort, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(SendAndWait(aspi.send, hung), SS_COMP);
    EXPECT_EQ(aspi.send(&abort), static_cast<DWORD>(SS_COMP));
    EXPECT_EQ(Status(hung), SS_COMP);
}

TEST_F(AspiLibraryTest, DeviceTypeAndDeviceReset) {
    struct {
        BYTE cmd, status, ha, flags;
        DWORD rsvd;
        BYTE target, lun, type, rsvd1;
    } type = {SC_GET_DEV_TYPE, 0, 0, 0, 0, 5, 0, 0xFF, 0};
    EXPECT_EQ(aspi.send(&type), static_cast<DWORD>(SS_COMP));
    EXPECT_EQ(type.type, 0x05);
    type.target = 6;
    EXPECT_EQ(aspi.send(&type), static_cast<DWORD>(SS_NO_DEVICE));

    ASSERT_TRUE(aspi.Use("faults.ini"));
    auto hung = Exec(0, kHangAbortOk, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Send(hung), SS_PENDING);
    SRB_ExecSCSICmd reset = Exec(0, kHangAbortOk, {});
    reset.SRB_Cmd = SC_RESET_DEV;
    EXPECT_EQ(aspi.send(&reset), static_cast<DWORD>(SS_COMP));
    EXPECT_EQ(Status(hung), SS_ABORTED);
}

TEST_F(AspiLibraryTest, ReplacingTheMachineOrUnloadingLeavesRequestsPending) {
    ASSERT_TRUE(aspi.Use("faults.ini"));
    BYTE data[96];
    auto first = Exec(0, kSlow, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, data, 96);
    EXPECT_EQ(Send(first), SS_PENDING);
    ASSERT_TRUE(aspi.Use("faults.ini"));
    auto second = Exec(0, kSlow, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, data, 96);
    EXPECT_EQ(Send(second), SS_PENDING);
    aspi.Free();
    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
    Sleep(200); // ten times the slow device's modelled time
    EXPECT_EQ(Status(first), SS_PENDING);
    EXPECT_EQ(Status(second), SS_PENDING);

    // Loaded again, the library finds its machine through QVX_MACHINE.
    SetEnvironmentVariableA("QVX_MACHINE", Machine("win95.ini").c_str());
    Library again;
    ASSERT_TRUE(again.ok());
    DWORD info = again.info(); // the machine is read on first use
    SetEnvironmentVariableA("QVX_MACHINE", nullptr);
    EXPECT_EQ(info, 0x0103u);
    SRB_HAInquiry a1 = Inquiry(again, 1);
    EXPECT_EQ(Field(a1.HA_Identifier, 16), "ESDI_506");
}

TEST(AspiLibraryUnload, UnloadingWithTheWorkerBusyNeverRunsItsCode) {
    // Each round leaves a request pending on the worker thread and unloads
    // the library under it; a worker left behind would crash this process.
    static BYTE data[20][96];
    static SRB_ExecSCSICmd blocks[20];
    for (int round = 0; round < 20; ++round) {
        Library aspi;
        ASSERT_TRUE(aspi.ok());
        ASSERT_TRUE(aspi.Use("faults.ini"));
        blocks[round] = Exec(0, kSlow, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, data[round], 96);
        EXPECT_EQ(aspi.send(&blocks[round]), static_cast<DWORD>(SS_PENDING));
    }
    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
    Sleep(100);
    for (const auto& b : blocks)
        EXPECT_EQ(Status(b), SS_PENDING);
}

} // namespace
