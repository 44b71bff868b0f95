// The test dialogs in-process: the emulated library with the devices of
// machines/devices.ini on adapter 0, the program's strings, a device slot
// for each target, a test window as owner, and the waits, pauses, clock and
// help viewer replaced so that nothing is waited out or started.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "scsi/sense.h"
#include "shell/helpabout.h"
#include "shell/strings.h"
#include "support/testwindow.h"
#include "tools/diagnostics.h"
#include "tools/performance.h"
#include "shell/toolentry.h"

namespace qvx::test {

struct HelpCall {
    HWND window;
    std::string file;
    UINT command;
    std::vector<DWORD> ids; // the table up to its 0, 0 end
};

inline std::string Text(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class TestDialogs : public ::testing::Test {
  public:
    static inline std::vector<DWORD> pauses;
    static inline std::vector<HelpCall> helpCalls;
    static inline DWORD clockNow, clockStep;
    // The program's own times, before the tests replace them.
    static inline const PerformanceTimingRecord programTiming = PerformanceTiming;

  protected:
    static BOOL WINAPI RecordHelp(HWND w, LPCSTR file, UINT command, ULONG_PTR data) {
        HelpCall call{w, file, command, {}};
        for (auto* id = reinterpret_cast<const DWORD*>(data); id[0] || id[1]; id += 2)
            call.ids.insert(call.ids.end(), {id[0], id[1]});
        helpCalls.push_back(call);
        return TRUE;
    }

    void SetUp() override {
        using LoadMachineFn = BOOL(__cdecl*)(const char*);
        static LoadMachineFn loadMachine = [] {
            AspiLibrary = LoadLibraryA("wnaspi32.dll");
            SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
                reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "SendASPI32Command")));
            return reinterpret_cast<LoadMachineFn>(
                reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "QvxEmuLoadMachine")));
        }();
        ASSERT_TRUE(
            loadMachine != nullptr &&
            loadMachine((std::string("Z:") + QVX_DIALOG_MACHINES + "/devices.ini").c_str()));
        AppInstance = GetModuleHandleA(nullptr);
        ASSERT_TRUE(PreloadStrings(AppInstance));
        UseAspi = 1;
        PlatformKind = PLATFORM_NT;
        pauses.clear();
        helpCalls.clear();
        DiagnosticPause = [](DWORD ms) { pauses.push_back(ms); };
        HelpViewer = RecordHelp;
        clockNow = 0;
        clockStep = 1;
        PerformanceTiming = {5, 10, 10, 60000, [] { return clockNow += clockStep; }};
    }

    // Slot `target` of adapter 0 with its type text.
    static int Slot(BYTE target, const char* typeText = TextHardDisk) {
        DeviceRecord& d = DeviceTable[target];
        d = DeviceRecord{};
        d.AdapterNumber = 0;
        d.TargetId = target;
        CopyText(d.Vendor, sizeof d.Vendor, "QVX");
        CopyText(d.Product, sizeof d.Product, "TEST DEVICE");
        CopyText(d.Revision, sizeof d.Revision, "1.0");
        CopyText(d.TypeText, sizeof d.TypeText, typeText);
        return target;
    }

    TestWindow owner_;
};

} // namespace qvx::test
