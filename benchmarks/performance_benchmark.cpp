// Runs the performance tests dialog's measurement on an emulated device with
// a modelled latency and bandwidth, and prints the six figures beside what
// the model predicts for them. On an adapter that is an iSCSI target there
// is no model: it prints the figures alone (scripts/iscsi-bench sets them
// beside iscsi-perf's). A benchmark: it prints, it does not judge.
//
//     performance_benchmark.exe MACHINE.ini [TARGET]     (adapter 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "inventory/inventory.h"
#include "machine/machine.h"
#include "resource.h"
#include "shell/strings.h"
#include "tools/performance.h"

namespace {

struct Figure {
    int field;
    const char* name;
    unsigned blocks; // transfer size in blocks
};

std::string Text(HWND dialog, int id) {
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The figure the model gives: reads of `blocks` blocks back to back for the
// measuring time, each taking the device's latency plus its transfer.
double PredictedKBs(const qvx::emu::DeviceConfig& d, unsigned blocks) {
    double bytes = double(blocks) * d.blockSize;
    double us = d.latencyUs + (d.bandwidthKBs ? bytes * 1e6 / (d.bandwidthKBs * 1024.0) : 0);
    return bytes / 1024.0 * (1e6 / us);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: performance_benchmark MACHINE.ini [TARGET]\n");
        return 2;
    }
    const BYTE target = static_cast<BYTE>(argc > 2 ? std::atoi(argv[2]) : 0);
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
    std::printf("%s\n", Text(dialog, IDC_PERF_STATUS_LINE1).c_str());
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
        DestroyWindow(dialog);
        return 0;
    }
    std::printf("run: %.1f s; device: latency %u us, %u KB/s, %u-byte blocks\n",
                (GetTickCount() - started) / 1000.0, device->latencyUs, device->bandwidthKBs,
                device->blockSize);

    const unsigned block = device->blockSize;
    const unsigned middle = 16384 / block ? 16384 / block : 1;
    const unsigned largest = 65535 / block ? 65535 / block : 1;
    const Figure figures[] = {{IDC_SEQUENTIAL_1_SECTOR, "sequential 1 block", 1},
                              {IDC_SEQUENTIAL_16K, "sequential 16 KB", middle},
                              {IDC_SEQUENTIAL_64K, "sequential 64 KB", largest},
                              {IDC_RANDOM_1_SECTOR, "random 1 block", 1},
                              {IDC_RANDOM_16K, "random 16 KB", middle},
                              {IDC_RANDOM_64K, "random 64 KB", largest}};
    std::printf("%-20s %14s %14s %8s\n", "figure", "shown", "model KB/s", "diff");
    for (const Figure& f : figures) {
        std::string shown = Text(dialog, f.field);
        double measured = std::atof(shown.c_str());
        double predicted = PredictedKBs(*device, f.blocks);
        std::printf("%-20s %14s %14.1f %+7.2f%%\n", f.name, shown.c_str(), predicted,
                    (measured - predicted) * 100.0 / predicted);
    }
    DestroyWindow(dialog);
    return 0;
}
