// The help files as the program and Wine's help viewer use them: the Help
// command opens KDX.hlp at its contents, and every help context id of the
// dialogs' tables opens, through the program's context help path, the topic
// written for it in the context help source.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "shell/helpabout.h"
#include "support/registry.h"
#include "tools/diagnostics.h"
#include "tools/properties.h"

namespace {

const char* const kAppPathKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quorvex Diagnostics.EXE";

std::string BinFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p = path;
    return p.substr(0, p.find_last_of('\\'));
}

// Help context id -> the first paragraph of its topic, from the source.
std::map<DWORD, std::string> SourceTopics() {
    std::ifstream in(QVX_KDXCH_SOURCE);
    std::map<DWORD, std::string> topics;
    std::set<DWORD> pending;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(".topic", 0) == 0)
            pending.clear();
        else if (line.rfind(".map ", 0) == 0)
            pending.insert(std::stoul(line.substr(5)));
        else if (!line.empty() && line[0] != '.' && line[0] != '#') {
            for (DWORD id : pending)
                topics[id] = line;
            pending.clear();
        }
    }
    return topics;
}

// The help context ids the dialogs pass, without the "no help" entries.
std::set<DWORD> DialogHelpIds() {
    std::set<DWORD> ids;
    for (const DWORD* table : {InfoPageHelpIds, FeaturesPageHelpIds, DiagnosticHelpIds})
        for (const DWORD* pair = table; pair[0] != 0; pair += 2)
            if (pair[1] != (DWORD)-1)
                ids.insert(pair[1]);
    return ids;
}

BOOL CALLBACK FindTextView(HWND window, LPARAM found) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (strncmp(name, "RichEdit", 8) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The first line of the topic the help viewer shows, or "" when none.
std::string ShownTopic() {
    HWND viewer = FindWindowA("MS_WINHELP", nullptr);
    HWND text = nullptr;
    if (viewer == nullptr || !IsWindowVisible(viewer))
        return "";
    EnumChildWindows(viewer, FindTextView, reinterpret_cast<LPARAM>(&text));
    char shown[4096] = "";
    DWORD_PTR result = 0;
    if (text == nullptr || !SendMessageTimeoutA(text, WM_GETTEXT, sizeof shown, (LPARAM)shown,
                                                SMTO_NORMAL, 5000, &result))
        return "";
    std::string s = shown;
    return s.substr(0, s.find_first_of("\r\n"));
}

// Waits until the viewer shows the topic that starts with this line; the
// last line seen otherwise.
std::string WaitForTopic(const std::string& first) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string seen;
    while ((seen = ShownTopic()) != first && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return seen;
}

class HelpFiles : public ::testing::Test {
  protected:
    // The help folder recorded as Setup records it; the program forms both
    // paths from it.
    void SetUp() override {
        keys_.Own(kAppPathKey);
        ASSERT_TRUE(keys_.SetString(kAppPathKey, "HelpPath", BinFolder()));
        ASSERT_TRUE(LocateHelpFiles());
        owner_ = CreateWindowA("STATIC", "help owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
        ASSERT_NE(owner_, nullptr);
    }
    void TearDown() override {
        WinHelpA(owner_, HelpFilePath, HELP_QUIT, 0);
        WinHelpA(owner_, ContextHelpFilePath, HELP_QUIT, 0);
        DestroyWindow(owner_);
    }

    qvx::test::RegistryKeys keys_;
    HWND owner_ = nullptr;
};

TEST_F(HelpFiles, HelpCommandShowsTheGuidesContents) {
    ASSERT_TRUE(ShowHelpContents(owner_));
    EXPECT_EQ(WaitForTopic("Quorvex Diagnostics Help Contents"),
              "Quorvex Diagnostics Help Contents");
}

TEST_F(HelpFiles, EveryDialogHelpIdShowsItsOwnTopic) {
    std::map<DWORD, std::string> topics = SourceTopics();
    std::set<DWORD> ids = DialogHelpIds();
    ASSERT_EQ(ids.size(), 28u);
    for (DWORD id : ids) {
        SCOPED_TRACE("help context id " + std::to_string(id));
        ASSERT_EQ(topics.count(id), 1u) << "the context help source has no topic for it";
        ASSERT_TRUE(WinHelpA(owner_, ContextHelpFilePath, HELP_CONTEXT, id));
        EXPECT_EQ(WaitForTopic(topics[id]), topics[id]);
    }
}

} // namespace
