// Host adapter identification against registry keys the tests lay
// themselves, in the places Windows NT and Windows 95 keep them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "inventory/adapterid.h"
#include "support/registry.h"

namespace {

const std::string kPorts = "Hardware\\DeviceMap\\Scsi\\Scsi Port ";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\";
const std::string kLong(80, 'd'); // longer than any field

// Identifier, name, maker, version, description, driver file and date.
std::string Fields(const HostAdapterRecord& r) {
    return std::string(r.Identifier) + "|" + r.AdapterName + "|" + r.Manufacturer + "|" +
           r.Version + "|" + r.Description + "|" + r.DriverFile + "|" + r.DriverDate;
}

// Sets the values whose text is given.
void Set(qvx::test::RegistryKeys& keys, const std::string& key,
         std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, text] : values)
        EXPECT_TRUE(text == nullptr || keys.SetString(key, name, text)) << key << " " << name;
}

// Each record starts with what the enumeration gave it.
void StartRecord(LONG platform, const char* identifier, const char* date) {
    InitializeInventory();
    PlatformKind = platform;
    strcpy(HostAdapterTable[0].Identifier, identifier);
    strcpy(HostAdapterTable[0].DriverDate, date);
}

TEST(AdapterIdentification, NtPortFromItsDriversLegacyKey) {
    const struct {
        const char* driver; // the port's "Driver"; null: the port key has none
        const char *mfg, *desc, *service;
        std::string record;
    } cases[] = {
        {"kestrail", "Veltrane Corporation", "Veltrane Kestrail Wide SCSI Host Adapter", "kestrail",
         "kestrail|KESTRAIL|Veltran|N/A|Veltrane Kestrail Wide SCSI Host "
         "Adapter|kestrail.sys|kept"},
        // Every value longer than its field is cut to it.
        {"averyverylongminiport", "Mfg", kLong.c_str(), "averyverylongservice",
         "averyverylongmi|AVERYVERYLONGMI|Mfg|N/A|" + kLong.substr(0, 63) +
             "|averyverylongse|kept"},
        {"bare", nullptr, nullptr, nullptr, "bare|BARE||N/A||.sys|kept"}, // values missing
        {nullptr, "Mfg", "Desc", "svc", "ASPI-NAME||||||kept"}, // no driver: ASPI's identity
    };
    const int port = 3;
    for (const auto& c : cases) {
        qvx::test::RegistryKeys keys;
        std::string driver = c.driver != nullptr ? c.driver : "nodriver";
        std::string legacy = "System\\CurrentControlSet\\Enum\\Root\\LEGACY_" + driver;
        keys.Own(kPorts + std::to_string(port));
        keys.Own(legacy);
        ASSERT_TRUE(keys.SetDword(kPorts + std::to_string(port), "IOAddress", 0x6000));
        Set(keys, kPorts + std::to_string(port), {{"Driver", c.driver}});
        Set(keys, legacy + "\\0000",
            {{"Mfg", c.mfg}, {"DeviceDesc", c.desc}, {"Service", c.service}});
        StartRecord(PLATFORM_NT, "ASPI-NAME", "kept");
        IdentifyHostAdapter(port, 0);
        EXPECT_EQ(Fields(HostAdapterTable[0]), c.record);
    }
}

TEST(AdapterIdentification, PortIoAddressIsTheValuesLow16Bits) {
    qvx::test::RegistryKeys keys;
    // The value in the port's key (none: the port has no key), the address.
    const std::tuple<const char*, DWORD, int> cases[] = {
        {"IOAddress", 0x1F0, 0x1F0}, {"IOAddress", 0x123170, 0x3170}, {"Driver", 1, 0}, {}};
    int port = 3;
    for (const auto& [name, value, expected] : cases) {
        const std::string key = kPorts + std::to_string(port);
        keys.Own(key);
        EXPECT_TRUE(name == nullptr || keys.SetDword(key, name, value));
        EXPECT_EQ(GetPortIoAddress(port), expected) << port;
        port++;
    }
}

// Windows 95: the class entries whose "PortDriver" names the adapter, each
// with the PCI device whose "Driver" names the entry.
TEST(AdapterIdentification, Win95AdapterFromItsClassEntryAndPciDevice) {
    struct Entry {
        const char *key, *portDriver, *date;
    };
    struct Device {
        const char *key, *cls, *driver, *mfg, *revision, *desc;
    };
    const struct {
        std::vector<Entry> entries;
        std::vector<Device> devices;
        const char* identifier;
        std::string record;
    } cases[] = {
        // Another adapter's entry is passed over; values longer than their
        // fields are cut to them.
        {{{"0000", "hbx29xx.mpd", "01-01-1996"},
          {"0001", "kestrailwide32x.mpd", "10-02-1997 rev 4.1"}},
         {{"VEN_1234&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0000", "Other", "001", "Other"},
          {"VEN_5678&DEV_0002", "SCSIAdapter", "SCSIAdapter\\0001", "Veltrane Corp", "0031",
           kLong.c_str()}},
         "Kestrail",
         "Kestrail|KESTRAIL|Veltran|003|" + kLong.substr(0, 63) +
             "|kestrailwide32x.m|10-02-1997 rev 4."},
        // Only devices of class SCSIAdapter count; one without "Driver"
        // matches any entry; an entry without a date gives none.
        {{{"0000", "acme.mpd", nullptr}},
         {{"VEN_0000&DEV_0000", "Display", "SCSIAdapter\\0000", "Wrong", "9", "Wrong"},
          {"VEN_1111&DEV_0001", "SCSIAdapter", nullptr, "Acme", "002", "Acme Wide Adapter"}},
         "ACME",
         "ACME|ACME|Acme|002|Acme Wide Adapter|acme.mpd|"},
        // An entry without a device ends the search: a later one is not reached.
        {{{"0000", "acme.mpd", "01-01-1990"}, {"0001", "acme.mpd", "02-02-1997"}},
         {{"VEN_1111&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0001", "Acme", "002", "Acme"}},
         "ACME",
         "ACME||||||"},
        // A "PortDriver" over the 20 bytes read cannot be read: the entry is
        // passed over and the search goes on (19 characters and the
        // terminator are read above).
        {{{"0000", "kestrailwide32xx.mpd", "01-01-1996"}, {"0001", "kestrail.mpd", "02-02-1997"}},
         {{"VEN_1111&DEV_0001", "SCSIAdapter", "SCSIAdapter\\0001", "Veltrane", "003", "Kestrail"},
          {"VEN_2222&DEV_0002", "SCSIAdapter", "SCSIAdapter\\0000", "Wrong", "009", "Wrong"}},
         "KESTRAIL",
         "KESTRAIL|KESTRAIL|Veltran|003|Kestrail|kestrail.mpd|02-02-1997"},
    };
    for (const auto& c : cases) {
        qvx::test::RegistryKeys keys;
        keys.Own(kClass.substr(0, kClass.size() - 1));
        keys.Own("Enum");
        for (const Entry& e : c.entries)
            Set(keys, kClass + e.key, {{"PortDriver", e.portDriver}, {"DriverDate", e.date}});
        for (const Device& d : c.devices)
            Set(keys, std::string("Enum\\PCI\\") + d.key + "\\BUS_00&DEV_0C&FUNC_00",
                {{"Class", d.cls},
                 {"Driver", d.driver},
                 {"Mfg", d.mfg},
                 {"HWRevision", d.revision},
                 {"DeviceDesc", d.desc}});
        StartRecord(PLATFORM_WIN95, c.identifier, "");
        IdentifyHostAdapter(0, 0);
        EXPECT_EQ(Fields(HostAdapterTable[0]), c.record);
    }
}

TEST(AdapterIdentification, DescribeAdapterNamesTheMakersOwnOrAGenericOne) {
    const struct {
        const char *identifier, *description, *driver;
        std::string result;
    } cases[] = {
        {"KESTRAIL", "", "", "Veltrane Kestrail PCI SCSI Host Adapter|kestrail.mpd"},
        {"my kestrail 2", "Mine", "kx.mpd", "Veltrane Kestrail PCI SCSI Host Adapter|kx.mpd"},
        {"ACME", "Acme\tWide Adapter", "", "Acme PCI SCSI Controller|"},
        {"ACME", "", "", "PCI SCSI Controller|"},
        {"ACME", "x", "", "x PCI SCSI Controller|"},
        {"ACME", kLong.c_str(), "", kLong.substr(0, 63) + "|"}, // cut to the field
    };
    for (const auto& c : cases) {
        HostAdapterRecord r = {};
        strcpy(r.Identifier, c.identifier);
        CopyText(r.Description, sizeof r.Description, c.description);
        strcpy(r.DriverFile, c.driver);
        DescribeAdapter(&r);
        EXPECT_EQ(std::string(r.Description) + "|" + r.DriverFile, c.result);
    }
}

} // namespace
