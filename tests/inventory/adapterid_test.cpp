// Host adapter identification against registry keys the tests lay
// themselves, in the places Windows NT and Windows 95 keep them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inventory/adapterid.h"
#include "inventory/registry.h"

namespace {

using qvx::test::RegistryKeys;

const std::string kPorts = "Hardware\\DeviceMap\\Scsi\\";
const std::string kLegacy = "System\\CurrentControlSet\\Enum\\Root\\";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter";
const std::string kPci = "Enum\\PCI";

class AdapterIdentification : public testing::Test {
  protected:
    void SetUp() override {
        InitializeInventory();
        FileVersionText[0] = '\0';
    }

    HostAdapterRecord& Record(int i) {
        return HostAdapterTable[i];
    }

    // An NT SCSI port and the legacy enumeration key of its driver.
    void LayNtPort(int port, const std::string& driver, DWORD ioAddress, const char* mfg,
                   const char* desc, const char* service) {
        std::string portKey = kPorts + "Scsi Port " + std::to_string(port);
        keys.Own(portKey);
        ASSERT_TRUE(keys.SetString(portKey, "Driver", driver));
        if (ioAddress != 0) {
            ASSERT_TRUE(keys.SetDword(portKey, "IOAddress", ioAddress));
        }
        std::string legacy = kLegacy + "LEGACY_" + driver;
        keys.Own(legacy);
        std::string instance = legacy + "\\0000";
        if (mfg) {
            ASSERT_TRUE(keys.SetString(instance, "Mfg", mfg));
        }
        if (desc) {
            ASSERT_TRUE(keys.SetString(instance, "DeviceDesc", desc));
        }
        if (service) {
            ASSERT_TRUE(keys.SetString(instance, "Service", service));
        }
    }

    // A Windows 95 SCSIAdapter class entry.
    void LayClassEntry(const std::string& entry, const char* portDriver, const char* date) {
        std::string key = kClass + "\\" + entry;
        if (portDriver) {
            ASSERT_TRUE(keys.SetString(key, "PortDriver", portDriver));
        }
        if (date) {
            ASSERT_TRUE(keys.SetString(key, "DriverDate", date));
        }
        if (!portDriver && !date)
            RegCloseKey(keys.Create(key));
    }

    // A Windows 95 PCI device with one instance.
    void LayPciDevice(const std::string& device, const char* cls, const char* driver,
                      const char* mfg, const char* rev, const char* desc) {
        std::string key = kPci + "\\" + device + "\\BUS_00&DEV_0C&FUNC_00";
        ASSERT_TRUE(keys.SetString(key, "Class", cls));
        if (driver) {
            ASSERT_TRUE(keys.SetString(key, "Driver", driver));
        }
        if (mfg) {
            ASSERT_TRUE(keys.SetString(key, "Mfg", mfg));
        }
        if (rev) {
            ASSERT_TRUE(keys.SetString(key, "HWRevision", rev));
        }
        if (desc) {
            ASSERT_TRUE(keys.SetString(key, "DeviceDesc", desc));
        }
    }

    void OwnWin95Keys() {
        keys.Own(kClass);
        keys.Own("Enum");
    }

    RegistryKeys keys;
};

TEST_F(AdapterIdentification, NtPortFillsTheRecordFromTheDriversLegacyKey) {
    LayNtPort(5, "kestrail", 0x6000, "Veltrane Corporation",
              "Veltrane Kestrail Wide SCSI Host Adapter", "kestrail");
    PlatformKind = PLATFORM_NT;
    strcpy(Record(1).Identifier, "ASPI-NAME");
    strcpy(Record(1).DriverDate, "kept");
    IdentifyHostAdapter(5, 1);
    EXPECT_STREQ(Record(1).Identifier, "kestrail");
    EXPECT_STREQ(Record(1).AdapterName, "KESTRAIL");
    EXPECT_STREQ(Record(1).Manufacturer, "Veltran"); // 7 characters
    EXPECT_STREQ(Record(1).Version, "N/A");
    EXPECT_STREQ(Record(1).Description, "Veltrane Kestrail Wide SCSI Host Adapter");
    EXPECT_STREQ(Record(1).DriverFile, "kestrail.sys");
    EXPECT_STREQ(Record(1).DriverDate, "kept");
    EXPECT_EQ(GetPortIoAddress(5), 0x6000);
}

TEST_F(AdapterIdentification, NtValuesAreCutToTheirFields) {
    LayNtPort(5, "averyverylongminiport", 0, nullptr, std::string(80, 'd').c_str(),
              "averyverylongminiport");
    PlatformKind = PLATFORM_NT;
    IdentifyHostAdapter(5, 0);
    EXPECT_STREQ(Record(0).Identifier, "averyverylongmi");
    EXPECT_STREQ(Record(0).AdapterName, "AVERYVERYLONGMI");
    EXPECT_EQ(std::string(Record(0).Description), std::string(63, 'd'));
    EXPECT_STREQ(Record(0).DriverFile, "averyverylongmi");
    EXPECT_STREQ(Record(0).Manufacturer, ""); // missing value: empty
}

TEST_F(AdapterIdentification, NtPortWithoutKeysKeepsTheAspiIdentity) {
    keys.Own(kPorts + "Scsi Port 6");
    PlatformKind = PLATFORM_NT;
    strcpy(Record(0).Identifier, "ASPI-NAME");
    IdentifyHostAdapter(6, 0);
    EXPECT_STREQ(Record(0).Identifier, "ASPI-NAME");
    EXPECT_STREQ(Record(0).Description, "");

    // A port without a driver name keeps its identity too.
    ASSERT_TRUE(keys.SetDword(kPorts + "Scsi Port 6", "IOAddress", 0x1F0));
    IdentifyHostAdapter(6, 0);
    EXPECT_STREQ(Record(0).Identifier, "ASPI-NAME");
}

TEST_F(AdapterIdentification, LegacyKeyWithoutServiceGivesBareExtension) {
    LayNtPort(5, "qvxmini", 0, "Acme", "Acme Adapter", nullptr);
    PlatformKind = PLATFORM_NT;
    IdentifyHostAdapter(5, 0);
    EXPECT_STREQ(Record(0).Manufacturer, "Acme");
    EXPECT_STREQ(Record(0).DriverFile, ".sys");
}

TEST_F(AdapterIdentification, PortIoAddressRecognisesIdeChannels) {
    LayNtPort(4, "atapi", 0x1F0, nullptr, nullptr, nullptr);
    LayNtPort(5, "atapi2", 0x170, nullptr, nullptr, nullptr);
    LayNtPort(6, "nowhere", 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(GetPortIoAddress(4), 0x1F0);
    EXPECT_EQ(GetPortIoAddress(5), 0x170);
    EXPECT_EQ(GetPortIoAddress(6), 0); // no value
    keys.Own(kPorts + "Scsi Port 3");
    EXPECT_EQ(GetPortIoAddress(3), 0); // no key
    ASSERT_TRUE(keys.SetDword(kPorts + "Scsi Port 6", "IOAddress", 0x123170));
    EXPECT_EQ(GetPortIoAddress(6), 0x3170); // the low 16 bits only
}

TEST_F(AdapterIdentification, Win95MatchingClassEntryAndPciDevice) {
    OwnWin95Keys();
    LayClassEntry("0000", "hbx29xx.mpd", "01-01-1996");
    LayClassEntry("0001", "kestrail.mpd", "10-02-1997");
    LayPciDevice("VEN_1234&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0000", "Other", "001",
                 "Other Adapter");
    LayPciDevice("VEN_5678&DEV_0002", "SCSIAdapter", "SCSIAdapter\\0001", "Veltrane", "0031",
                 "Veltrane Kestrail Wide SCSI Host Adapter");
    PlatformKind = PLATFORM_WIN95;
    strcpy(Record(2).Identifier, "Kestrail");
    IdentifyHostAdapter(0, 2);
    EXPECT_STREQ(Record(2).Identifier, "Kestrail");
    EXPECT_STREQ(Record(2).AdapterName, "KESTRAIL");
    EXPECT_STREQ(Record(2).Manufacturer, "Veltran");
    EXPECT_STREQ(Record(2).Version, "003");
    EXPECT_STREQ(Record(2).Description, "Veltrane Kestrail Wide SCSI Host Adapter");
    EXPECT_STREQ(Record(2).DriverFile, "kestrail.mpd");
    EXPECT_STREQ(Record(2).DriverDate, "10-02-1997");

    DescribeAdapter(&Record(2));
    EXPECT_STREQ(Record(2).Description, "Veltrane Kestrail PCI SCSI Host Adapter");
    EXPECT_STREQ(Record(2).DriverFile, "kestrail.mpd");
}

TEST_F(AdapterIdentification, Win95ClassEntryOfAnotherAdapterIsNeverUsed) {
    OwnWin95Keys();
    LayClassEntry("0000", "hbx29xx.mpd", "01-01-1996");
    LayPciDevice("VEN_1234&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0000", "Other", "001",
                 "Other Adapter");
    PlatformKind = PLATFORM_WIN95;
    strcpy(Record(0).Identifier, "KESTRAIL");
    IdentifyHostAdapter(0, 0);
    EXPECT_STREQ(Record(0).Description, "");
    EXPECT_STREQ(Record(0).DriverFile, "");
    // The maker's own adapter still gets its description and driver file.
    DescribeAdapter(&Record(0));
    EXPECT_STREQ(Record(0).Description, "Veltrane Kestrail PCI SCSI Host Adapter");
    EXPECT_STREQ(Record(0).DriverFile, "kestrail.mpd");
}

TEST_F(AdapterIdentification, Win95PciDeviceWithoutDriverValueMatchesAnyEntry) {
    OwnWin95Keys();
    LayClassEntry("0000", "acme.mpd", nullptr);
    LayPciDevice("VEN_0000&DEV_0000", "Display", "SCSIAdapter\\0000", "Wrong", "9", "Wrong");
    LayPciDevice("VEN_1111&DEV_0001", "SCSIAdapter", nullptr, "Acme", "002", "Acme Wide Adapter");
    PlatformKind = PLATFORM_WIN95;
    strcpy(Record(0).Identifier, "ACME");
    IdentifyHostAdapter(0, 0);
    EXPECT_STREQ(Record(0).Manufacturer, "Acme");
    EXPECT_STREQ(Record(0).Version, "002");
    EXPECT_STREQ(Record(0).DriverFile, "acme.mpd");
    EXPECT_STREQ(Record(0).DriverDate, ""); // the class entry has none
    DescribeAdapter(&Record(0));
    EXPECT_STREQ(Record(0).Description, "Acme PCI SCSI Controller");
}

TEST_F(AdapterIdentification, Win95StaleClassEntryDoesNotHideALaterOne) {
    OwnWin95Keys();
    LayClassEntry("0000", "acme.mpd", "01-01-1990"); // no PCI device names it
    LayClassEntry("0001", "acme.mpd", "02-02-1997");
    LayPciDevice("VEN_1111&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0001", "Acme", "002",
                 "Acme Wide Adapter");
    PlatformKind = PLATFORM_WIN95;
    strcpy(Record(0).Identifier, "ACME");
    IdentifyHostAdapter(0, 0);
    EXPECT_STREQ(Record(0).DriverDate, "02-02-1997");
}

TEST_F(AdapterIdentification, DescriptionsOfOtherAdapters) {
    HostAdapterRecord r = {};
    strcpy(r.Identifier, "ACME");
    strcpy(r.Description, "Acme\tWide Adapter");
    DescribeAdapter(&r);
    EXPECT_STREQ(r.Description, "Acme PCI SCSI Controller");
    EXPECT_STREQ(r.DriverFile, "");
    r.Description[0] = '\0';
    DescribeAdapter(&r);
    EXPECT_STREQ(r.Description, "PCI SCSI Controller");
    // A first word that fills the field is cut so the whole fits.
    memset(r.Description, 'x', 63);
    r.Description[63] = '\0';
    DescribeAdapter(&r);
    EXPECT_EQ(strlen(r.Description), 63u);
    EXPECT_EQ(std::string(r.Description).substr(0, 43), std::string(43, 'x'));
}

TEST(TextHelpers, FindTextIgnoreCase) {
    EXPECT_EQ(FindTextIgnoreCase("hbx29xx.mpd", "HBX29XX"), 0);
    EXPECT_EQ(FindTextIgnoreCase("SCSIAdapter\\0001", "adapter\\0001"), 4);
    EXPECT_EQ(FindTextIgnoreCase("kestrail.mpd", "ESDI_506"), NotFoundOffset);
    EXPECT_EQ(FindTextIgnoreCase("anything", ""), 0);
    EXPECT_EQ(NotFoundOffset, -9999);
}

TEST(TextHelpers, CutAtFirstBlank) {
    char text[32] = "Acme Wide Adapter";
    CutAtFirstBlank(text);
    EXPECT_STREQ(text, "Acme");
    strcpy(text, "Line\r\nnext");
    CutAtFirstBlank(text);
    EXPECT_STREQ(text, "Line");
    strcpy(text, "Single");
    CutAtFirstBlank(text);
    EXPECT_STREQ(text, "Single");
}

TEST(FileVersion, ReadsTheFirstTranslationsFileVersion) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dll =
        std::string(path).substr(0, std::string(path).rfind('\\') + 1) + "wnaspi32.dll";
    GetFileVersionText(dll.c_str());
    EXPECT_STREQ(FileVersionText, "4.60 (1021)");

    // A file without a version resource leaves the text empty.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string plain = std::string(temp) + "qvx-noversion.txt";
    HANDLE f = CreateFileA(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(f, "text", 4, &written, nullptr);
    CloseHandle(f);
    GetFileVersionText(plain.c_str());
    EXPECT_STREQ(FileVersionText, "");
    DeleteFileA(plain.c_str());
    GetFileVersionText("C:\\no\\such\\file.sys");
    EXPECT_STREQ(FileVersionText, "");
}

} // namespace
