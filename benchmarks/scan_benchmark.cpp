// Start-up and re-scan on a machine of many devices, timed in-process: the
// program's whole start-up (QuorvexMain) from its entry to the end of its
// WM_SCAN_COMPLETE handling (scan, feature gathering, splash down, window
// shown), then re-scans from the answer to "Re-scan the SCSI bus ?" to the
// end of their WM_SCAN_COMPLETE.
//
// The waits the program imposes on itself are taken out and listed: every
// Sleep and SleepEx the program's code calls returns at once and is counted
// (the emulated devices answer at once, so a wait changes nothing but the
// time). The figures are what is left.
//
//     scan_benchmark.exe MACHINE.ini [RESCANS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "benchtable.h"
#include "inventory/inventory.h"
#include "inventory/scanmessages.h"
#include "qvxemu.h"
#include "resource.h"
#include "shell/mainwindow.h"
#include "shell/startup.h"
#include "shell/strings.h"
#include "shell/toolentry.h"

namespace {

using qvx::bench::Seconds;

// ---- The program's own waits ----

// Wait lengths in ms -> how many of them the program asked for.
std::map<DWORD, int> g_waits;

void WINAPI CountedSleep(DWORD ms) {
    g_waits[ms]++;
}

DWORD WINAPI CountedSleepEx(DWORD ms, BOOL) {
    g_waits[ms]++;
    return 0;
}

// Points this executable's import of `dll`!`name` (the program's code is
// linked into it) at `replacement`. Wine's own libraries keep the real one.
bool ReplaceImport(const char* dll, const char* name, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; imports->Name != 0; ++imports) {
        if (_stricmp(reinterpret_cast<const char*>(base + imports->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0)
                continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

// ---- The emulated library's journal: how many commands a phase sent ----

QvxEmuReadJournalFn g_readJournal;
QvxEmuClearJournalFn g_clearJournal;

DWORD JournalCount() {
    return g_readJournal ? g_readJournal(nullptr, 0) : 0;
}

// Milliseconds the program waited for commands it then gave up on (a time
// limit that ran out), and how many.
DWORD TimedOutCommands(DWORD* waitedMs) {
    std::vector<QvxJournalRecord> records(JournalCount());
    records.resize(g_readJournal(records.data(), static_cast<DWORD>(records.size())));
    DWORD count = 0;
    *waitedMs = 0;
    for (const QvxJournalRecord& r : records)
        if (r.WaitedMs != QVX_NOT_ABORTED) {
            ++count;
            *waitedMs += r.WaitedMs;
        }
    return count;
}

// ---- One run of the program ----

// CPU seconds this process has used, all threads.
double CpuSeconds() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

struct Phase {
    double start = 0;
    double cpuStart = 0;
    double cpuEnd = 0;
    double scanStart = 0;     // WM_SCAN_START dispatched
    double featuresStart = 0; // WM_SCAN_COMPLETE: the feature gathering begins
    double featuresEnd = 0;
    double end = 0; // WM_SCAN_COMPLETE handled
    std::map<DWORD, int> waits;
    DWORD commands = 0;
    DWORD timedOut = 0; // commands given up after their time limit
    DWORD timedOutMs = 0;
};

std::vector<Phase> g_phases; // [0] start-up, then the re-scans
int g_rescans = 5;
WNDPROC g_mainProc;
HHOOK g_hook;
void (*g_collect)(void);
std::vector<std::string> g_unexpected; // message boxes nobody asked for
bool g_askedRescan = false;

void BeginPhase(double at) {
    g_phases.emplace_back();
    g_phases.back().start = at;
    g_phases.back().cpuStart = CpuSeconds();
    g_waits.clear();
    if (g_clearJournal)
        g_clearJournal();
}

void TimedCollect() {
    g_phases.back().featuresStart = Seconds();
    g_collect();
    g_phases.back().featuresEnd = Seconds();
}

LRESULT CALLBACK TimedMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SCAN_START && !g_phases.empty() && g_phases.back().scanStart == 0)
        g_phases.back().scanStart = Seconds();
    LRESULT result = CallWindowProcA(g_mainProc, window, message, wParam, lParam);
    if (message == WM_SCAN_COMPLETE && !g_phases.empty() && g_phases.back().end == 0) {
        Phase& p = g_phases.back();
        p.end = Seconds();
        p.cpuEnd = CpuSeconds();
        p.waits = g_waits;
        p.commands = JournalCount();
        p.timedOut = TimedOutCommands(&p.timedOutMs);
        bool more = static_cast<int>(g_phases.size()) <= g_rescans;
        g_askedRescan = more;
        PostMessageA(window, more ? WM_COMMAND : WM_CLOSE, more ? IDM_RESCAN : 0, 0);
    }
    return result;
}

// Subclasses the main window as it is made; answers the re-scan question
// and notes when it is answered; answers and notes any other message box.
LRESULT CALLBACK WatchWindows(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    char cls[64] = "";
    if (code == HCBT_CREATEWND || code == HCBT_ACTIVATE || code == HCBT_DESTROYWND)
        GetClassNameA(window, cls, sizeof cls);
    if (code == HCBT_CREATEWND && std::strcmp(cls, MAIN_WINDOW_CLASS) == 0) {
        g_mainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimedMainProc)));
    } else if (code == HCBT_ACTIVATE && std::strcmp(cls, "#32770") == 0) {
        char text[512] = "";
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
        if (!g_askedRescan)
            g_unexpected.push_back(text);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    } else if (code == HCBT_DESTROYWND && std::strcmp(cls, "#32770") == 0 && g_askedRescan) {
        g_askedRescan = false;
        BeginPhase(Seconds());
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

std::string WaitsText(const std::map<DWORD, int>& waits, double* totalMs) {
    std::string text;
    *totalMs = 0;
    for (const auto& [ms, count] : waits) {
        char part[64];
        std::snprintf(part, sizeof part, "%s%d x %lu ms", text.empty() ? "" : " + ", count,
                      static_cast<unsigned long>(ms));
        text += part;
        *totalMs += double(ms) * count;
    }
    return text.empty() ? "none" : text;
}

void ReportPhase(const char* id, const char* label, const Phase& p, const char* note) {
    double waitedMs;
    std::string waits = WaitsText(p.waits, &waitedMs);
    double total = (p.end - p.start) * 1000;
    double before = (p.scanStart - p.start) * 1000;
    double scan = (p.featuresStart - p.scanStart) * 1000;
    double features = (p.featuresEnd - p.featuresStart) * 1000;
    double after = (p.end - p.featuresEnd) * 1000;
    char detail[512];
    std::snprintf(detail, sizeof detail,
                  "%s; before the scan %.1f ms, scan %.1f, features %.1f, after %.1f; CPU %.0f ms; "
                  "%lu commands, %lu timed out (%lu ms); waits taken out: %s (%.0f ms)",
                  note, before, scan, features, after, (p.cpuEnd - p.cpuStart) * 1000,
                  static_cast<unsigned long>(p.commands), static_cast<unsigned long>(p.timedOut),
                  static_cast<unsigned long>(p.timedOutMs), waits.c_str(), waitedMs);
    qvx::bench::PrintFigure(id, label, total, "ms", qvx::bench::Aim::AtMost, 100, detail);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scan_benchmark MACHINE.ini [RESCANS]\n");
        return 2;
    }
    if (argc > 2)
        g_rescans = std::atoi(argv[2]);
    SetEnvironmentVariableA("QVX_MACHINE", argv[1]);
    // The program loads and unloads the library itself; holding it here
    // keeps one machine (and one journal) for the whole run.
    HMODULE library = LoadLibraryA("wnaspi32.dll");
    g_readJournal = reinterpret_cast<QvxEmuReadJournalFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "QvxEmuReadJournal")));
    g_clearJournal = reinterpret_cast<QvxEmuClearJournalFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "QvxEmuClearJournal")));
    if (!g_readJournal || !g_clearJournal) {
        std::fprintf(stderr, "no emulated wnaspi32.dll\n");
        return 2;
    }
    if (!ReplaceImport("kernel32.dll", "Sleep", reinterpret_cast<void*>(CountedSleep)) ||
        !ReplaceImport("kernel32.dll", "SleepEx", reinterpret_cast<void*>(CountedSleepEx))) {
        std::fprintf(stderr, "could not take the program's waits out\n");
        return 2;
    }
    g_collect = ToolEntries.CollectFeatures;
    ToolEntries.CollectFeatures = TimedCollect;
    g_hook = SetWindowsHookExA(WH_CBT, WatchWindows, nullptr, GetCurrentThreadId());

    BeginPhase(Seconds());
    int code = QuorvexMain(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    UnhookWindowsHookEx(g_hook);

    for (const std::string& text : g_unexpected)
        std::printf("message box: %s\n", text.c_str());
    if (g_phases.empty() || g_phases[0].end == 0) {
        std::fprintf(stderr, "the program ended (code %d) before its window came up\n", code);
        return 1;
    }
    int devices = 0;
    for (const DeviceRecord& d : DeviceTable)
        devices += d.TypeText[0] != 0 && std::strcmp(d.TypeText, TextNoDevice) != 0 &&
                   std::strcmp(d.TypeText, TextHostAdapter) != 0;
    char note[128];
    std::snprintf(note, sizeof note, "%d devices on %d adapters", devices,
                  static_cast<int>(AdapterCount));
    ReportPhase("startup", "start-up to main window (beyond waits)", g_phases[0], note);
    std::vector<double> totals;
    size_t best = 1;
    for (size_t i = 1; i < g_phases.size(); ++i)
        if (g_phases[i].end != 0)
            totals.push_back((g_phases[i].end - g_phases[i].start) * 1000);
    if (totals.empty()) {
        std::fprintf(stderr, "no re-scan completed\n");
        return 1;
    }
    // The re-scan shown is the median one.
    double median = qvx::bench::Median(totals);
    for (size_t i = 1; i < g_phases.size(); ++i)
        if (std::abs((g_phases[i].end - g_phases[i].start) * 1000 - median) <
            std::abs((g_phases[best].end - g_phases[best].start) * 1000 - median))
            best = i;
    std::snprintf(note, sizeof note, "median of %d", static_cast<int>(totals.size()));
    ReportPhase("rescan", "re-scan to WM_SCAN_COMPLETE handled (beyond waits)", g_phases[best],
                note);
    return 0;
}
