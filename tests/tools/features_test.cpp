// The feature gathering through the facade and the emulated library: which
// device types each step asks, and the texts each kind of answer leaves.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "shell/toolentry.h"
#include "support/emuaspi.h"
#include "tools/features.h"
#include "support/devicetools.h"

namespace {

using qvx::test::ClearJournal;
using qvx::test::DeviceToolsTest;
using qvx::test::JournalText;
using Texts = std::vector<std::string>;

// Serial number, capacity, block size, read cache, write cache, media speed
// and buffer size of a slot.
Texts StoredTexts(const DeviceRecord& d) {
    return {d.SerialNumber,   d.CapacityText,   d.BlockSizeText, d.ReadCacheText,
            d.WriteCacheText, d.MediaSpeedText, d.BufferSizeText};
}

class Features : public DeviceToolsTest {};

// The exact commands each step sends each kind of device, from the bus's
// journal: the steps run one after another, each over the slots in order.
TEST_F(Features, SendsEachKindItsCommands) {
    // The steps in the order they run, each over the slots in order, with the
    // command each sends: serial number, capacity, caches, rotation rate, buffer.
    const std::pair<char, const char*> steps[] = {
        {'s', "12 01 80 00 FF 00 in 255 flags 08"},
        {'c', "00 00 00 00 00 00 none 0 flags 00"},
        {'w', "1A 08 08 00 FF 00 in 255 flags 08"},
        {'r', "1A 08 04 00 FF 00 in 255 flags 08"},
        {'b', "3C 03 00 00 00 00 00 00 08 00 in 8 flags 08"}};
    struct Kind {
        const char* type;
        int slot;
        const char* steps; // those that ask it
    };
    // Disk 0 is ready, so READ CAPACITY follows its TEST UNIT READY; disk 6
    // never is, and stands for the other kinds that are asked. Slots 5-15
    // are empty; slots 16 and up lie beyond TotalDeviceCount - 1 and are
    // visited all the same.
    const Kind kinds[] = {
        {TextHardDisk, 0, "scwrb"}, {TextRemovable, 1, "scwrb"}, {TextOptical, 2, "scwrb"},
        {TextPrinter, 3, "scwrb"},  {TextCdRom, 4, "scwb"},      {TextWorm, 16, "scwb"},
        {TextUnknown, 17, "scw"},   {TextTape, 18, "sb"},        {TextScanner, 19, "s"},
        {TextNoDevice, 20, "b"},    {TextHostAdapter, 21, "b"}};
    for (const Kind& k : kinds)
        Fill(k.slot, k.slot == 0 ? 0 : 6, k.type);
    TotalDeviceCount = static_cast<LONG>(std::size(kinds));
    ClearJournal();
    CollectDeviceFeatures();

    std::string expected;
    for (const auto& [step, command] : steps)
        for (const Kind& k : kinds) {
            if (strchr(k.steps, step) == nullptr)
                continue;
            std::string at = k.slot == 0 ? "0:0:0 " : "0:6:0 ";
            expected += at + command + "\n";
            if (step == 'c' && k.slot == 0)
                expected += at + "25 00 00 00 00 00 00 00 00 00 in 8 flags 08\n";
        }
    EXPECT_EQ(JournalText(), expected);

    // Kinds whose cache states or media speed are not asked have them
    // marked unknown.
    const std::string na = TextNotAvailable;
    for (const Kind& k : kinds) {
        const DeviceRecord& d = DeviceTable[k.slot];
        EXPECT_TRUE(strchr(k.steps, 'w') ||
                    d.ReadCacheText + ("|" + std::string(d.WriteCacheText)) == na + "|" + na)
            << k.type;
        EXPECT_TRUE(strchr(k.steps, 'r') || d.MediaSpeedText == na) << k.type;
    }
}

TEST_F(Features, AnswersBecomeTheStoredTexts) {
    const std::string na = TextNotAvailable;
    struct Case {
        BYTE adapter, target;
        LONG ansi;
        Texts texts;
    };
    // clang-format off
    const Case cases[] = {
        // Megabytes; RCD set.
        {0, 0, 2, {"QX0542", "542 MB", "512 Bytes", "Disabled", "Disabled", "5400 RPM", "512 KB"}},
        // Above 8 GB: all 32 address bits; the largest kilobyte form.
        {0, 1, 2, {"QX9100", "8.683 GB", "512 Bytes", "Enabled", "Enabled", "10033 RPM", "1023 KB"}},
        // SCSI-1: no serial number asked; thousandths padded with zeros.
        {0, 2, 1, {na, "2.047 GB", "512 Bytes", "Disabled", "Enabled", na, "1.5 MB"}},
        // 1000 MB; no serial, caching or geometry page; the smallest megabyte form.
        {0, 3, 2, {na, "1.000 GB", "512 Bytes", na, na, na, "1.0 MB"}},
        // Block length 0: no capacity; the largest buffer a descriptor can give.
        {0, 4, 2, {"QX0004", "", "", "Enabled", "Disabled", "3600 RPM", "15.9 MB"}},
        // Last block address 0; descriptor capacity byte FFh.
        {0, 5, 2, {na, "", "", "Enabled", "Disabled", na, ""}},
        // Never ready: no capacity; megabytes rounded to the nearest tenth.
        {0, 6, 2, {na, "", "", "Enabled", "Disabled", na, "1.1 MB"}},
        // Blocks above 64 KB: all 32 length bits; no buffer.
        {0, 8, 2, {na, "1.249 GB", "131072 Bytes", "Enabled", "Disabled", na, ""}},
        {0, 10, 2, {na, "", "", na, na, na, ""}}, // nothing at this SCSI ID
        // Behind an adapter that reports short transfers as data underruns:
        // BUSY to TEST UNIT READY and MODE SENSE; reserved by another
        // initiator (only INQUIRY gets through); a serial number
        // left-justified in 16 characters keeps its blanks.
        {1, 0, 2, {"FLT100", "", "", na, na, na, "64 KB"}},
        {1, 1, 2, {"FLT101", "", "", na, na, na, ""}},
        {1, 3, 2, {"FLT103          ", "48 MB", "512 Bytes", "Enabled", "Disabled", na, "64 KB"}},
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); i++)
        Fill(static_cast<int>(i), cases[i].target, TextHardDisk, cases[i].ansi).AdapterNumber =
            cases[i].adapter;
    TotalDeviceCount = static_cast<LONG>(std::size(cases));

    DWORD start = GetTickCount();
    ToolEntries.CollectFeatures(); // as the main window runs it after a scan
    DWORD took = GetTickCount() - start;

    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(StoredTexts(DeviceTable[i]), cases[i].texts) << i;
    // Eight devices were ready and had their capacity asked, each after its
    // wait (the clock may tick up to a few milliseconds short of a wait).
    EXPECT_GE(took, 8u * (CAPACITY_SETTLE_MS - 20));
}

} // namespace
