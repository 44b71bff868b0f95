// Runs the performance tests dialog's measurement on an emulated device with
// a modelled latency and bandwidth, and prints the six figures beside what
// the model predicts for them. On an adapter that is an iSCSI target there
// is no model: it prints the figures alone (scripts/iscsi-bench sets them
// beside iscsi-perf's). A benchmark: it prints, it does not judge.
//
// The model's figure is the rate of reads back to back, each taking the
// device's latency plus its transfer. The dialog counts every read begun in
// its measuring time, so a read that takes a large part of it moves the
// figure by a whole read; the figure that rule gives on the model is shown
// beside it. After the dialog's run a bare reader, which does for each read
// only what the program's transport does of Wine (its own request block, an
// event made, waited for and closed), reads the same device for a second at
// each size: the rate Wine and the device allow in this run, on this
// machine's load, beside the program's.
//
//     performance_benchmark.exe MACHINE.ini [TARGET [NAME]]     (adapter 0)
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "benchtable.h"
#include "inventory/inventory.h"
#include "machine/machine.h"
#include "resource.h"
#include "shell/strings.h"
#include "tools/performance.h"

namespace {

struct Figure {
    int field;
    const char* name;
    const char* id;
    unsigned blocks; // transfer size in blocks
};

std::string Text(HWND dialog, int id) {
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Microseconds one read of `blocks` blocks takes on the model.
double ReadUs(const qvx::emu::DeviceConfig& d, unsigned blocks) {
    double bytes = double(blocks) * d.blockSize;
    return d.latencyUs + (d.bandwidthKBs ? bytes * 1e6 / (d.bandwidthKBs * 1024.0) : 0);
}

// The figure the model gives: reads of `blocks` blocks back to back, each
// taking the device's latency plus its transfer.
double PredictedKBs(const qvx::emu::DeviceConfig& d, unsigned blocks) {
    return double(blocks) * d.blockSize / 1024.0 * (1e6 / ReadUs(d, blocks));
}

// The same through the dialog's counting: every read begun within the
// measuring time counts whole.
double CountedKBs(const qvx::emu::DeviceConfig& d, unsigned blocks, unsigned seconds) {
    double reads = std::ceil(seconds * 1e6 / ReadUs(d, blocks));
    return reads * blocks * d.blockSize / 1024.0 / seconds;
}

BYTE ReadBuffer[65536];

// One READ(10) of `blocks` blocks from address 0, as the program's transport
// sends it: event notification, an event of its own for each read.
bool BareRead(BYTE target, DWORD blockSize, unsigned blocks) {
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    srb.SRB_Target = target;
    srb.SRB_BufLen = blockSize * blocks;
    srb.SRB_BufPointer = ReadBuffer;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = 10;
    srb.CDBByte[0] = 0x28;
    srb.CDBByte[7] = static_cast<BYTE>(blocks >> 8);
    srb.CDBByte[8] = static_cast<BYTE>(blocks);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    srb.SRB_PostProc = event;
    SendAspi32Command(&srb);
    DWORD wait = WaitForSingleObject(event, 10000);
    CloseHandle(event);
    return wait == WAIT_OBJECT_0 && srb.SRB_Status == SS_COMP;
}

struct BareRate {
    double kbs = 0;         // KB/s over the whole time
    double fastestUs = 1e9; // the quickest single read
};

// Bare reads back to back for about `seconds`, timed exactly.
BareRate BareReader(BYTE target, DWORD blockSize, unsigned blocks, double seconds) {
    BareRate rate;
    double start = qvx::bench::Seconds(), now = start;
    unsigned reads = 0;
    while (now - start < seconds) {
        double before = now;
        if (!BareRead(target, blockSize, blocks))
            return {};
        ++reads;
        now = qvx::bench::Seconds();
        rate.fastestUs = std::min(rate.fastestUs, (now - before) * 1e6);
    }
    rate.kbs = double(reads) * blocks * blockSize / 1024.0 / (now - start);
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: performance_benchmark MACHINE.ini [TARGET]\n");
        return 2;
    }
    const BYTE target = static_cast<BYTE>(argc > 2 ? std::atoi(argv[2]) : 0);
    const std::string name = argc > 3 ? argv[3] : "device";
    qvx::emu::Machine machine = qvx::emu::LoadMachine(argv[1]);
    const qvx::emu::DeviceConfig* device = nullptr;
    for (const auto& d : machine.adapters.at(0).devices)
        if (d.target == target && d.lun == 0)
            device = &d;
    const bool remote = !machine.adapters.empty() && machine.adapters[0].iscsi.has_value();
    if (device == nullptr && !remote) {
        std::fprintf(stderr, "no device at target %u of adapter 0\n", target);
        return 2;
    }

    SetEnvironmentVariableA("QVX_MACHINE", argv[1]);
    AppInstance = GetModuleHandleA(nullptr);
    AspiLibrary = LoadLibraryA("wnaspi32.dll");
    SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
        reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "SendASPI32Command")));
    if (SendAspi32Command == nullptr || !PreloadStrings(AppInstance)) {
        std::fprintf(stderr, "no emulated wnaspi32.dll or no strings\n");
        return 2;
    }
    UseAspi = 1;
    PlatformKind = PLATFORM_NT;
    DeviceRecord& slot = DeviceTable[target];
    slot.AdapterNumber = 0;
    slot.TargetId = target;
    CopyText(slot.TypeText, sizeof slot.TypeText, TextHardDisk);

    HWND dialog = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_PERFORMANCE_TESTS), nullptr,
                                     PerformanceDialog, target);
    if (dialog == nullptr || !IsWindowEnabled(GetDlgItem(dialog, IDOK))) {
        std::fprintf(stderr, "the dialog did not open ready for a run\n");
        return 1;
    }
    const std::string capacityLine = Text(dialog, IDC_PERF_STATUS_LINE1);
    std::printf("%s\n", capacityLine.c_str());
    DWORD started = GetTickCount();
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    MSG message;
    while (Text(dialog, IDC_PERF_STATUS_LINE1).find("completed") == std::string::npos &&
           GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (device == nullptr) {
        std::printf("run: %.1f s; unit %u of an iSCSI target\n",
                    (GetTickCount() - started) / 1000.0, target);
        const int fields[] = {IDC_SEQUENTIAL_1_SECTOR, IDC_SEQUENTIAL_16K, IDC_SEQUENTIAL_64K,
                              IDC_RANDOM_1_SECTOR,     IDC_RANDOM_16K,     IDC_RANDOM_64K};
        const char* names[] = {"sequential 1 block", "sequential 16 KB", "sequential 64 KB",
                               "random 1 block",     "random 16 KB",     "random 64 KB"};
        for (int i = 0; i < 6; ++i)
            std::printf("%-20s %14s\n", names[i], Text(dialog, fields[i]).c_str());
        // The bare reader on the same unit, for what the emulated library
        // and Wine allow there without the program.
        unsigned block = 0;
        if (std::sscanf(capacityLine.c_str(), "Device's sector size is %u", &block) == 1 && block) {
            const unsigned sizes[] = {1, 16384 / block ? 16384 / block : 1,
                                      65535 / block ? 65535 / block : 1};
            for (unsigned blocks : sizes) {
                BareRate bare = BareReader(target, block, blocks, 1.0);
                std::printf("bare reader %u blocks %14.1f KB/s (fastest read %.0f us)\n", blocks,
                            bare.kbs, bare.fastestUs);
            }
        }
        DestroyWindow(dialog);
        return 0;
    }
    std::printf("run: %.1f s; device: latency %u us, %u KB/s, %u-byte blocks\n",
                (GetTickCount() - started) / 1000.0, device->latencyUs, device->bandwidthKBs,
                device->blockSize);

    const unsigned block = device->blockSize;
    const unsigned middle = 16384 / block ? 16384 / block : 1;
    const unsigned largest = 65535 / block ? 65535 / block : 1;
    const Figure figures[] = {{IDC_SEQUENTIAL_1_SECTOR, "sequential 1 block", "seq1", 1},
                              {IDC_SEQUENTIAL_16K, "sequential 16 KB", "seq16k", middle},
                              {IDC_SEQUENTIAL_64K, "sequential 64 KB", "seq64k", largest},
                              {IDC_RANDOM_1_SECTOR, "random 1 block", "rnd1", 1},
                              {IDC_RANDOM_16K, "random 16 KB", "rnd16k", middle},
                              {IDC_RANDOM_64K, "random 64 KB", "rnd64k", largest}};
    const unsigned seconds = PerformanceTiming.MeasureSeconds;
    // The bare reader at each size, once for both passes: the model has no
    // seek time, so a random address costs what a sequential one does.
    const BareRate bare[3] = {BareReader(target, block, 1, 1.0),
                              BareReader(target, block, middle, 1.0),
                              BareReader(target, block, largest, 1.0)};
    std::printf("%-20s %14s %14s %8s %14s %14s\n", "figure", "shown", "model KB/s", "diff",
                "counted KB/s", "bare KB/s");
    for (size_t i = 0; i < std::size(figures); ++i) {
        const Figure& f = figures[i];
        std::string shown = Text(dialog, f.field);
        double measured = std::atof(shown.c_str());
        double predicted = PredictedKBs(*device, f.blocks);
        double counted = CountedKBs(*device, f.blocks, seconds);
        double diff = (measured - predicted) * 100.0 / predicted;
        double reference = bare[i % 3].kbs;
        std::printf("%-20s %14s %14.1f %+7.2f%% %14.1f %14.1f\n", f.name, shown.c_str(), predicted,
                    diff, counted, reference);
        // The bare reader's rate against the model, and microseconds a read
        // took beyond the model as the figure and the bare reader show it.
        double bytes = double(f.blocks) * block / 1024.0;
        double model = ReadUs(*device, f.blocks);
        char detail[320];
        std::snprintf(detail, sizeof detail,
                      "shown %.1f KB/s, model %.1f (%.0f us a read; counted whole %+.2f %%); "
                      "bare reader %+.2f %%; beyond the model a read took %.0f us, a bare "
                      "reader's %.0f us (its fastest %.0f us)",
                      measured, predicted, model, (counted - predicted) * 100.0 / predicted,
                      (reference - predicted) * 100.0 / predicted,
                      measured > 0 ? bytes / measured * 1e6 - model : 0,
                      reference > 0 ? bytes / reference * 1e6 - model : 0,
                      bare[i % 3].fastestUs - model);
        qvx::bench::PrintFigure("fidelity_" + name + "_" + f.id, name + ", " + f.name, diff, "%",
                                qvx::bench::Aim::Within, 3, detail);
    }
    DestroyWindow(dialog);
    return 0;
}
