// DeviceToolsTest: a fixture for the device tools in-process. It gives the
// program's strings and an empty inventory, loads the emulated wnaspi32.dll
// once for the process (as the program loads it) with the machine file named
// by QVX_TOOL_MACHINE (a Unix path, set per test executable) on its bus,
// records context help instead of starting a viewer, and replaces the test
// dialogs' pauses and seconds clock so that nothing is waited out. Links
// quorvex_core.
//
//     class Properties : public qvx::test::DeviceToolsTest {};
//     TEST_F(Properties, X) {
//         Fill(0, 3, TextHardDisk);                   // slot 0: adapter 0, target 3
//         ... open a tool on slot 0, owned by owner_.hwnd() ...
//         EXPECT_EQ(helpCalls.size(), 1u);
//     }
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "shell/helpabout.h"
#include "shell/strings.h"
#include "support/emuaspi.h"
#include "support/testwindow.h"
#include "support/uiscript.h"
#include "tools/diagnostics.h"
#include "tools/performance.h"

namespace qvx::test {

// One call of the help viewer, with the control table it was given up to its
// 0, 0 end.
struct HelpCall {
    HWND window;
    std::string file;
    UINT command;
    std::vector<DWORD> ids;
};

// The text of a dialog's control, and the texts of several joined by "|".
inline std::string Text(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}
inline std::string Texts(HWND dialog, std::initializer_list<int> ids) {
    std::string texts;
    for (int id : ids)
        texts += (texts.empty() ? "" : "|") + Text(dialog, id);
    return texts;
}

// A control's rectangle in its dialog's client coordinates.
inline RECT ControlRect(HWND dialog, int id) {
    RECT r;
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A pixel of a window as it paints itself now, children included.
inline COLORREF PixelAt(HWND window, int x, int y) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = GetDC(window);
    COLORREF pixel = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return pixel;
}

// Runs `open`, which opens a dialog with this caption; runs `inspect` while
// the dialog is up, then closes it with OK.
inline void WhileOpen(const char* caption, const std::function<void()>& open,
                      const std::function<void(HWND)>& inspect) {
    UiScript ui;
    ui.expect(Dialog().caption(caption))
        .then([&](HWND dialog, const WindowRecord&) { inspect(dialog); })
        .press(IDOK);
    open();
    ui.verify();
}

class DeviceToolsTest : public ::testing::Test {
  public:
    static inline std::vector<HelpCall> helpCalls;
    static constexpr const char* kHelpFile = "C:\\Quorvex\\KDXCH.hlp";
    // The diagnostics' pauses asked for, and the seconds clock: it reads
    // clockNow, moved on by clockStep at every reading.
    static inline std::vector<DWORD> pauses;
    static inline DWORD clockNow, clockStep;
    // The program's own times, before the fixture replaces them.
    static inline const PerformanceTimingRecord programTiming = PerformanceTiming;

  protected:
    static BOOL WINAPI RecordHelp(HWND window, LPCSTR file, UINT command, ULONG_PTR data) {
        HelpCall call{window, file, command, {}};
        for (auto* id = reinterpret_cast<const DWORD*>(data); id[0] || id[1]; id += 2)
            call.ids.insert(call.ids.end(), {id[0], id[1]});
        helpCalls.push_back(call);
        return TRUE;
    }

    void SetUp() override {
        ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
        InitializeInventory();
        AppInstance = GetModuleHandleA(nullptr); // the test carries the program's resources
        static HMODULE library = LoadLibraryA("wnaspi32.dll");
        ASSERT_NE(library, nullptr);
        AspiLibrary = library;
        GetAspi32SupportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "GetASPI32SupportInfo")));
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "SendASPI32Command")));
        // The source tree as Wine sees it: drive Z: is the Unix root.
        ASSERT_TRUE(LoadEmulatedMachine(std::string("Z:") + QVX_TOOL_MACHINE));
        UseAspi = 1;
        PlatformKind = PLATFORM_NT;
        helpCalls.clear();
        savedHelp_ = HelpViewer;
        HelpViewer = RecordHelp;
        CopyText(ContextHelpFilePath, sizeof ContextHelpFilePath, kHelpFile);
        pauses.clear();
        DiagnosticPause = [](DWORD ms) { pauses.push_back(ms); };
        clockNow = 0;
        clockStep = 1;
        PerformanceTiming = {5, 10, 10, 60000, [] { return clockNow += clockStep; }};
    }

    void TearDown() override {
        HelpViewer = savedHelp_;
        ReleaseDeviceBitmaps();
    }

    // Fills a slot as a scan would: adapter 0, the target, its type text and
    // ANSI version, vendor "QVX", product "TEST DEVICE", revision "1.0".
    static DeviceRecord& Fill(int slot, BYTE target, const char* typeText, LONG ansi = 2) {
        DeviceRecord& d = DeviceTable[slot];
        d = DeviceRecord{};
        CopyText(d.AdapterIdentifier, sizeof d.AdapterIdentifier, "KESTRAIL");
        d.TargetId = target;
        d.AnsiVersion = ansi;
        CopyText(d.TypeText, sizeof d.TypeText, typeText);
        CopyText(d.Vendor, sizeof d.Vendor, "QVX");
        CopyText(d.Product, sizeof d.Product, "TEST DEVICE");
        CopyText(d.Revision, sizeof d.Revision, "1.0");
        return d;
    }

    // Slot `target` for the device at that SCSI ID of adapter 0.
    static int Slot(BYTE target, const char* typeText = TextHardDisk) {
        Fill(target, target, typeText);
        return target;
    }

    TestWindow owner_; // the tools' owner window

  private:
    HelpViewerProc savedHelp_ = nullptr;
};

} // namespace qvx::test
