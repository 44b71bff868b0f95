// The inventory's text copies and what a re-scan clears.
#include <gtest/gtest.h>
#include <cstring>
#include "inventory/inventory.h"

namespace {

TEST(CopyText, CutsToTheBufferAndAlwaysTerminates) {
    char vendor[sizeof DeviceTable[0].Vendor];
    std::memset(vendor, 'x', sizeof vendor);
    CopyText(vendor, sizeof vendor, "MAXTORXT-8760S");
    EXPECT_STREQ(vendor, "MAXTORXT-");
    CopyText(vendor, sizeof vendor, nullptr);
    EXPECT_STREQ(vendor, "");
    // Fixed fields stop at their count, a NUL or the buffer's end.
    char small[4];
    CopyTextField(small, sizeof small, "ABCDEFGH", 8);
    EXPECT_STREQ(small, "ABC");
    CopyTextField(small, sizeof small, "A\0BC", 4);
    EXPECT_STREQ(small, "A");
}

TEST(Inventory, RescanReleasesBitmapsAndClearsTablesAndSelections) {
    HBITMAP bitmap = CreateBitmap(8, 8, 1, 1, nullptr);
    ASSERT_NE(bitmap, nullptr);
    DeviceTable[17].TypeBitmap = bitmap;
    CopyText(DeviceTable[17].TypeText, sizeof DeviceTable[17].TypeText, "Hard Disk");
    HostAdapterTable[1].DeviceCount = 4;
    AdapterCount = TotalDeviceCount = ScanSlot = ScanComplete = 2;
    SelectedAdapter = SelectedDevice = 1;
    ResetInventoryForRescan();
    EXPECT_EQ(GetObjectType(bitmap), 0u) << "bitmap was released";
    EXPECT_EQ(DeviceTable[17].TypeBitmap, nullptr);
    EXPECT_EQ(DeviceTable[17].TypeText[0], '\0');
    EXPECT_EQ(HostAdapterTable[1].DeviceCount, 0);
    EXPECT_EQ(AdapterCount + TotalDeviceCount + ScanSlot + ScanComplete, 0);
    EXPECT_EQ(SelectedAdapter, -1);
    EXPECT_EQ(SelectedDevice, -1);
}

} // namespace
