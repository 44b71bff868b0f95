// The string table as the program loads it, and the texts kept in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "shell/strings.h"

namespace {

std::string Load(UINT id) {
    char buffer[4096];
    int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? n : 0);
}

std::vector<UINT> AllStringIds() {
    std::vector<UINT> ids = {1, 40003, 901, 902, 6000, 6100, 6200, 6300, 10000, 5800, 5801, 5900};
    auto range = [&](UINT first, UINT last) {
        for (UINT id = first; id <= last; id++)
            ids.push_back(id);
    };
    range(5, 11);
    range(20, 48);
    range(101, 104);
    range(120, 123);
    range(5000, 5003);
    range(5100, 5120);
    range(5200, 5221);
    range(5300, 5311);
    range(5400, 5406);
    range(50000, 50085);
    range(50087, 50090);
    return ids;
}

TEST(StringTable, HoldsEveryIdentifierOfTheProgram) {
    std::vector<UINT> ids = AllStringIds();
    ASSERT_EQ(ids.size(), 212u);
    for (UINT id : ids)
        EXPECT_FALSE(Load(id).empty()) << "string " << id << " is missing";
    EXPECT_TRUE(Load(50086).empty());
}

TEST(StringTable, KeepsLineBreaksTabsAndTrailingBlanks) {
    EXPECT_EQ(Load(IDS_DIAG_CONFIRMATION),
              "Device operating functionality has been checked       \r\n"
              "Cable connections have been verified                   \r\n"
              "This device is properly installed ");
    EXPECT_EQ(Load(IDS_MSG_WIN32S), "This program requires Windows 95 or Windows NT 4.00.\t\n\n"
                                    "Found:  WIN32s.\nQuorvex Diagnostics must exit.");
    EXPECT_EQ(Load(IDS_CDERR_INITIALIZATION),
              "Failure initializing CD.  Possibly\n\r do to insufficient memory.");
    EXPECT_EQ(Load(IDS_MSG_NO_HELP_PATH),
              "Could not access the registry entry for the 'HelpPath' value !\n"
              "Quorvex Diagnostics must exit.");
    EXPECT_EQ(Load(IDS_MSG_FORMAT_IN_PROGRESS),
              "Low-level format is in progress, Quorvex Diagnostics must exit.");
    EXPECT_EQ(Load(IDS_LOAD_STRING_FAILED), "Failure loading specified string");
}

TEST(StringTable, DuplicateTextsStayEqual) {
    EXPECT_EQ(Load(IDS_NO_DEVICE), Load(IDS_TYPE_NO_DEVICE));
    EXPECT_EQ(Load(IDS_HOST_ADAPTER), Load(IDS_TYPE_HOST_ADAPTER));
    EXPECT_EQ(Load(IDS_HINT_SAVE), Load(IDS_HINT_SAVE_AS));
}

TEST(PreloadedStrings, AreLoadedWholeIntoTheirBuffers) {
    ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
    struct Kept {
        UINT id;
        const char* text;
    } kept[] = {
        {50000, MessageCaption},
        {50010, TextNoDevice},
        {50011, TextHostAdapter},
        {50012, TextRescanQuery},
        {50018, TextNone},
        {50019, TextOpenTitle},
        {50026, TextHardDisk},
        {50027, TextCdRom},
        {50028, TextTape},
        {50029, TextRemovable},
        {50030, TextTypeHostAdapter},
        {50031, TextWorm},
        {50032, TextScanner},
        {50071, TextPrinter},
        {50073, TextOptical},
        {50033, TextTypeNoDevice},
        {50034, TextUnknown},
        {50038, TextSaveAsTitle},
        {50039, TextPropertiesCaption},
        {50040, TextControllerHint},
        {50041, TextOk},
        {50042, TextNoDeviceHint},
        {50043, TextBeginTests},
        {50044, TextWarning1},
        {50045, TextWarning3},
        {50046, TextWarning5},
        {50047, TextWarning6},
        {50087, TextWarning2},
        {50088, TextWarning4},
        {50048, TextDiagnosticTests},
        {50049, TextDiagInProgress},
        {50050, TextTesting},
        {50051, TextPassed},
        {50052, TextFailed},
        {50053, TextLastSenseData},
        {50054, TextSenseKey},
        {50055, TextSenseCode},
        {50056, TextSenseQualifier},
        {50057, TextContinueQuery},
        {50060, TextDiagComplete},
        {50063, TextDiagSuccess},
        {50070, TextNotTested},
        {50083, TextNotAvailable},
        {50084, TextEnabled},
        {50085, TextDisabled},
    };
    ASSERT_EQ(sizeof kept / sizeof kept[0], size_t(PRELOADED_STRING_COUNT));
    for (const Kept& k : kept)
        EXPECT_EQ(std::string(k.text), Load(k.id)) << "string " << k.id;
    EXPECT_STREQ(MessageCaption, "Quorvex Diagnostics status:");
    EXPECT_STREQ(TextUnknown, "UnKnown");
}

TEST(PreloadedStrings, FailWhenTheTableIsMissing) {
    // A module with resources but no string table: the first load fails.
    HMODULE noStrings = LoadLibraryExA("wnaspi32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(noStrings, nullptr);
    MessageCaption[0] = '\0';
    EXPECT_EQ(PreloadStrings(noStrings), 0);
    EXPECT_STREQ(MessageCaption, "");
    FreeLibrary(noStrings);
    ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
}

} // namespace
