// A smoke test of the e2e driver on its selftest window: a scenario read
// from text, run against the window's tree, list, status bar and message
// box, and the transcript it prints. The scenarios against the program
// prove the rest.
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>

#include "scenario.h"
#include "session.h"

namespace {

std::string BinFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p = path;
    return p.substr(0, p.find_last_of("\\/"));
}

TEST(Driver, RunsAScenarioAgainstAWindow) {
    e2e::SessionOptions options;
    options.program = BinFolder() + "\\e2e_selftest.exe";
    options.mainClass = "E2E_Selftest";
    options.waitSeconds = 20;
    std::ostringstream out;
    {
        e2e::Session session(options, out);
        session.Run(e2e::ParseScenario("start\n"
                                       "select-adapter 0  # the second item\n"
                                       "list\n"
                                       "menu 200\n"
                                       "expect-message \"Selftest question\" \"Proceed\"\n"
                                       "answer Cancel\n"
                                       "status\n"
                                       "close\n"
                                       "wait-exit\n"));
    }
    EXPECT_EQ(out.str(), "start: main window shown\n"
                         "selected: \"First adapter\"\n"
                         "list view: details\n"
                         "list row: \"ID 4\" | \"Tape\" | picture 2\n"
                         "list row: \"ID 0\" | \"Hard Disk\" | picture 1\n"
                         "menu 200\n"
                         "message: \"Selftest question\"\n"
                         "message text: \"Proceed?\\nSecond line\"\n"
                         "message buttons: OK Cancel\n"
                         "answer: Cancel\n"
                         "status 0: \"Selected: First adapter\"\n"
                         "status 1: \"Answers: 1 Cancel\"\n"
                         "close\n"
                         "exit code: 7\n");
}

} // namespace
