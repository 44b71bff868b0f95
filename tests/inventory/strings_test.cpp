// The string table as the program loads it, and the texts kept in memory.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

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
}

// The driver stand-in beside this test: a library without strings.
HMODULE WithoutStrings() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string stub(path);
    stub = stub.substr(0, stub.find_last_of("\\/") + 1) + "qvxdriverstub.dll";
    return LoadLibraryExA(stub.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// The 45 texts kept in memory are loaded whole, each into its own buffer;
// where they cannot be loaded the program learns it.
TEST(PreloadedStrings, LoadWholeEachIntoItsBufferOrFail) {
    const UINT ids[] = {50000, 50010, 50011, 50012, 50018, 50019, 50026, 50027, 50028,
                        50029, 50030, 50031, 50032, 50071, 50073, 50033, 50034, 50038,
                        50039, 50040, 50041, 50042, 50043, 50044, 50045, 50046, 50047,
                        50087, 50088, 50048, 50049, 50050, 50051, 50052, 50053, 50054,
                        50055, 50056, 50057, 50060, 50063, 50070, 50083, 50084, 50085};
    char* const buffers[] = {
        MessageCaption,  TextNoDevice,        TextHostAdapter,       TextRescanQuery,
        TextNone,        TextOpenTitle,       TextHardDisk,          TextCdRom,
        TextTape,        TextRemovable,       TextTypeHostAdapter,   TextWorm,
        TextScanner,     TextPrinter,         TextOptical,           TextTypeNoDevice,
        TextUnknown,     TextSaveAsTitle,     TextPropertiesCaption, TextControllerHint,
        TextOk,          TextNoDeviceHint,    TextBeginTests,        TextWarning1,
        TextWarning3,    TextWarning5,        TextWarning6,          TextWarning2,
        TextWarning4,    TextDiagnosticTests, TextDiagInProgress,    TextTesting,
        TextPassed,      TextFailed,          TextLastSenseData,     TextSenseKey,
        TextSenseCode,   TextSenseQualifier,  TextContinueQuery,     TextDiagComplete,
        TextDiagSuccess, TextNotTested,       TextNotAvailable,      TextEnabled,
        TextDisabled};
    static_assert(std::size(ids) == PRELOADED_STRING_COUNT && std::size(buffers) == std::size(ids));
    for (HMODULE strings : {WithoutStrings(), GetModuleHandleA(nullptr)}) {
        ASSERT_NE(strings, nullptr);
        for (char* buffer : buffers)
            buffer[0] = '\0';
        bool own = strings == GetModuleHandleA(nullptr);
        EXPECT_EQ(PreloadStrings(strings), own ? 1 : 0);
        for (size_t i = 0; i < std::size(ids); i++)
            EXPECT_EQ(buffers[i], own ? Load(ids[i]) : "") << ids[i];
    }
}

} // namespace
