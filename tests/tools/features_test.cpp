// The feature gathering through the facade and the emulated library: which
// device types each step asks, and the texts each kind of answer leaves.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "shell/toolentry.h"
#include "tools/features.h"
#include "tools_fixture.h"

namespace {

using qvx::test::ToolsTest;
using Texts = std::vector<std::string>;

// Serial number, capacity, block size, read cache, write cache, media speed
// and buffer size of a slot.
Texts StoredTexts(const DeviceRecord& d) {
    return {d.SerialNumber,   d.CapacityText,   d.BlockSizeText, d.ReadCacheText,
            d.WriteCacheText, d.MediaSpeedText, d.BufferSizeText};
}

class Features : public ToolsTest {};

TEST_F(Features, EachStepAsksOnlyTheTypesItDoesNotSkip) {
    const std::string na = TextNotAvailable;
    // What disk 0 answers, and what a skipped device gets, field by field.
    const Texts asked = {"QX0542",   "542 MB",   "512 Bytes", "Disabled",
                         "Disabled", "5400 RPM", "512 KB"};
    const Texts skipped = {"", "", "", na, na, na, ""};
    struct Case {
        const char* type;
        bool serial, capacity, cache, speed, buffer;
    };
    const Case cases[] = {
        {TextHardDisk, 1, 1, 1, 1, 1},    {TextRemovable, 1, 1, 1, 1, 1},
        {TextOptical, 1, 1, 1, 1, 1},     {TextPrinter, 1, 1, 1, 1, 1},
        {TextCdRom, 1, 1, 1, 0, 1},       {TextWorm, 1, 1, 1, 0, 1},
        {TextUnknown, 1, 1, 1, 0, 0},     {TextTape, 1, 0, 0, 0, 1},
        {TextScanner, 1, 0, 0, 0, 0},     {TextNoDevice, 0, 0, 0, 0, 1},
        {TextHostAdapter, 0, 0, 0, 0, 1},
    };
    // Every slot names the same disk, which answers every command. The
    // first six fill slots 0-5, the rest the second adapter's block from 16:
    // the empty slots between are no devices, and the filled slots beyond
    // TotalDeviceCount - 1 are visited all the same.
    const int slots[] = {0, 1, 2, 3, 4, 5, 16, 17, 18, 19, 20};
    for (size_t i = 0; i < std::size(cases); i++)
        Fill(slots[i], 0, cases[i].type);
    TotalDeviceCount = static_cast<LONG>(std::size(cases));

    CollectDeviceFeatures();

    for (size_t i = 0; i < std::size(cases); i++) {
        const Case& c = cases[i];
        const bool fieldAsked[] = {c.serial, c.capacity, c.capacity, c.cache,
                                   c.cache,  c.speed,    c.buffer};
        Texts expected;
        for (size_t f = 0; f < asked.size(); f++)
            expected.push_back(fieldAsked[f] ? asked[f] : skipped[f]);
        EXPECT_EQ(StoredTexts(DeviceTable[slots[i]]), expected) << c.type;
    }
    for (int slot = 6; slot < 16; slot++)
        EXPECT_EQ(StoredTexts(DeviceTable[slot]), Texts(7)) << "empty slot " << slot;
}

TEST_F(Features, AnswersBecomeTheStoredTexts) {
    const std::string na = TextNotAvailable;
    struct Case {
        BYTE target;
        LONG ansi;
        Texts texts;
        const char* what;
    };
    const Case cases[] = {
        {0,
         2,
         {"QX0542", "542 MB", "512 Bytes", "Disabled", "Disabled", "5400 RPM", "512 KB"},
         "megabytes; RCD set"},
        {1,
         2,
         {"QX9100", "8.683 GB", "512 Bytes", "Enabled", "Enabled", "10033 RPM", "1023 KB"},
         "above 8 GB: all 32 address bits; the largest kilobyte form"},
        {2,
         1,
         {na, "2.047 GB", "512 Bytes", "Disabled", "Enabled", na, "1.5 MB"},
         "SCSI-1: no serial number asked; thousandths padded with zeros"},
        {3,
         2,
         {na, "1.000 GB", "512 Bytes", na, na, na, "1.0 MB"},
         "1000 MB; no serial, caching or geometry page; the smallest megabyte form"},
        {4,
         2,
         {"QX0004", "", "", "Enabled", "Disabled", "3600 RPM", "15.9 MB"},
         "block length 0: no capacity; the largest buffer a descriptor can give"},
        {5,
         2,
         {na, "", "", "Enabled", "Disabled", na, ""},
         "last block address 0; descriptor capacity byte FFh"},
        {6,
         2,
         {na, "", "", "Enabled", "Disabled", na, "1.1 MB"},
         "never ready: no capacity; megabytes rounded to the nearest tenth"},
        {8,
         2,
         {na, "1.249 GB", "131072 Bytes", "Enabled", "Disabled", na, ""},
         "blocks above 64 KB: all 32 length bits; no buffer"},
        {10, 2, {na, "", "", na, na, na, ""}, "nothing at this SCSI ID"},
    };
    for (size_t i = 0; i < std::size(cases); i++)
        Fill(static_cast<int>(i), cases[i].target, TextHardDisk, cases[i].ansi);
    TotalDeviceCount = static_cast<LONG>(std::size(cases));

    DWORD start = GetTickCount();
    ToolEntries.CollectFeatures(); // as the main window runs it after a scan
    DWORD took = GetTickCount() - start;

    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(StoredTexts(DeviceTable[i]), cases[i].texts) << cases[i].what;
    // Seven devices were ready and had their capacity asked, each after its
    // wait (the clock may tick up to a few milliseconds short of a wait).
    EXPECT_GE(took, 7u * (CAPACITY_SETTLE_MS - 20));
}

} // namespace
