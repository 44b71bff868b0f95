// Host adapter identification against registry keys the tests lay
// themselves, in the places Windows NT and Windows 95 keep them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inventory/adapterid.h"
#include "support/registry.h"

namespace {

using qvx::test::RegistryKeys;

const std::string kPorts = "Hardware\\DeviceMap\\Scsi\\";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter";

class AdapterIdentification : public testing::Test {
  protected:
    void SetUp() override {
        InitializeInventory();
        FileVersionText[0] = '\0';
    }

    HostAdapterRecord& Record(int i) {
        return HostAdapterTable[i];
    }

    // Identifier, name, maker, version, description, driver file and date.
    static std::string Fields(const HostAdapterRecord& r) {
        return std::string(r.Identifier) + "|" + r.AdapterName + "|" + r.Manufacturer + "|" +
               r.Version + "|" + r.Description + "|" + r.DriverFile + "|" + r.DriverDate;
    }

    // Sets the values whose text is given.
    void Set(const std::string& key, std::initializer_list<std::pair<const char*, const char*>> v) {
        for (const auto& [name, text] : v)
            if (text) {
                ASSERT_TRUE(keys.SetString(key, name, text)) << key << " " << name;
            }
    }

    // An NT SCSI port and the legacy enumeration key of its driver.
    void LayNtPort(int port, const std::string& driver, DWORD ioAddress, const char* mfg,
                   const char* desc, const char* service) {
        std::string portKey = kPorts + "Scsi Port " + std::to_string(port);
        std::string legacy = "System\\CurrentControlSet\\Enum\\Root\\LEGACY_" + driver;
        keys.Own(portKey);
        keys.Own(legacy);
        Set(portKey, {{"Driver", driver.c_str()}});
        if (ioAddress != 0) {
            ASSERT_TRUE(keys.SetDword(portKey, "IOAddress", ioAddress));
        }
        Set(legacy + "\\0000", {{"Mfg", mfg}, {"DeviceDesc", desc}, {"Service", service}});
    }

    // Windows 95: the SCSIAdapter class and the PCI devices are the test's own.
    void OwnWin95Keys() {
        keys.Own(kClass);
        keys.Own("Enum");
        PlatformKind = PLATFORM_WIN95;
    }

    // A Windows 95 PCI device with one instance.
    void LayPciDevice(const std::string& device, const char* cls, const char* driver,
                      const char* mfg, const char* rev, const char* desc) {
        Set("Enum\\PCI\\" + device + "\\BUS_00&DEV_0C&FUNC_00", {{"Class", cls},
                                                                 {"Driver", driver},
                                                                 {"Mfg", mfg},
                                                                 {"HWRevision", rev},
                                                                 {"DeviceDesc", desc}});
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
    EXPECT_EQ(Fields(Record(1)), "kestrail|KESTRAIL|Veltran|N/A|"
                                 "Veltrane Kestrail Wide SCSI Host Adapter|kestrail.sys|kept");

    // Long values are cut to their fields; a missing one is empty.
    LayNtPort(6, "averyverylongminiport", 0, nullptr, std::string(80, 'd').c_str(), nullptr);
    IdentifyHostAdapter(6, 0);
    EXPECT_EQ(Fields(Record(0)),
              "averyverylongmi|AVERYVERYLONGMI||N/A|" + std::string(63, 'd') + "|.sys|")
        << "no service: bare extension";
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

TEST_F(AdapterIdentification, PortIoAddressRecognisesIdeChannels) {
    LayNtPort(4, "atapi", 0x1F0, nullptr, nullptr, nullptr);
    LayNtPort(5, "atapi2", 0x170, nullptr, nullptr, nullptr);
    LayNtPort(6, "nowhere", 0, nullptr, nullptr, nullptr);
    keys.Own(kPorts + "Scsi Port 3");
    EXPECT_EQ(GetPortIoAddress(4), 0x1F0);
    EXPECT_EQ(GetPortIoAddress(5), 0x170);
    EXPECT_EQ(GetPortIoAddress(6), 0) << "no value";
    EXPECT_EQ(GetPortIoAddress(3), 0) << "no key";
    ASSERT_TRUE(keys.SetDword(kPorts + "Scsi Port 6", "IOAddress", 0x123170));
    EXPECT_EQ(GetPortIoAddress(6), 0x3170) << "the low 16 bits only";
}

TEST_F(AdapterIdentification, Win95UsesOnlyTheClassEntryNamingTheAdapter) {
    OwnWin95Keys();
    Set(kClass + "\\0000", {{"PortDriver", "hbx29xx.mpd"}, {"DriverDate", "01-01-1996"}});
    LayPciDevice("VEN_1234&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0000", "Other", "001",
                 "Other Adapter");
    strcpy(Record(0).Identifier, "KESTRAIL");
    IdentifyHostAdapter(0, 0);
    EXPECT_STREQ(Record(0).Description, "");
    EXPECT_STREQ(Record(0).DriverFile, "");
    // The maker's own adapter still gets its description and driver file.
    DescribeAdapter(&Record(0));
    EXPECT_STREQ(Record(0).Description, "Veltrane Kestrail PCI SCSI Host Adapter");
    EXPECT_STREQ(Record(0).DriverFile, "kestrail.mpd");

    Set(kClass + "\\0001", {{"PortDriver", "kestrail.mpd"}, {"DriverDate", "10-02-1997"}});
    LayPciDevice("VEN_5678&DEV_0002", "SCSIAdapter", "SCSIAdapter\\0001", "Veltrane", "0031",
                 "Veltrane Kestrail Wide SCSI Host Adapter");
    strcpy(Record(2).Identifier, "Kestrail");
    IdentifyHostAdapter(0, 2);
    EXPECT_EQ(Fields(Record(2)),
              "Kestrail|KESTRAIL|Veltran|003|"
              "Veltrane Kestrail Wide SCSI Host Adapter|kestrail.mpd|10-02-1997");
}

TEST_F(AdapterIdentification, Win95PciDeviceWithoutDriverValueMatchesAnyEntry) {
    OwnWin95Keys();
    Set(kClass + "\\0000", {{"PortDriver", "acme.mpd"}});
    LayPciDevice("VEN_0000&DEV_0000", "Display", "SCSIAdapter\\0000", "Wrong", "9", "Wrong");
    LayPciDevice("VEN_1111&DEV_0001", "SCSIAdapter", nullptr, "Acme", "002", "Acme Wide Adapter");
    strcpy(Record(0).Identifier, "ACME");
    IdentifyHostAdapter(0, 0);
    // The class entry has no date.
    EXPECT_EQ(Fields(Record(0)), "ACME|ACME|Acme|002|Acme Wide Adapter|acme.mpd|");
}

TEST_F(AdapterIdentification, Win95StaleClassEntryDoesNotHideALaterOne) {
    OwnWin95Keys();
    Set(kClass + "\\0000", {{"PortDriver", "acme.mpd"}, {"DriverDate", "01-01-1990"}});
    Set(kClass + "\\0001", {{"PortDriver", "acme.mpd"}, {"DriverDate", "02-02-1997"}});
    LayPciDevice("VEN_1111&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0001", "Acme", "002",
                 "Acme Wide Adapter");
    strcpy(Record(0).Identifier, "ACME");
    IdentifyHostAdapter(0, 0);
    EXPECT_STREQ(Record(0).DriverDate, "02-02-1997");
}

TEST(AdapterDescription, OtherAdaptersGetAGenericOne) {
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

TEST(FileVersion, ReadsTheFirstTranslationsFileVersion) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dll =
        std::string(path).substr(0, std::string(path).rfind('\\') + 1) + "wnaspi32.dll";
    GetFileVersionText(dll.c_str());
    EXPECT_STREQ(FileVersionText, "4.60 (1021)");
    // A file that cannot be read leaves the text empty.
    GetFileVersionText("C:\\no\\such\\file.sys");
    EXPECT_STREQ(FileVersionText, "");
}

} // namespace
