// qvxwindow.exe: small window chores for scripts that run the program under
// Wine, where no other tool can see its windows.
//
//   qvxwindow.exe wait TITLE SECONDS    exit 0 once a visible top-level window
//                                       with this title exists, 1 at the limit
//   qvxwindow.exe close TITLE SECONDS   post WM_CLOSE to every top-level window
//                                       with this title; exit 0 once none is left
//   qvxwindow.exe screen                print the screen size Wine reports
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kPollMs = 100;

struct Search {
    const char* title;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    char text[256];
    if (GetWindowTextA(window, text, sizeof text) > 0 && strcmp(text, s->title) == 0 &&
        (!s->visibleOnly || IsWindowVisible(window)))
        s->found.push_back(window);
    return TRUE;
}

std::vector<HWND> Find(const char* title, bool visibleOnly) {
    Search s{title, visibleOnly, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Polls until `done` holds or the time is up.
template <typename Done> bool PollFor(DWORD seconds, Done done) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= seconds * 1000)
            return false;
        Sleep(kPollMs);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "screen") == 0) {
        printf("%dx%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        return 0;
    }
    if (argc != 4 || (strcmp(argv[1], "wait") != 0 && strcmp(argv[1], "close") != 0)) {
        fprintf(stderr, "usage: qvxwindow wait|close TITLE SECONDS | qvxwindow screen\n");
        return 2;
    }
    const char* title = argv[2];
    DWORD seconds = static_cast<DWORD>(strtoul(argv[3], nullptr, 10));
    if (strcmp(argv[1], "wait") == 0)
        return PollFor(seconds, [&] { return !Find(title, true).empty(); }) ? 0 : 1;
    for (HWND w : Find(title, false))
        PostMessageA(w, WM_CLOSE, 0, 0);
    return PollFor(seconds, [&] { return Find(title, false).empty(); }) ? 0 : 1;
}
