// The inventory's text copies and what a re-scan clears.
#include <gtest/gtest.h>
#include <iterator>
#include "inventory/inventory.h"

namespace {

TEST(CopyText, CutsToTheBufferOrTheFieldAndAlwaysTerminates) {
    char small[4] = "xyz";
    CopyText(small, sizeof small, "MAXTOR");
    EXPECT_STREQ(small, "MAX");
    CopyText(small, sizeof small, nullptr);
    EXPECT_STREQ(small, "");
    // Fixed fields stop at their count, a NUL or the buffer's end.
    const std::pair<const char*, size_t> fields[] = {{"ABCDEFGH", 8}, {"A\0BC", 4}, {"ABCD", 2}};
    const char* const cut[] = {"ABC", "A", "AB"};
    for (size_t i = 0; i < std::size(fields); i++) {
        CopyTextField(small, sizeof small, fields[i].first, fields[i].second);
        EXPECT_STREQ(small, cut[i]);
    }
}

TEST(Inventory, RescanReleasesBitmapsAndClearsTablesAndSelections) {
    HBITMAP bitmap = CreateBitmap(8, 8, 1, 1, nullptr);
    DeviceTable[17].TypeBitmap = bitmap;
    CopyText(DeviceTable[17].TypeText, sizeof DeviceTable[17].TypeText, "Hard Disk");
    HostAdapterTable[1].DeviceCount = 4;
    AdapterCount = TotalDeviceCount = ScanSlot = ScanComplete = 2;
    SelectedAdapter = SelectedDevice = 1;
    ResetInventoryForRescan();
    EXPECT_EQ(GetObjectType(bitmap), 0u) << "bitmap was released";
    EXPECT_EQ(DeviceTable[17].TypeBitmap, nullptr);
    EXPECT_EQ(DeviceTable[17].TypeText[0] + HostAdapterTable[1].DeviceCount, 0);
    EXPECT_EQ(AdapterCount + TotalDeviceCount + ScanSlot + ScanComplete, 0);
    EXPECT_TRUE(SelectedAdapter == -1 && SelectedDevice == -1);
}

} // namespace
