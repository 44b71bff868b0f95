// How close the program's own transports come to what they are built on.
//
// ASPI: one-block READ(10) commands go through the program's facade
// (ScsiRead10 and AspiRead10, the event-notified path of the performance
// tests) to the emulated wnaspi32.dll and a disk that takes no modelled
// time; in the same run, in rounds taken in turn with them, the floor does
// only what that path needs of Wine for each command: create an event, set
// it, wait for it, close it.
//
// NT pass-through: the same reads through the facade with UseAspi 0
// (PassThroughRead10: the device's record found, its \\.\ name opened,
// IOCTL_SCSI_PASS_THROUGH_DIRECT, closed, as the program does for every
// command) to the NT port stand-in the benchmark is linked with; the floor
// opens the same name, hands the stand-in the same READ(10) in a block of
// its own and closes it, with nothing of the program between. Beside it,
// for scale: the stand-in's open, IOCTL_SCSI_GET_ADDRESS (no SCSI work) and
// close, and Wine's own CreateFileA, DeviceIoControl and CloseHandle on a
// device Wine has, which the program under emulation never pays for.
//
// Each figure is the ratio of the two rates, the median of the rounds, so
// that a busy machine slows both alike.
//
//     transport_benchmark.exe MACHINE.ini [ROUNDS]
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <winioctl.h>
#include <ntddscsi.h>

#include "benchtable.h"
#include "inventory/inventory.h"
#include "inventory/ntscan.h"
#include "scsi/aspi/aspitransport.h"
#include "scsi/facade/scsifacade.h"
#include "scsi/nt/ntblocks.h"
#include "scsi/nt/ntdevice.h"

namespace {

using qvx::bench::Seconds;

// The Wine primitives the event-notified path needs for one command.
bool EventFloor() {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    SetEvent(event);
    DWORD wait = WaitForSingleObject(event, TIMEOUT_EVENT_WAIT);
    CloseHandle(event);
    return wait == WAIT_OBJECT_0;
}

BYTE Buffer[65536];
BYTE g_adapter = 0, g_target = 0; // the disk's address as the facade names it

// The emulated library's own work for one read: the same READ(10) without
// event notification, which it completes inside the call.
bool LibraryRead(DWORD address) {
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = SRB_DIR_IN;
    srb.SRB_BufLen = 512;
    srb.SRB_BufPointer = Buffer;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = 10;
    const BYTE cdb[10] = {
        0x28, 0, BYTE(address >> 24), BYTE(address >> 16), BYTE(address >> 8), BYTE(address), 0, 0,
        1,    0};
    std::memcpy(srb.CDBByte, cdb, sizeof cdb);
    SendAspi32Command(&srb);
    return srb.SRB_Status == SS_COMP;
}

bool ProgramRead(DWORD address) {
    return ScsiRead10(g_adapter, g_target, address, 512, 1, Buffer) != 0;
}

// ---- NT pass-through ----

char g_ntPath[32]; // "\\.\" and the disk's DevicePath

// A one-block READ(10) handed to the device as the program hands it.
bool BareNtRead(HANDLE device, DWORD address) {
    PassThroughDirectBlock block = {};
    block.Sptd.Length = sizeof block.Sptd;
    block.Sptd.CdbLength = 10;
    block.Sptd.SenseInfoLength = 24;
    block.Sptd.DataIn = SCSI_IOCTL_DATA_IN;
    block.Sptd.DataTransferLength = 512;
    block.Sptd.TimeOutValue = 2;
    block.Sptd.DataBuffer = Buffer;
    block.Sptd.SenseInfoOffset = offsetof(PassThroughDirectBlock, SenseArea);
    const BYTE cdb[10] = {
        0x28, 0, BYTE(address >> 24), BYTE(address >> 16), BYTE(address >> 8), BYTE(address), 0, 0,
        1,    0};
    std::memcpy(block.Sptd.Cdb, cdb, sizeof cdb);
    DWORD returned = 0;
    return NtDeviceControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block, &block,
                           sizeof block, &returned) &&
           block.Sptd.ScsiStatus == 0 && block.Sptd.DataTransferLength == 512;
}

// Open, the READ(10), close: what each of the program's NT commands needs.
bool NtFloor(DWORD address) {
    HANDLE device =
        NtDeviceOpen(g_ntPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    bool read = BareNtRead(device, address);
    NtDeviceClose(device);
    return read;
}

// Open, an I/O control the stand-in answers without the bus, close.
bool NtNoScsiWork(DWORD) {
    HANDLE device =
        NtDeviceOpen(g_ntPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    SCSI_ADDRESS address = {};
    DWORD returned = 0;
    BOOL answered = NtDeviceControl(device, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address,
                                    sizeof address, &returned);
    NtDeviceClose(device);
    return answered != FALSE;
}

// Wine's own device calls on the first fixed drive it has (its answer to the
// I/O control does not matter, only its cost).
char g_wineDrive[8] = "";
bool WineDeviceCalls(DWORD) {
    HANDLE device = CreateFileA(g_wineDrive, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    STORAGE_DEVICE_NUMBER number;
    DWORD returned = 0;
    DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                    &returned, nullptr);
    CloseHandle(device);
    return true;
}

// Finds the benchmark disk through the program's own NT scan; false when
// the device access this executable links has no NT port to scan.
bool FindNtDisk() {
    UseAspi = 0;
    PlatformKind = PLATFORM_NT;
    EnumerateScsiPorts();
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; ++slot) {
        const DeviceRecord& d = DeviceTable[slot];
        if (std::strcmp(d.DevicePath, "D:") == 0) {
            g_adapter = static_cast<BYTE>(d.AdapterNumber);
            g_target = static_cast<BYTE>(d.TargetId);
            std::snprintf(g_ntPath, sizeof g_ntPath, "\\\\.\\%s", d.DevicePath);
            return NtFloor(0);
        }
    }
    return false;
}

bool FindWineDrive() {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        char root[] = {letter, ':', '\\', 0};
        if (GetDriveTypeA(root) == DRIVE_FIXED) {
            std::snprintf(g_wineDrive, sizeof g_wineDrive, "\\\\.\\%c:", letter);
            return WineDeviceCalls(0);
        }
    }
    return false;
}

// Seconds each of `count` calls takes.
template <typename F> double TimePerCall(int count, F call) {
    double start = Seconds();
    for (int i = 0; i < count; ++i)
        if (!call(static_cast<DWORD>(i))) {
            std::fprintf(stderr, "a call failed\n");
            std::exit(1);
        }
    return (Seconds() - start) / count;
}

struct Comparison {
    double ratio;     // program rate / floor rate
    double programUs; // per command
    double floorUs;
};

// Rounds of `count` calls each, the floor and the program in turn.
template <typename Floor, typename Program>
Comparison Compare(int rounds, int count, Floor floor, Program program) {
    std::vector<double> ratios, programs, floors;
    for (int r = 0; r < rounds; ++r) {
        // Each goes first in every other round, so neither always follows
        // the other's effects on caches and the scheduler.
        double f, p;
        if (r % 2) {
            p = TimePerCall(count, program);
            f = TimePerCall(count, floor);
        } else {
            f = TimePerCall(count, floor);
            p = TimePerCall(count, program);
        }
        ratios.push_back(f / p);
        programs.push_back(p * 1e6);
        floors.push_back(f * 1e6);
    }
    return {qvx::bench::Median(ratios), qvx::bench::Median(programs), qvx::bench::Median(floors)};
}

// Calls per round so that a round of the floor takes about `seconds`.
template <typename F> int Calibrate(F call, double seconds) {
    double each = TimePerCall(200, call);
    int count = static_cast<int>(seconds / each);
    return count < 200 ? 200 : count;
}

bool LoadAspi(const char* machine) {
    SetEnvironmentVariableA("QVX_MACHINE", machine);
    AspiLibrary = LoadLibraryA("wnaspi32.dll");
    SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
        reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "SendASPI32Command")));
    return SendAspi32Command != nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: transport_benchmark MACHINE.ini [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 41;
    if (!LoadAspi(argv[1])) {
        std::fprintf(stderr, "no emulated wnaspi32.dll\n");
        return 2;
    }
    UseAspi = 1;
    if (!ProgramRead(0)) {
        std::fprintf(stderr, "READ(10) of the benchmark disk failed\n");
        return 1;
    }
    int count = Calibrate([](DWORD) { return EventFloor(); }, 0.05);
    Comparison aspi = Compare(
        rounds, count, [](DWORD) { return EventFloor(); }, ProgramRead);
    Comparison library = Compare(5, count, LibraryRead, ProgramRead);
    char detail[384];
    std::snprintf(detail, sizeof detail,
                  "program %.1f us/command, floor (CreateEvent+SetEvent+Wait+CloseHandle) %.1f us; "
                  "the emulated library's own work %.1f us",
                  aspi.programUs, aspi.floorUs, library.floorUs);
    qvx::bench::PrintFigure("aspi_transport", "ASPI READ(10) rate / event floor", aspi.ratio,
                            "x floor", qvx::bench::Aim::AtLeast, 0.9, detail);

    if (!FindNtDisk()) {
        std::printf("NT pass-through: this build's device access has no NT port with the "
                    "benchmark disk; not measured\n");
        return 0;
    }
    auto ntFloor = [](DWORD address) { return NtFloor(address); };
    count = Calibrate(ntFloor, 0.05);
    Comparison nt = Compare(rounds, count, ntFloor, ProgramRead);
    Comparison noWork = Compare(rounds, count, NtNoScsiWork, ProgramRead);
    char scale[160] = "";
    if (FindWineDrive()) {
        Comparison wine =
            Compare(5, Calibrate(WineDeviceCalls, 0.05), WineDeviceCalls, ProgramRead);
        std::snprintf(scale, sizeof scale,
                      "; Wine's own CreateFileA+DeviceIoControl+CloseHandle on %s %.1f us",
                      g_wineDrive, wine.floorUs);
    }
    std::snprintf(
        detail, sizeof detail,
        "program %.1f us/command, floor (stand-in open+READ(10) pass-through+close) %.1f us; "
        "stand-in open+GET_ADDRESS+close %.1f us%s",
        nt.programUs, nt.floorUs, noWork.floorUs, scale);
    qvx::bench::PrintFigure("nt_transport",
                            "NT pass-through READ(10) rate / open+ioctl+close floor", nt.ratio,
                            "x floor", qvx::bench::Aim::AtLeast, 0.9, detail);
    return 0;
}
