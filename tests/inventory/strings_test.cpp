// The string table as the program loads it, and the texts kept in memory.
#include <gtest/gtest.h>

#include <iterator>
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

TEST(StringTable, HoldsEveryIdentifierOfTheProgram) {
    // Ranges of identifiers as first, last pairs.
    const UINT ranges[] = {1,    2,     5,     11,    20,    48,    101,   104,   120,  123,  901,
                           902,  5000,  5003,  5100,  5120,  5200,  5221,  5300,  5311, 5400, 5406,
                           5800, 5801,  5900,  5900,  6000,  6000,  6100,  6100,  6200, 6200, 6300,
                           6300, 10000, 10000, 40003, 40003, 50000, 50085, 50087, 50090};
    size_t count = 0;
    for (size_t r = 0; r < std::size(ranges); r += 2)
        for (UINT id = ranges[r]; id <= ranges[r + 1]; id++, count++)
            EXPECT_FALSE(Load(id).empty()) << "string " << id << " is missing";
    EXPECT_EQ(count, 213u);
    EXPECT_TRUE(Load(50086).empty());
    // Duplicates stay equal; line breaks, tabs and trailing blanks are kept.
    EXPECT_EQ(Load(IDS_NO_DEVICE), Load(IDS_TYPE_NO_DEVICE));
    EXPECT_EQ(Load(IDS_HOST_ADAPTER), Load(IDS_TYPE_HOST_ADAPTER));
    EXPECT_EQ(Load(IDS_HINT_SAVE), Load(IDS_HINT_SAVE_AS));
    EXPECT_EQ(Load(IDS_DIAG_CONFIRMATION),
              "Device operating functionality has been checked       \r\n"
              "Cable connections have been verified                   \r\n"
              "This device is properly installed ");
    EXPECT_EQ(Load(IDS_CDERR_INITIALIZATION),
              "Failure initializing CD.  Possibly\n\r do to insufficient memory.");
}

// A library without strings (the driver stand-in beside this test) given
// this program's string table from 50000 on, with one string left empty.
HMODULE StringsWithout(UINT missing) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string stub(path);
    stub = stub.substr(0, stub.find_last_of("\\/") + 1) + "qvxdriverstub.dll";
    GetTempPathA(sizeof path, path);
    std::string copy = std::string(path) + "qvx-strings.dll";
    EXPECT_TRUE(CopyFileA(stub.c_str(), copy.c_str(), FALSE)) << stub;
    HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
    for (UINT block = 50000 / 16 + 1; block <= 50095 / 16 + 1; block++) { // 16 strings each
        std::vector<WCHAR> data;
        for (UINT id = (block - 1) * 16; id < block * 16; id++) {
            WCHAR text[2048];
            int n = id == missing ? 0 : LoadStringW(GetModuleHandleA(nullptr), id, text, 2048);
            data.push_back(WCHAR(n));
            data.insert(data.end(), text, text + n);
        }
        UpdateResourceA(update, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(block), // RT_STRING
                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), data.data(),
                        DWORD(data.size() * sizeof(WCHAR)));
    }
    EXPECT_TRUE(EndUpdateResourceA(update, FALSE));
    return LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// The 45 texts kept in memory are loaded whole, in this order, and loading
// stops at the first that fails, leaving the later ones unloaded.
TEST(PreloadedStrings, LoadWholeInOrderAndStopAtTheFirstMissing) {
    const std::pair<UINT, char*> kept[] = {{50000, MessageCaption},
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
                                           {50085, TextDisabled}};
    ASSERT_EQ(std::size(kept), size_t(PRELOADED_STRING_COUNT));
    for (size_t missing = 0; missing < std::size(kept); missing++) {
        HMODULE strings = StringsWithout(kept[missing].first);
        ASSERT_NE(strings, nullptr);
        for (const auto& [id, buffer] : kept)
            buffer[0] = '\0';
        EXPECT_EQ(PreloadStrings(strings), 0);
        FreeLibrary(strings);
        for (size_t i = 0; i < std::size(kept); i++)
            EXPECT_EQ(kept[i].second, i < missing ? Load(kept[i].first) : "")
                << "without " << kept[missing].first << ": string " << kept[i].first;
    }
    ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
    for (const auto& [id, buffer] : kept)
        EXPECT_EQ(buffer, Load(id)) << id;
}

} // namespace
