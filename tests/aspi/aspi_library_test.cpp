// The emulated wnaspi32.dll, driven with the program's own request blocks.
#include "aspitest.h"

#include <tlhelp32.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <tuple>

using namespace aspitest;

namespace {

// Targets of adapter 0 of test-bus.ini.
constexpr BYTE kInstant = 0, kSlow = 1, kHardwareError = 2, kHangAbortOk = 3, kHangNoAbort = 4,
               kUnderrun = 5, kBusy = 8;

std::string Text(const BYTE* bytes, size_t n) {
    return std::string(reinterpret_cast<const char*>(bytes),
                       strnlen(reinterpret_cast<const char*>(bytes), n));
}

SRB_HAInquiry Inquiry(Library& aspi, BYTE ha) {
    SRB_HAInquiry srb = {};
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = ha;
    EXPECT_EQ(aspi.send(&srb), srb.SRB_Status);
    return srb;
}

// Threads of this process.
int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t = {};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL more = Thread32First(snapshot, &t); more; more = Thread32Next(snapshot, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}

class AspiLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(aspi.ok()) << "wnaspi32.dll with the test hooks did not load";
        ASSERT_TRUE(aspi.Use("test-bus.ini"));
    }
    Library aspi;
};

TEST_F(AspiLibraryTest, SupportInfoAdapterInquiryAndDeviceTypeFollowTheMachine) {
    SRB_HAInquiry a0 = Inquiry(aspi, 0), a1 = Inquiry(aspi, 1);
    EXPECT_EQ(std::make_tuple(a0.SRB_Status, a0.HA_Count, a0.HA_SCSI_ID, a0.HA_Unique[2],
                              a0.HA_Unique[3], Text(a0.HA_ManagerId, 16)),
              std::make_tuple(SS_COMP, 2, 7, 0x02, 16, "ASPI for WIN32"));
    EXPECT_EQ(std::make_tuple(Text(a0.HA_Identifier, 16), Text(a1.HA_Identifier, 16),
                              a1.HA_Unique[3], Inquiry(aspi, 2).SRB_Status),
              std::make_tuple("KESTRAIL", "LQ450", 8, SS_INVALID_HA));
    SRB_GDEVBlock type = {SC_GET_DEV_TYPE, 0, 0, 0, 0, kUnderrun, 0, 0xFF, 0};
    EXPECT_EQ(aspi.send(&type), DWORD{SS_COMP});
    EXPECT_EQ(type.SRB_DeviceType, 0x05);
    type.SRB_Target = 6;
    EXPECT_EQ(aspi.send(&type), DWORD{SS_NO_DEVICE});

    const std::pair<const char*, DWORD> machines[] = {
        {"test-bus.ini", 0x0102}, // ready, two adapters (the IDE port is hidden)
        {"no-adapters.ini", 0xE800},
        {"aspi-unavailable.ini", 0xE401}, // E4h with the count: the program warns and goes on
        {"test-zero-adapters.ini", 0x0100},
        {"nt-no-aspi.ini", 0xE300}};
    for (const auto& [machine, info] : machines) {
        ASSERT_TRUE(aspi.Use(machine));
        EXPECT_EQ(aspi.info(), info) << machine;
    }
    // A broken or missing file is refused and the machine before it stays.
    EXPECT_FALSE(aspi.Use("test-bad.ini"));
    EXPECT_FALSE(aspi.load((std::string(QVX_SOURCE_DIR) + "/no/such/machine.ini").c_str()));
    EXPECT_EQ(aspi.info(), 0xE300u);
}

// What SendASPI32Command returned, how the block ended ("SRB_Status SRB_HaStat
// SRB_TargStat", SRB_BufLen after it), the sense data of a check condition
// (response code, key/ASC/ASCQ, the two bytes after SRB_SenseLen) and the
// first data bytes.
struct Case {
    BYTE ha, target;
    const char* cdb;
    BYTE flags;
    DWORD length;
    const char* ended;
};

TEST_F(AspiLibraryTest, HowEachRequestEnds) {
    const Case cases[] = {
        {2, 0, "00 00 00 00 00 00", 0, 0, "81: 81 00 00 len 0"},
        {0, kInstant, "", 0, 0, "E0: E0 00 00 len 0"},
        {0, kInstant, "12 00 00 00 04 00", SRB_DIR_IN | SRB_DIR_OUT, 4,
         "E0: E0 00 00 len 4 | 5A 5A 5A 5A"},
        {0, kSlow, "12 00 00 00 60 00", SRB_DIR_IN, 96, "00: 01 00 00 len 96 | 00 00 02 02"},
        {0, kInstant, "3B 02 00 00 00 00 00 00 04 00", SRB_DIR_OUT, 4, "01: 01 00 00 len 4"},
        {0, kInstant, "3C 02 00 00 00 00 00 00 04 00", SRB_DIR_IN, 4,
         "01: 01 00 00 len 4 | 5A 5A 5A 5A"},
        {0, kInstant, "12 01 80 00 FF 00", SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT, 255,
         "01: 01 00 00 len 245 | 00 80 00 06"}, // residual: 10 bytes moved
        {0, kUnderrun, "12 01 80 00 FF 00", SRB_DIR_IN, 255, "01: 01 12 00 len 255 | 05 80 00 04"},
        {0, kHardwareError, "00 00 00 00 00 00", 0, 0,
         "04: 04 00 02 len 0 sense 70 04/40/00 CC CC"},
        {0, kBusy, "00 00 00 00 00 00", 0, 0, "04: 04 00 08 len 0"}, // sense untouched
        // The LQ450 reports a short transfer as an underrun, with the residual.
        {1, 0, "12 00 00 00 60 00", SRB_DIR_IN | SRB_ENABLE_RESIDUAL_COUNT, 96,
         "01: 01 12 00 len 60 | 00 00 02 02"},
    };
    for (const Case& c : cases) {
        static BYTE data[256];
        memset(data, c.flags & SRB_DIR_OUT ? 0x5A : 0x00, sizeof data);
        SRB_ExecSCSICmd srb =
            Exec(c.ha, c.target, c.cdb, c.flags, c.length ? data : nullptr, c.length);
        memset(srb.SenseArea, 0xCC, sizeof srb.SenseArea);
        DWORD returned = aspi.send(&srb);
        WaitFor(srb);
        char ended[160];
        int n = snprintf(ended, sizeof ended, "%02X: %02X %02X %02X len %u",
                         static_cast<unsigned>(returned), srb.SRB_Status, srb.SRB_HaStat,
                         srb.SRB_TargStat, static_cast<unsigned>(srb.SRB_BufLen));
        if (srb.SRB_TargStat == STATUS_CHKCOND || srb.SenseArea[0] != 0xCC) // sense written
            n += snprintf(ended + n, sizeof ended - n, " sense %02X %02X/%02X/%02X %02X %02X",
                          srb.SenseArea[0], srb.SenseArea[2], srb.SenseArea[12], srb.SenseArea[13],
                          srb.SenseArea[14], srb.SenseArea[15]);
        if (c.length && (c.flags & SRB_DIR_IN))
            snprintf(ended + n, sizeof ended - n, " | %02X %02X %02X %02X", data[0], data[1],
                     data[2], data[3]);
        EXPECT_STREQ(ended, c.ended);
    }
    // Blocks refused before they are read.
    EXPECT_EQ(aspi.send(nullptr), DWORD{SS_INVALID_SRB});
    SRB_Header bad = {0x7F, 0, 0, 0, 0};
    EXPECT_EQ(aspi.send(&bad), DWORD{SS_INVALID_CMD});
    EXPECT_EQ(bad.SRB_Status, SS_INVALID_CMD);
    SRB_ExecSCSICmd noBuffer = Exec(0, kInstant, "12 00 00 00 10 00", SRB_DIR_IN, nullptr, 16);
    EXPECT_EQ(aspi.send(&noBuffer), DWORD{SS_INVALID_SRB});
}

TEST_F(AspiLibraryTest, CompletionSetsTheEventAlsoDuringTheCall) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (BYTE target : {kInstant, kSlow}) {
        BYTE data[1024];
        auto read = Exec(0, target, "28 00 00 00 00 05 00 00 02 00", SRB_DIR_IN | SRB_EVENT_NOTIFY,
                         data, sizeof data);
        read.SRB_PostProc = event;
        DWORD returned = aspi.send(&read);
        EXPECT_EQ(WaitForSingleObject(event, target == kInstant ? 0 : 5000), WAIT_OBJECT_0);
        EXPECT_EQ(std::make_tuple(returned, read.SRB_Status, data[3], data[515]),
                  std::make_tuple(target == kInstant ? DWORD{SS_COMP} : DWORD{SS_PENDING}, SS_COMP,
                                  5, 6));
    }
    CloseHandle(event);
}

// Whether an abort is accepted the program's own tests see; here what the
// program never looks at.
TEST_F(AspiLibraryTest, AnAbortedOrResetRequestEndsAbortedAndIsNotified) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto hung = Exec(0, kHangAbortOk, "00 00 00 00 00 00", SRB_EVENT_NOTIFY);
    hung.SRB_PostProc = event;
    EXPECT_EQ(aspi.send(&hung), DWORD{SS_PENDING});
    SRB_Abort abort = {SC_ABORT_SRB, 0, 0, 0, 0, &hung};
    EXPECT_EQ(aspi.send(&abort), DWORD{SS_COMP});
    EXPECT_EQ(Status(hung), SS_ABORTED);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(aspi.send(&abort), DWORD{SS_COMP}) << "nothing left to abort";

    BYTE data[255];
    hung = Exec(0, kHangNoAbort, "1A 08 08 00 FF 00", SRB_DIR_IN, data, sizeof data);
    EXPECT_EQ(aspi.send(&hung), DWORD{SS_PENDING});
    SRB_BusDeviceReset reset = {};
    reset.SRB_Cmd = SC_RESET_DEV;
    reset.SRB_Target = kHangNoAbort;
    EXPECT_EQ(aspi.send(&reset), DWORD{SS_COMP});
    EXPECT_EQ(Status(hung), SS_ABORTED);
    CloseHandle(event);
}

TEST_F(AspiLibraryTest, QvxJournalNamesAFileTheJournalIsAppendedTo) {
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "qvx", 0, path);
    SetEnvironmentVariableA("QVX_JOURNAL", path);
    ASSERT_TRUE(aspi.Use("test-bus.ini")); // the file is opened with the machine
    SetEnvironmentVariableA("QVX_JOURNAL", nullptr);
    Inquiry(aspi, 1);
    BYTE data[8];
    auto capacity = Exec(1, 3, "25 00 00 00 00 00 00 00 00 00", SRB_DIR_IN, data, 8);
    aspi.send(&capacity);
    auto hung = Exec(0, kHangAbortOk, "00 00 00 00 00 00");
    aspi.send(&hung);
    SRB_Abort abort = {SC_ABORT_SRB, 0, 0, 0, 0, &hung};
    aspi.send(&abort);
    ASSERT_TRUE(aspi.Use("test-bus.ini")); // closes the file
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    DeleteFileA(path);
    std::string lines = text.str();
    std::string aborted = "0:3:0 aborted after ";
    size_t at = lines.find(aborted);
    ASSERT_NE(at, std::string::npos) << lines;
    EXPECT_EQ(lines.substr(0, at + aborted.size()),
              "adapter 1 query 00\n1:3:0 25 00 00 00 00 00 00 00 00 00 in 8 flags 08\n"
              "0:3:0 00 00 00 00 00 00 none 0 flags 00\n" +
                  aborted);
    EXPECT_EQ(lines.substr(lines.size() - 4), " ms\n");
}

TEST(AspiLibraryUnload, PendingRequestsStayPendingAndTheWorkerEndsWithTheLibrary) {
    // Requests that take modelled time, held back from the worker: one across
    // a change of machine, one as the library is unloaded under it.
    static BYTE data[3][96];
    static SRB_ExecSCSICmd replaced, fresh, unloaded;
    const int threads = ThreadCount();
    {
        Library aspi;
        ASSERT_TRUE(aspi.ok() && aspi.Use("test-bus.ini"));
        aspi.hold(TRUE);
        replaced = Exec(0, kSlow, "12 00 00 00 60 00", SRB_DIR_IN, data[0], 96);
        EXPECT_EQ(aspi.send(&replaced), DWORD{SS_PENDING});
        ASSERT_TRUE(aspi.Use("test-bus.ini"));
        aspi.hold(FALSE);
        // The new machine's request ends; the old one, due first, is never written.
        fresh = Exec(0, kSlow, "12 00 00 00 60 00", SRB_DIR_IN, data[1], 96);
        EXPECT_EQ(SendAndWait(aspi.send, fresh), SS_COMP);
        EXPECT_EQ(Status(replaced), SS_PENDING);

        aspi.hold(TRUE);
        unloaded = Exec(0, kSlow, "12 00 00 00 60 00", SRB_DIR_IN, data[2], 96);
        EXPECT_EQ(aspi.send(&unloaded), DWORD{SS_PENDING});
        EXPECT_EQ(ThreadCount(), threads + 1) << "the worker runs";
    }
    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
    EXPECT_EQ(ThreadCount(), threads) << "the worker ended with the library";
    EXPECT_EQ(std::make_tuple(Status(replaced), Status(unloaded)),
              std::make_tuple(SS_PENDING, SS_PENDING));

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
