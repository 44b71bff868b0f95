// The machine file reader: every key lands in its field, defaults hold,
// adapters and devices are put in order, and every malformed line is
// reported with the file name and the line.
#include <gtest/gtest.h>

#include "machine/machine.h"

#include <windows.h>

#include <cstdio>
#include <stdexcept>

using namespace qvx::emu;

namespace {

const char kEveryKey[] = R"(; a machine that sets every key
[machine]
name=Test bench  ; trailing comment
family=win95
aspi=not-available
aspi_zero_adapters=1
screen=1024x768
help_path=C:\Program Files\Quorvex

[adapter.3]
identifier=SECOND

[adapter.0]
identifier=KESTRAIL
manager=VELTRANE ASPI32
host_id=15
max_targets=0
missing=selection-timeout
aspi_visible=0
nt_port=2
io_address=0x6000
buses=2
nt_driver=kestrail
mfg=Veltrane
device_desc=Veltrane Kestrail Wide SCSI Host Adapter
service=kestrail
port_driver=kestrail.mpd
driver_date=10-02-1997
pci_class=SCSIAdapter
pci_driver=SCSIAdapter\0000
hw_revision=003
driver_version=2.10.0.0

[device.0.3]
type=cdrom
qualifier=3
removable=1
ansi=3
sync=1
wide16=1
wide32=1
vendor=QUANTUM
product=ATLAS II 4.5WLS
revision=0A0A
serial=PCB89701234
blocks=8888888
block_size=2048
caching_page=0
rcd=1
wce=1
geometry_page=0
rpm=7200
buffer=1048576
latency_us=250
bandwidth_kbs=0x4000
drive_letter=e
class_device=CdRom0
not_ready=04/01
ready_after_tur=3
unit_attention=29
hardware_error=40/00
buffer_mismatch_at=100
descriptor_ff=1
serial_unsupported=1
serial_leading_blank=1
hang=12, 0x1A
abort_accepted=0
underrun=1
read_errors=1000-1999
sense_valid=1
nt_zero_bytes=1

[device.0.1.2]
type=0x1e
data_protect=27/01
read_errors=77
)";

TEST(MachineFile, EveryKeyLandsInItsField) {
    Machine m = ParseMachine(kEveryKey, "every.ini");
    EXPECT_EQ(m.name, "Test bench");
    EXPECT_EQ(m.family, Family::Win95);
    EXPECT_EQ(m.aspi, AspiState::NotAvailable);
    EXPECT_TRUE(m.reportZeroAdapters);
    EXPECT_EQ(m.screenWidth, 1024);
    EXPECT_EQ(m.screenHeight, 768);
    EXPECT_EQ(m.helpPath, "C:\\Program Files\\Quorvex");

    // Ordered by number, not by position in the file.
    ASSERT_EQ(m.adapters.size(), 2u);
    EXPECT_EQ(m.adapters[1].identifier, "SECOND");
    const AdapterConfig& a = m.adapters[0];
    EXPECT_EQ(a.identifier, "KESTRAIL");
    EXPECT_EQ(a.managerId, "VELTRANE ASPI32");
    EXPECT_EQ(a.hostId, 15);
    EXPECT_EQ(a.maxTargets, 0);
    EXPECT_EQ(a.missing, MissingTarget::SelectionTimeout);
    EXPECT_FALSE(a.aspiVisible);
    EXPECT_EQ(a.ntPort, 2);
    EXPECT_EQ(a.ioAddress, 0x6000u);
    EXPECT_EQ(a.buses, 2);
    EXPECT_EQ(a.ntDriver, "kestrail");
    EXPECT_EQ(a.mfg, "Veltrane");
    EXPECT_EQ(a.deviceDesc, "Veltrane Kestrail Wide SCSI Host Adapter");
    EXPECT_EQ(a.service, "kestrail");
    EXPECT_EQ(a.portDriver, "kestrail.mpd");
    EXPECT_EQ(a.driverDate, "10-02-1997");
    EXPECT_EQ(a.pciClass, "SCSIAdapter");
    EXPECT_EQ(a.pciDriver, "SCSIAdapter\\0000");
    EXPECT_EQ(a.hwRevision, "003");
    EXPECT_EQ(a.driverVersion, "2.10.0.0");

    // Devices sorted by target, each attached to the adapter its section names.
    ASSERT_EQ(a.devices.size(), 2u);
    const DeviceConfig& lun2 = a.devices[0];
    EXPECT_EQ(lun2.target, 1);
    EXPECT_EQ(lun2.lun, 2);
    EXPECT_EQ(lun2.peripheralType, 0x1E);
    EXPECT_TRUE(lun2.faults.dataProtect);
    EXPECT_FALSE(lun2.faults.hardwareError);
    EXPECT_EQ(lun2.faults.errorAsc, 0x27);
    EXPECT_EQ(lun2.faults.errorAscq, 0x01);
    EXPECT_EQ(*lun2.faults.readErrorFirst, 77u);
    EXPECT_EQ(lun2.faults.readErrorLast, 77u);

    const DeviceConfig& d = a.devices[1];
    EXPECT_EQ(d.target, 3);
    EXPECT_EQ(d.lun, 0);
    EXPECT_EQ(d.peripheralType, 0x05);
    EXPECT_EQ(d.peripheralQualifier, 3);
    EXPECT_TRUE(d.removable);
    EXPECT_EQ(d.ansiVersion, 3);
    EXPECT_TRUE(d.sync && d.wide16 && d.wide32);
    EXPECT_EQ(d.vendor, "QUANTUM");
    EXPECT_EQ(d.product, "ATLAS II 4.5WLS");
    EXPECT_EQ(d.revision, "0A0A");
    EXPECT_EQ(d.serial, "PCB89701234");
    EXPECT_EQ(d.blocks, 8888888u);
    EXPECT_EQ(d.blockSize, 2048u);
    EXPECT_FALSE(d.hasCachingPage);
    EXPECT_TRUE(d.readCacheDisabled);
    EXPECT_TRUE(d.writeCacheEnabled);
    EXPECT_FALSE(d.hasGeometryPage);
    EXPECT_EQ(d.rotationRate, 7200);
    EXPECT_EQ(d.bufferBytes, 1048576u);
    EXPECT_EQ(d.latencyUs, 250u);
    EXPECT_EQ(d.bandwidthKBs, 0x4000u);
    EXPECT_EQ(d.driveLetter, "E");
    EXPECT_EQ(d.classDevice, "CdRom0");
    const Faults& f = d.faults;
    EXPECT_EQ(*f.notReadyAsc, 0x04);
    EXPECT_EQ(f.notReadyAscq, 0x01);
    EXPECT_EQ(f.readyAfterTur, 3u);
    EXPECT_EQ(*f.unitAttentionAsc, 0x29);
    EXPECT_TRUE(f.hardwareError);
    EXPECT_EQ(f.errorAsc, 0x40);
    EXPECT_EQ(f.errorAscq, 0x00);
    EXPECT_EQ(*f.bufferMismatchAt, 100u);
    EXPECT_TRUE(f.descriptorCapacityFF);
    EXPECT_TRUE(f.serialUnsupported);
    EXPECT_TRUE(f.serialLeadingBlank);
    EXPECT_EQ(f.hangOpcodes, (std::vector<uint8_t>{0x12, 0x1A}));
    EXPECT_FALSE(f.abortAccepted);
    EXPECT_TRUE(f.underrunStatus);
    EXPECT_EQ(*f.readErrorFirst, 1000u);
    EXPECT_EQ(f.readErrorLast, 1999u);
    EXPECT_TRUE(f.senseValidBit);
    EXPECT_TRUE(f.ntZeroBytes);
}

TEST(MachineFile, DefaultsHoldForKeysLeftOut) {
    Machine m = ParseMachine("[adapter.0]\r\n[device.0.2]\r\n", "min.ini");
    EXPECT_EQ(m.family, Family::Nt40);
    EXPECT_EQ(m.aspi, AspiState::Installed);
    EXPECT_EQ(m.screenWidth, 800);
    EXPECT_TRUE(m.helpPath.empty());
    ASSERT_EQ(m.adapters.size(), 1u);
    EXPECT_EQ(m.adapters[0].managerId, "ASPI for WIN32");
    EXPECT_EQ(m.adapters[0].hostId, 7);
    EXPECT_EQ(m.adapters[0].maxTargets, 8);
    EXPECT_TRUE(m.adapters[0].aspiVisible);
    ASSERT_EQ(m.adapters[0].devices.size(), 1u);
    const DeviceConfig& d = m.adapters[0].devices[0];
    EXPECT_EQ(d.target, 2);
    EXPECT_EQ(d.peripheralType, 0);
    EXPECT_EQ(d.ansiVersion, 2);
    EXPECT_EQ(d.blockSize, 512u);
    EXPECT_TRUE(d.hasCachingPage && d.hasGeometryPage);
    EXPECT_FALSE(d.faults.notReadyAsc || d.faults.unitAttentionAsc || d.faults.readErrorFirst);
    EXPECT_TRUE(d.faults.abortAccepted);

    EXPECT_TRUE(ParseMachine("", "empty.ini").adapters.empty());
}

TEST(MachineFile, ToleratesCaseBomAndBlanks) {
    Machine m = ParseMachine("\xEF\xBB\xBF  [Machine]  \n  Family = WIN95 \n\n[ADAPTER.0]\n"
                             "[Device.0.1]\nType=CDROM\nvendor=  Mix Case \n",
                             "case.ini");
    EXPECT_EQ(m.family, Family::Win95);
    ASSERT_EQ(m.adapters.at(0).devices.size(), 1u);
    EXPECT_EQ(m.adapters[0].devices[0].peripheralType, 5);
    EXPECT_EQ(m.adapters[0].devices[0].vendor, "Mix Case");
}

struct BadFile {
    const char* text;
    const char* error; // expected start of the message
};

class MachineFileErrors : public testing::TestWithParam<BadFile> {};

TEST_P(MachineFileErrors, NameFileAndLine) {
    try {
        ParseMachine(GetParam().text, "bad.ini");
        FAIL() << "accepted: " << GetParam().text;
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind(GetParam().error, 0), 0u) << "message: " << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, MachineFileErrors,
    testing::Values(
        BadFile{"[machine]\n\n[screen]\n", "bad.ini:3: unknown section [screen]"},
        BadFile{"[adapter.0]\n[device.0.32]\n", "bad.ini:2: device target must be 0-31"},
        BadFile{"[machine\n", "bad.ini:1: section header without ']'"},
        BadFile{"name=x\n", "bad.ini:1: key outside of any section"},
        BadFile{"[machine]\njust words\n", "bad.ini:2: expected key=value"},
        BadFile{"[machine]\ncolour=blue\n", "bad.ini:2: unknown key 'colour' in [machine]"},
        BadFile{"[adapter.0]\n[device.0.0]\nvendorid=X\n", "bad.ini:3: unknown key 'vendorid'"},
        BadFile{"[machine]\nname=a\nname=b\n", "bad.ini:3: key 'name' repeated (first on line 2)"},
        BadFile{"[adapter.0]\n[adapter.0]\n", "bad.ini:2: section [adapter.0] appears twice"},
        BadFile{"[adapter.0]\n[device.0.3]\n[device.0.3.0]\n", "bad.ini:3: a device at adapter 0"},
        BadFile{"[adapter.0]\n[device.1.3]\n", "bad.ini:2: device on adapter 1"},
        BadFile{"[machine]\nfamily=nt351\n",
                "bad.ini:2: key 'family': expected one of nt40 | win95"},
        BadFile{"[machine]\nscreen=800*600\n", "bad.ini:2: key 'screen'"},
        BadFile{"[machine]\naspi_zero_adapters=2\n",
                "bad.ini:2: key 'aspi_zero_adapters': expected 0 or 1"},
        BadFile{"[adapter.0]\nhost_id=32\n", "bad.ini:2: key 'host_id': out of range 0-31"},
        BadFile{"[adapter.0]\nio_address=0x1G\n",
                "bad.ini:2: key 'io_address': expected a decimal"},
        BadFile{"[adapter.0]\nidentifier=SEVENTEEN_LETTERS\n",
                "bad.ini:2: key 'identifier': longer than 16"},
        BadFile{"[adapter.0]\ndriver_version=2.10\n", "bad.ini:2: key 'driver_version'"},
        BadFile{"[adapter.0]\n[device.0.0]\ntype=jukebox\n", "bad.ini:3: key 'type'"},
        BadFile{"[adapter.0]\n[device.0.0]\nvendor=TOOLONGVENDOR\n",
                "bad.ini:3: key 'vendor': longer than 8"},
        BadFile{"[adapter.0]\n[device.0.0]\nrpm=70000\n",
                "bad.ini:3: key 'rpm': out of range 0-65535"},
        BadFile{"[adapter.0]\n[device.0.0]\nnot_ready=04\n",
                "bad.ini:3: key 'not_ready': expected ASC/ASCQ"},
        BadFile{"[adapter.0]\n[device.0.0]\nhang=12,,1A\n", "bad.ini:3: key 'hang'"},
        BadFile{"[adapter.0]\n[device.0.0]\nread_errors=20-10\n", "bad.ini:3: key 'read_errors'"},
        BadFile{"[adapter.0]\n[device.0.0]\ndrive_letter=CD\n", "bad.ini:3: key 'drive_letter'"},
        BadFile{"[adapter.0]\n[device.0.0]\nhardware_error=40/00\ndata_protect=27/00\n",
                "bad.ini:4: hardware_error and data_protect exclude each other"}));

TEST(MachineFile, LoadsFromDiskAndNamesAMissingFile) {
    char dir[MAX_PATH], path[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "qvx", 0, path), 0u);
    FILE* f = std::fopen(path, "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("[machine]\r\nname=On disk\r\n[adapter.0]\r\nhost_id=x\r\n", f);
    std::fclose(f);
    try {
        LoadMachine(path);
        FAIL() << "bad host_id accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind(std::string(path) + ":4: key 'host_id'", 0), 0u)
            << e.what();
    }
    f = std::fopen(path, "wb");
    std::fputs("[machine]\r\nname=On disk\r\n", f);
    std::fclose(f);
    EXPECT_EQ(LoadMachine(path).name, "On disk");
    DeleteFileA(path);
    EXPECT_THROW(LoadMachine(path), std::runtime_error);
}

} // namespace
