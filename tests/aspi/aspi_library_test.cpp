// The emulated wnaspi32.dll driven with the program's own request blocks:
// how each request ends, the device behaviours the program relies on, and
// the life of a request (pending, notified, aborted, reset, unloaded).
#include "qvxemu.h"
#include "wnaspi32.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>

namespace {

// Targets of adapter 0 of test-bus.ini.
constexpr BYTE kInstant = 0, kSlow = 1, kHardwareError = 2, kHangAbortOk = 3, kHangNoAbort = 4,
               kUnderrun = 5, kUnitAttention = 6, kBusy = 8, kReserved = 9, kRightSerial = 11,
               kTape = 12;

// wnaspi32.dll loaded by name, as the program loads it; unloaded with the object.
class Library {
    std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module_{
        LoadLibraryA("wnaspi32.dll"), FreeLibrary};
    template <typename F> F Proc(const char* name) const {
        FARPROC p = module_ ? GetProcAddress(module_.get(), name) : nullptr;
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
    }

  public:
    GetASPI32SupportInfoFn info = Proc<GetASPI32SupportInfoFn>("GetASPI32SupportInfo");
    SendASPI32CommandFn send = Proc<SendASPI32CommandFn>("SendASPI32Command");
    QvxEmuLoadMachineFn load = Proc<QvxEmuLoadMachineFn>("QvxEmuLoadMachine");
    QvxEmuHoldWorkerFn hold = Proc<QvxEmuHoldWorkerFn>("QvxEmuHoldWorker");
    // A machine of these tests, as a Unix path.
    bool Use(const char* machine) {
        std::string path = std::string(QVX_SOURCE_DIR) + "/tests/aspi/machines/" + machine;
        return module_ && info && send && load && hold && load(path.c_str());
    }
};

// An execute block filled as the program fills it; the CDB in hex.
SRB_ExecSCSICmd Exec(BYTE ha, BYTE target, const char* cdb, BYTE flags = 0, void* buffer = nullptr,
                     DWORD length = 0, BYTE lun = 0) {
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = ha;
    srb.SRB_Flags = flags;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = static_cast<BYTE*>(buffer);
    srb.SRB_SenseLen = SENSE_LEN;
    std::istringstream in(cdb);
    for (unsigned byte; srb.SRB_CDBLen < sizeof srb.CDBByte && in >> std::hex >> byte;)
        srb.CDBByte[srb.SRB_CDBLen++] = static_cast<BYTE>(byte);
    return srb;
}

BYTE Status(const SRB_ExecSCSICmd& srb) {
    return *static_cast<volatile const BYTE*>(&srb.SRB_Status);
}

// Waits (polling, as the program does) for a sent block's end.
BYTE WaitFor(const SRB_ExecSCSICmd& srb) {
    for (DWORD start = GetTickCount(); Status(srb) == SS_PENDING && GetTickCount() - start < 5000;)
        Sleep(1);
    return Status(srb);
}

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
        ASSERT_TRUE(aspi.Use("test-bus.ini")) << "wnaspi32.dll with the test hooks";
        ASSERT_EQ(aspi.info(), 0x0102u) << "two adapters: the IDE port is hidden";
    }
    Library aspi;
};

// What SendASPI32Command returned, how the block ended ("SRB_Status SRB_HaStat
// SRB_TargStat", SRB_BufLen after it), the sense data of a check condition
// (response code, key/ASC/ASCQ, the two bytes after SRB_SenseLen) and four
// data bytes from `at`. In order: devices keep their state from row to row.
struct Case {
    BYTE ha, target;
    const char* cdb;
    BYTE flags;
    DWORD length;
    const char* ended;
    BYTE at = 0, lun = 0;
};

constexpr BYTE kIn = SRB_DIR_IN, kOut = SRB_DIR_OUT, kResidual = SRB_ENABLE_RESIDUAL_COUNT;

TEST_F(AspiLibraryTest, HowEachRequestEndsOnEachKindOfDevice) {
    const Case cases[] = {
        {2, 0, "00 00 00 00 00 00", 0, 0, "81: 81 00 00 len 0"},
        {0, kSlow, "12 00 00 00 60 00", kIn, 96, "00: 01 00 00 len 96 | 00 00 02 02"},
        {0, kInstant, "3B 02 00 00 00 00 00 00 04 00", kOut, 4, "01: 01 00 00 len 4"},
        {0, kInstant, "3C 02 00 00 00 00 00 00 04 00", kIn, 4, "01: 01 00 00 len 4 | 5A 5A 5A 5A"},
        {0, kInstant, "12 01 80 00 FF 00", kIn | kResidual, 255,
         "01: 01 00 00 len 245 | 00 80 00 06"}, // residual: 10 bytes moved
        {0, kUnderrun, "12 01 80 00 FF 00", kIn, 255, "01: 01 12 00 len 255 | 05 80 00 04"},
        {0, kHardwareError, "00 00 00 00 00 00", 0, 0,
         "04: 04 00 02 len 0 sense 70 04/40/00 CC CC"},
        {0, kBusy, "00 00 00 00 00 00", 0, 0, "04: 04 00 08 len 0"}, // sense untouched
        {0, kReserved, "00 00 00 00 00 00", 0, 0, "04: 04 00 18 len 0"},
        {0, kReserved, "12 00 00 00 60 00", kIn, 96, "01: 01 00 00 len 96 | 00 00 02 02"},
        // The LQ450 reports a short INQUIRY as an underrun, with the residual.
        {1, 0, "12 00 00 00 60 00", kIn | kResidual, 96, "01: 01 12 00 len 60 | 00 00 02 02"},
        // A unit attention spares INQUIRY and ends the next command.
        {0, kUnitAttention, "12 00 00 00 60 00", kIn, 96, "01: 01 00 00 len 96 | 00 00 02 02"},
        {0, kUnitAttention, "00 00 00 00 00 00", 0, 0,
         "04: 04 00 02 len 0 sense 70 06/29/00 CC CC"},
        {0, kUnitAttention, "00 00 00 00 00 00", 0, 0, "01: 01 00 00 len 0"},
        // A present target answers for its missing units.
        {0, kInstant, "12 00 00 00 60 00", kIn, 96, "01: 01 00 00 len 96 | 7F 00 02 02", 0, 1},
        // Serial numbers in a fixed field, and mode pages by device type.
        {0, kRightSerial, "12 01 80 00 FF 00", kIn, 255, "01: 01 00 00 len 255 | 20 20 20 20", 4},
        {0, kInstant, "1A 08 08 00 FF 00", kIn, 255, "01: 01 00 00 len 255 | 08 0A 04 00", 4},
        {0, kTape, "1A 08 08 00 FF 00", kIn, 255,
         "04: 04 00 02 len 255 sense 70 05/24/00 CC CC | 00 00 00 00"},
        // A medium error delivers the blocks before the bad one.
        {0, kInstant, "28 00 00 00 00 30 00 00 02 00", kIn, 1024,
         "04: 04 00 02 len 1024 sense 70 03/11/00 CC CC | 00 00 00 30"},
    };
    for (const Case& c : cases) {
        static BYTE data[1024];
        memset(data, c.flags & kOut ? 0x5A : 0x00, sizeof data);
        SRB_ExecSCSICmd srb =
            Exec(c.ha, c.target, c.cdb, c.flags, c.length ? data : nullptr, c.length, c.lun);
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
        const BYTE* d = data + c.at;
        if (c.length && (c.flags & kIn))
            snprintf(ended + n, sizeof ended - n, " | %02X %02X %02X %02X", d[0], d[1], d[2], d[3]);
        EXPECT_STREQ(ended, c.ended) << c.cdb;
    }
}

TEST_F(AspiLibraryTest, CompletionSetsTheEventAlsoDuringTheCall) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (BYTE target : {kInstant, kSlow}) {
        BYTE data[1024];
        auto read = Exec(0, target, "28 00 00 00 00 05 00 00 02 00", kIn | SRB_EVENT_NOTIFY, data,
                         sizeof data);
        read.SRB_PostProc = event;
        DWORD returned = aspi.send(&read);
        EXPECT_EQ(WaitForSingleObject(event, target == kInstant ? 0 : 5000), WAIT_OBJECT_0);
        EXPECT_EQ(std::make_tuple(returned, read.SRB_Status, data[3], data[515]),
                  std::make_tuple(target == kInstant ? DWORD{SS_COMP} : DWORD{SS_PENDING}, SS_COMP,
                                  5, 6));
    }
    CloseHandle(event);
}

TEST_F(AspiLibraryTest, AnAbortEndsTheRequestUnlessTheDeviceRefusesAResetEndsItAlways) {
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
    hung = Exec(0, kHangNoAbort, "1A 08 08 00 FF 00", kIn, data, sizeof data);
    EXPECT_EQ(aspi.send(&hung), DWORD{SS_PENDING});
    EXPECT_EQ(aspi.send(&abort), DWORD{SS_ABORT_FAIL});
    EXPECT_EQ(Status(hung), SS_PENDING);
    SRB_BusDeviceReset reset = {};
    reset.SRB_Cmd = SC_RESET_DEV;
    reset.SRB_Target = kHangNoAbort;
    EXPECT_EQ(aspi.send(&reset), DWORD{SS_COMP});
    EXPECT_EQ(Status(hung), SS_ABORTED);
    CloseHandle(event);
}

TEST(AspiLibraryUnload, PendingRequestsStayPendingAndTheWorkerEndsWithTheLibrary) {
    // A request that takes modelled time, held back from the worker as the
    // library is unloaded under it.
    static BYTE data[96];
    static SRB_ExecSCSICmd unloaded;
    const int threads = ThreadCount();
    {
        Library aspi;
        ASSERT_TRUE(aspi.Use("test-bus.ini"));
        aspi.hold(TRUE);
        unloaded = Exec(0, kSlow, "12 00 00 00 60 00", kIn, data, 96);
        EXPECT_EQ(aspi.send(&unloaded), DWORD{SS_PENDING});
        EXPECT_EQ(ThreadCount(), threads + 1) << "the worker runs";
    }
    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
    EXPECT_EQ(ThreadCount(), threads) << "the worker ended with the library";
    EXPECT_EQ(Status(unloaded), SS_PENDING);
}

} // namespace
