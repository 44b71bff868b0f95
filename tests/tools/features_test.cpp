// The feature gathering through the facade and the emulated library: which
// device types each step asks, and the texts each kind of answer leaves.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "shell/toolentry.h"
#include "support/emuaspi.h"
#include "tools/features.h"
#include "tools_fixture.h"

namespace {

using qvx::test::ClearJournal;
using qvx::test::JournalText;
using qvx::test::ToolsTest;
using Texts = std::vector<std::string>;

// Serial number, capacity, block size, read cache, write cache, media speed
// and buffer size of a slot.
Texts StoredTexts(const DeviceRecord& d) {
    return {d.SerialNumber,   d.CapacityText,   d.BlockSizeText, d.ReadCacheText,
            d.WriteCacheText, d.MediaSpeedText, d.BufferSizeText};
}

class Features : public ToolsTest {};

// The exact commands each step sends each kind of device, from the bus's
// journal: the steps run one after another, each over the slots in order.
TEST_F(Features, SendsEachKindItsCommands) {
    struct Kind {
        const char* type;
        int slot;
        bool serial, capacity, cache, speed, buffer;
    };
    // Disk 0 is ready, so READ CAPACITY follows its TEST UNIT READY; disk 6
    // never is, and stands for the other kinds that are asked. Slots 5-15
    // are empty; slots 16 and up lie beyond TotalDeviceCount - 1 and are
    // visited all the same.
    const Kind kinds[] = {
        {TextHardDisk, 0, 1, 1, 1, 1, 1},     {TextRemovable, 1, 1, 1, 1, 1, 1},
        {TextOptical, 2, 1, 1, 1, 1, 1},      {TextPrinter, 3, 1, 1, 1, 1, 1},
        {TextCdRom, 4, 1, 1, 1, 0, 1},        {TextWorm, 16, 1, 1, 1, 0, 1},
        {TextUnknown, 17, 1, 1, 1, 0, 0},     {TextTape, 18, 1, 0, 0, 0, 1},
        {TextScanner, 19, 1, 0, 0, 0, 0},     {TextNoDevice, 20, 0, 0, 0, 0, 1},
        {TextHostAdapter, 21, 0, 0, 0, 0, 1},
    };
    for (const Kind& k : kinds)
        Fill(k.slot, k.slot == 0 ? 0 : 6, k.type);
    TotalDeviceCount = static_cast<LONG>(std::size(kinds));
    ClearJournal();
    CollectDeviceFeatures();

    std::string expected;
    auto sent = [&](const Kind& k, const char* command) {
        expected += (k.slot == 0 ? "0:0:0 " : "0:6:0 ") + std::string(command) + "\n";
    };
    for (const Kind& k : kinds)
        if (k.serial)
            sent(k, "12 01 80 00 FF 00 in 255 flags 08");
    for (const Kind& k : kinds) {
        if (k.capacity)
            sent(k, "00 00 00 00 00 00 none 0 flags 00");
        if (k.capacity && k.slot == 0)
            sent(k, "25 00 00 00 00 00 00 00 00 00 in 8 flags 08");
    }
    for (const Kind& k : kinds)
        if (k.cache)
            sent(k, "1A 08 08 00 FF 00 in 255 flags 08");
    for (const Kind& k : kinds)
        if (k.speed)
            sent(k, "1A 08 04 00 FF 00 in 255 flags 08");
    for (const Kind& k : kinds)
        if (k.buffer)
            sent(k, "3C 03 00 00 00 00 00 00 08 00 in 8 flags 08");
    EXPECT_EQ(JournalText(), expected);

    // Kinds whose cache states or media speed are not asked have them
    // marked unknown.
    for (const Kind& k : kinds) {
        const DeviceRecord& d = DeviceTable[k.slot];
        const std::string na = TextNotAvailable;
        EXPECT_TRUE(k.cache ||
                    d.ReadCacheText + (" " + std::string(d.WriteCacheText)) == na + " " + na)
            << k.type;
        EXPECT_TRUE(k.speed || d.MediaSpeedText == na) << k.type;
    }
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
