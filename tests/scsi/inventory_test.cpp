// The inventory's text copies and the clearing rules of start-up and re-scan.
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
    CopyText(vendor, sizeof vendor, "QUANTUM");
    EXPECT_STREQ(vendor, "QUANTUM");
}

TEST(CopyText, FixedFieldsOfEightAndSixteenCharactersAreStoredWhole) {
    BYTE inquiry[36] = {};
    std::memcpy(inquiry + 8, "MAXOPTIXTAHITI II 1.3GB!1.05", 28);
    DeviceRecord& slot = DeviceTable[5];
    CopyTextField(slot.Vendor, sizeof slot.Vendor, inquiry + 8, 8);
    CopyTextField(slot.Product, sizeof slot.Product, inquiry + 16, 16);
    CopyTextField(slot.Revision, sizeof slot.Revision, inquiry + 32, 4);
    EXPECT_STREQ(slot.Vendor, "MAXOPTIX");
    EXPECT_STREQ(slot.Product, "TAHITI II 1.3GB!");
    EXPECT_STREQ(slot.Revision, "1.05");
    char small[4];
    CopyTextField(small, sizeof small, "ABCDEFGH", 8);
    EXPECT_STREQ(small, "ABC");
    CopyTextField(small, sizeof small, "A\0BC", 4);
    EXPECT_STREQ(small, "A");
}

TEST(Inventory, StartsZeroedWithWideBusNeverSet) {
    WideBusSetting = WIDE_BUS_CHECKED;
    AdapterCount = 3;
    CopyText(HostAdapterTable[2].Identifier, sizeof HostAdapterTable[2].Identifier, "KESTRAIL");
    InitializeInventory();
    EXPECT_EQ(WideBusSetting, -1);
    EXPECT_EQ(AdapterCount, 0);
    EXPECT_EQ(HostAdapterTable[2].Identifier[0], '\0');
}

TEST(Inventory, RescanReleasesBitmapsAndClearsTablesAndSelections) {
    HBITMAP bitmap = CreateBitmap(8, 8, 1, 1, nullptr);
    ASSERT_NE(bitmap, nullptr);
    DeviceTable[17].TypeBitmap = bitmap;
    CopyText(DeviceTable[17].TypeText, sizeof DeviceTable[17].TypeText, "Hard Disk");
    HostAdapterTable[1].DeviceCount = 4;
    AdapterCount = 2;
    TotalDeviceCount = 32;
    ScanSlot = 31;
    ScanComplete = 1;
    SelectedAdapter = 1;
    SelectedDevice = 17;
    ResetInventoryForRescan();
    EXPECT_EQ(GetObjectType(bitmap), 0u) << "bitmap was released";
    EXPECT_EQ(DeviceTable[17].TypeBitmap, nullptr);
    EXPECT_EQ(DeviceTable[17].TypeText[0], '\0');
    EXPECT_EQ(HostAdapterTable[1].DeviceCount, 0);
    EXPECT_EQ(AdapterCount, 0);
    EXPECT_EQ(TotalDeviceCount, 0);
    EXPECT_EQ(ScanSlot, 0);
    EXPECT_EQ(ScanComplete, 0);
    EXPECT_EQ(SelectedAdapter, -1);
    EXPECT_EQ(SelectedDevice, -1);
}

} // namespace
