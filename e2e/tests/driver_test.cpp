// The e2e driver proved on its own selftest window: scenario parsing, the
// PNG writer, the cross-process readers and whole scenarios with their
// transcripts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "png.h"
#include "remote.h"
#include "scenario.h"
#include "session.h"

namespace {

using e2e::ParseScenario;

std::string BinFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p = path;
    return p.substr(0, p.find_last_of("\\/"));
}

std::string TempPath(const char* name) {
    char dir[MAX_PATH] = "";
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// Runs a scenario against the selftest window; returns the transcript and
// whether every statement was met (the unmet text is appended).
std::pair<std::string, bool> RunScenario(const std::string& text) {
    e2e::SessionOptions options;
    options.program = BinFolder() + "\\e2e_selftest.exe";
    options.mainClass = "E2E_Selftest";
    options.outDir = TempPath("");
    options.waitSeconds = 20;
    std::ostringstream out;
    bool met = true;
    {
        e2e::Session session(options, out);
        try {
            session.Run(ParseScenario(text));
        } catch (const e2e::Unmet& e) {
            out << "UNMET " << e.what() << "\n";
            met = false;
        }
    }
    return {out.str(), met};
}

// ---- scenario text ----

TEST(ScenarioParse, StatementsWordsAndQuotedTexts) {
    auto s = ParseScenario("# comment line\n"
                           "machine \"emulation/machines/a b.ini\"  # trailing comment\n"
                           "\n"
                           "expect-message \"Cap: \\\"x\\\" \\\\\" \"C:\\temp\\new\"\r\n"
                           "wait-text 1054 \"#done\" 30\n");
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].name, "machine");
    EXPECT_EQ(s[0].line, 2);
    EXPECT_EQ(s[0].args, std::vector<std::string>{"emulation/machines/a b.ini"});
    EXPECT_EQ(s[1].args, (std::vector<std::string>{"Cap: \"x\" \\", "C:\\temp\\new"}));
    EXPECT_EQ(s[2].args, (std::vector<std::string>{"1054", "#done", "30"}));
}

TEST(ScenarioParse, RejectsWhatCannotRun) {
    EXPECT_THROW(ParseScenario("start\nfrobnicate\n"), e2e::ScenarioError);
    EXPECT_THROW(ParseScenario("select\n"), e2e::ScenarioError);
    EXPECT_THROW(ParseScenario("screen 800\n"), e2e::ScenarioError);
    EXPECT_THROW(ParseScenario("title extra\n"), e2e::ScenarioError);
    EXPECT_THROW(ParseScenario("select \"open\n"), e2e::ScenarioError);
    EXPECT_THROW(ParseScenario("start\nmachine \"x.ini\"\n"), e2e::ScenarioError);
    try {
        ParseScenario("start\n\nbogus\n");
    } catch (const e2e::ScenarioError& e) {
        EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos);
    }
}

TEST(ScenarioQuote, KeepsAnObservationOnOneLine) {
    EXPECT_EQ(e2e::Quote("a\"b\\c\nd\te\r\x01"), "\"a\\\"b\\\\c\\nd\\te\\r\\x01\"");
    EXPECT_EQ(e2e::Quote(""), "\"\"");
}

// ---- PNG ----

TEST(Png, ChecksumsMatchTheirDefinitions) {
    const uint8_t iend[] = {'I', 'E', 'N', 'D'};
    EXPECT_EQ(e2e::Crc32(iend, 4), 0xAE426082u);
    const char* wiki = "Wikipedia";
    EXPECT_EQ(e2e::Adler32(reinterpret_cast<const uint8_t*>(wiki), 9), 0x11E60398u);
}

// Reads the picture back from the file: chunk CRCs, header, and the pixels
// out of the stored deflate blocks (which span several blocks here).
TEST(Png, PictureReadsBackWhole) {
    const int w = 200, h = 150;
    std::vector<uint8_t> rgb(w * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<uint8_t>(i * 7 + i / 600);
    std::vector<uint8_t> png = e2e::EncodePng(w, h, rgb);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(0, memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8));
    auto be32 = [&](size_t at) {
        return uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 |
               png[at + 3];
    };
    std::vector<uint8_t> idat;
    std::vector<std::string> types;
    for (size_t at = 8; at < png.size();) {
        uint32_t len = be32(at);
        types.emplace_back(reinterpret_cast<const char*>(&png[at + 4]), 4);
        EXPECT_EQ(be32(at + 8 + len), e2e::Crc32(&png[at + 4], len + 4)) << types.back();
        if (types.back() == "IHDR") {
            EXPECT_EQ(be32(at + 8), uint32_t(w));
            EXPECT_EQ(be32(at + 12), uint32_t(h));
        }
        if (types.back() == "IDAT")
            idat.assign(png.begin() + at + 8, png.begin() + at + 8 + len);
        at += 12 + len;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::vector<uint8_t> raw;
    size_t at = 2;
    bool last = false;
    while (!last) {
        last = idat[at] & 1;
        size_t n = idat[at + 1] | idat[at + 2] << 8;
        EXPECT_EQ(n ^ 0xFFFF, size_t(idat[at + 3] | idat[at + 4] << 8));
        raw.insert(raw.end(), idat.begin() + at + 5, idat.begin() + at + 5 + n);
        at += 5 + n;
    }
    ASSERT_EQ(raw.size(), size_t(h) * (w * 3 + 1));
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(raw[y * (w * 3 + 1)], 0);
        ASSERT_EQ(0, memcmp(&raw[y * (w * 3 + 1) + 1], &rgb[y * w * 3], w * 3)) << "row " << y;
    }
}

// ---- reading another process's controls ----

class SelftestWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string command = "\"" + BinFolder() + "\\e2e_selftest.exe\"";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &si, &info_));
        for (int i = 0; i < 400 && main_ == nullptr; ++i) {
            Sleep(50);
            HWND w = FindWindowA("E2E_Selftest", nullptr);
            if (w != nullptr && IsWindowVisible(w))
                main_ = w;
        }
        ASSERT_NE(main_, nullptr);
    }
    void TearDown() override {
        if (main_ != nullptr)
            PostMessageA(main_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(info_.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(info_.hProcess, 1);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    HWND Child(const char* cls) {
        return FindWindowExA(main_, nullptr, cls, nullptr);
    }
    PROCESS_INFORMATION info_ = {};
    HWND main_ = nullptr;
};

TEST_F(SelftestWindow, ReadsTreeListAndStatusBar) {
    auto tree = e2e::ReadTree(Child("SysTreeView32"));
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree[0].text, "Root");
    EXPECT_EQ(tree[0].level, 0);
    EXPECT_TRUE(tree[0].expanded);
    EXPECT_EQ(tree[0].data, -1);
    EXPECT_EQ(tree[1].text, "Second adapter");
    EXPECT_EQ(tree[1].level, 1);
    EXPECT_EQ(tree[1].data, 1);
    EXPECT_EQ(tree[2].data, 0);

    // Texts the program supplies on request come across too.
    auto list = e2e::ReadList(Child("SysListView32"));
    EXPECT_EQ(list.view, "details");
    EXPECT_EQ(list.columns, (std::vector<std::string>{"ID:", "Type:", "Vendor:"}));
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_EQ(list.rows[1].cells, (std::vector<std::string>{"ID 0", "Hard Disk", "QUANTUM"}));
    EXPECT_EQ(list.rows[0].image, 2);
    EXPECT_EQ(list.rows[2].image, 0);
    EXPECT_FALSE(list.rows[0].selected);

    EXPECT_EQ(e2e::ReadStatusParts(Child("msctls_statusbar32")),
              (std::vector<std::string>{"Selected: none", "Answers: 0"}));
    RECT r = e2e::ListItemRect(Child("SysListView32"), 1);
    EXPECT_GT(r.right, r.left);
    EXPECT_GT(r.bottom, r.top);
}

TEST_F(SelftestWindow, BufferInAClosedProcessIsRefused) {
    HWND list = Child("SysListView32");
    PostMessageA(main_, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(info_.hProcess, 10000), WAIT_OBJECT_0);
    main_ = nullptr;
    EXPECT_THROW(e2e::ReadList(list), e2e::RemoteError);
}

// ---- whole scenarios ----

TEST(Scenario, UsesTheWindowAsAUserWould) {
    std::string file = TempPath("e2e-file.txt");
    {
        std::ofstream f(file, std::ios::binary);
        f << "first\r\nsecond\nlast";
    }
    auto [transcript, met] = RunScenario("start\n"
                                         "select-adapter 0\n"
                                         "status\n"
                                         "sort 1\n"
                                         "list\n"
                                         "row \"ID 4\"\n"
                                         "menu 200\n"
                                         "expect-message \"Selftest question\" \"Proceed\"\n"
                                         "answer OK\n"
                                         "no-message\n"
                                         "status\n"
                                         "key F6\n"
                                         "focus\n"
                                         "key Tab\n"
                                         "focus\n"
                                         "context list\n"
                                         "menu 300\n"
                                         "status\n"
                                         "menu 201\n"
                                         "dialog \"Selftest dialog\"\n"
                                         "dump\n"
                                         "type 402 \"typed\"\n"
                                         "click 403\n"
                                         "wait-text 404 \"typed\" 5\n"
                                         "text 404\n"
                                         "text 403 404\n"
                                         "checks\n"
                                         "click 1\n"
                                         "open-row \"ID 7\"\n"
                                         "status\n"
                                         "file \"" +
                                         file +
                                         "\"\n"
                                         "screenshot \"e2e-shot.png\"\n"
                                         "minimize\n"
                                         "window\n"
                                         "start\n"
                                         "wait-exit\n"
                                         "window\n"
                                         "close\n"
                                         "wait-exit\n");
    EXPECT_TRUE(met) << transcript;
    std::vector<std::string> expected = {
        "start: main window shown",
        "selected: \"First adapter\"",
        "status 0: \"Selected: First adapter\"",
        "status 1: \"Answers: 0\"",
        "sort 1",
        "list view: details",
        "list columns: \"ID:\" | \"Type:\" | \"Vendor:\"",
        "list row: \"ID 0\" | \"Hard Disk\" | \"QUANTUM\" | picture 1",
        "list row: \"ID 7\" | \"Host Adapter\" | \"VELTRANE\" | picture 0",
        "list row: \"ID 4\" | \"Tape\" | \"ARCHIVE\" | picture 2",
        "row: \"ID 4\"",
        "menu 200",
        "message: \"Selftest question\"",
        "message text: \"Proceed?\\nSecond line\"",
        "message buttons: OK Cancel",
        "answer: OK",
        "no message box",
        "status 0: \"Selected: First adapter\"",
        "status 1: \"Answers: 1 OK\"",
        "key F6",
        "focus: tree",
        "key Tab",
        "focus: list",
        "context menu over the list",
        "menu 300",
        "status 0: \"Selected: First adapter\"",
        "status 1: \"Popup chosen\"",
        "menu 201",
        "dialog: \"Selftest dialog\"",
        "control 401 Button \"Three states\" visible enabled indeterminate",
        "control 402 Edit \"\" visible enabled",
        "control 403 Button \"&Go\" visible enabled",
        "control 404 Static \"Not yet\" visible enabled",
        "control 1 Button \"OK\" visible enabled",
        "type 402 \"typed\"",
        "click 403",
        "wait-text 404: \"typed\"",
        "text 404: \"typed\"",
        "text 403 404: \"&Go\" | \"typed\"",
        "checks: [-] \"Three states\"",
        "click 1",
        "open-row: \"ID 7\"",
        "status 0: \"Selected: First adapter\"",
        "status 1: \"Opened\"",
        "file: " + e2e::Quote(file),
        "| \"first\"<CR><LF>",
        "| \"second\"<LF>",
        "| \"last\"",
        "screenshot: e2e-shot.png",
        "minimize",
        "window: visible minimized foreground",
        "start: process ended",
        "exit code: 3",
        "window: visible normal foreground",
        "close",
        "exit code: 7",
    };
    EXPECT_EQ(Lines(transcript), expected);
    std::ifstream shot(TempPath("e2e-shot.png"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(shot)), {});
    EXPECT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    DeleteFileA(file.c_str());
    DeleteFileA(TempPath("e2e-shot.png").c_str());
}

// Property sheet pages and the common file dialog, as the device tools and
// the listing files use them.
TEST(Scenario, DrivesPropertySheetsAndFileDialogs) {
    std::string saved = TempPath("e2e-saved.txt");
    DeleteFileA(saved.c_str());
    auto [transcript, met] = RunScenario("start\n"
                                         "menu 203\n"
                                         "dialog \"Selftest sheet\"\n"
                                         "page 1\n"
                                         "text 412\n"
                                         "click 1\n"
                                         "no-message\n"
                                         "menu 204\n"
                                         "save-as \"" +
                                         saved +
                                         "\"\n"
                                         "status\n"
                                         "file \"" +
                                         saved +
                                         "\"\n"
                                         "close\n"
                                         "wait-exit\n");
    EXPECT_TRUE(met) << transcript;
    std::vector<std::string> expected = {
        "start: main window shown",
        "menu 203",
        "dialog: \"Selftest sheet\"",
        "page 1",
        "text 412: \"On the second page\"",
        "click 1",
        "no message box",
        "menu 204",
        "save-as: " + e2e::Quote(saved),
        "status 0: \"Selected: none\"",
        "status 1: \"Saved\"",
        "file: " + e2e::Quote(saved),
        "| \"line one\"<CR><LF>",
        "| \"line two\"<CR><LF>",
        "close",
        "exit code: 7",
    };
    EXPECT_EQ(Lines(transcript), expected);
    DeleteFileA(saved.c_str());
}

// The first unmet expectation stops the run and says what was there.
TEST(Scenario, StopsAtTheFirstUnmetExpectation) {
    auto [transcript, met] = RunScenario("start\n"
                                         "menu 200\n"
                                         "expect-message \"Other caption\" \"Proceed\"\n"
                                         "title\n");
    EXPECT_FALSE(met);
    auto lines = Lines(transcript);
    ASSERT_EQ(lines.size(), 3u) << transcript;
    EXPECT_EQ(lines[2], "UNMET line 3 (expect-message): message box \"Selftest question\" "
                        "\"Proceed?\\nSecond line\"");
}

TEST(Scenario, MissingItemsAreUnmet) {
    auto [transcript, met] = RunScenario("start\nselect \"No such adapter\"\n");
    EXPECT_FALSE(met);
    EXPECT_NE(transcript.find("UNMET line 2 (select): no such tree item; the tree holds \"Root\", "
                              "\"Second adapter\", \"First adapter\""),
              std::string::npos)
        << transcript;
}

} // namespace
