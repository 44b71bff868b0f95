// The machine file reader: every key lands in its field, defaults hold,
// adapters and devices are put in order, and every malformed line is
// reported with the file name and the line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "machine/machine.h"

#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <tuple>

using namespace qvx::emu;
using Strings = std::vector<std::string>;

namespace {

const char kEveryKey[] =
    "; a machine that sets every key\n[machine]\nname=Test bench  ; trailing comment\n"
    "family=win95\naspi=not-available\naspi_zero_adapters=1\nscreen=1024x768\n"
    "help_path=C:\\Program Files\\Quorvex\n"
    "absent_files=KVXHBA.VxD , lq450.mpd\nunversioned_files=WNASPI32.DLL\n"
    "[adapter.3]\nidentifier=SECOND\n"
    "[adapter.0]\nidentifier=KESTRAIL\nmanager=VELTRANE ASPI32\nhost_id=15\nmax_targets=0\n"
    "missing=selection-timeout\naspi_visible=0\nnt_port=2\nio_address=0x6000\nbuses=2\n"
    "nt_driver=kestrail\nmfg=Veltrane\ndevice_desc=Veltrane Kestrail Wide SCSI Host Adapter\n"
    "service=kestrail\nport_driver=kestrail.mpd\ndriver_date=10-02-1997\n"
    "pci_class=SCSIAdapter\npci_driver=SCSIAdapter\\0000\nhw_revision=003\n"
    "driver_version=2.10.0.0\nmissing_lun=no-device\nshort_transfer=underrun\n"
    "[device.0.3]\ntype=cdrom\nqualifier=3\nremovable=1\nansi=3\nsync=1\nwide16=1\nwide32=1\n"
    "vendor=QUANTUM\nproduct=ATLAS II 4.5WLS\nrevision=0A0A\nserial=PCB89701234\n"
    "blocks=8888888\nblock_size=2048\ncaching_page=1\nrcd=1\nwce=1\ngeometry_page=1\nrpm=7200\n"
    "buffer=1048576\nlatency_us=250\nbandwidth_kbs=0x4000\ndrive_letter=e\n"
    "class_device=CdRom0\nnot_ready=04/01\nready_after_tur=3\nunit_attention=29\n"
    "hardware_error=40/00\nbuffer_mismatch_at=100\ndescriptor_ff=1\nserial_unsupported=1\n"
    "serial_leading_blank=1\nhang=12, 0x1A\nabort_accepted=0\nunderrun=1\n"
    "read_errors=1000-1999\nsense_valid=1\nnt_zero_bytes=1\n"
    "capacity_block_length=0\nserial_width=20\nserial_justify=right\ninquiry_length=36\n"
    "busy=00,28\nreservation_conflict=1\n"
    "[device.0.1.2]\ntype=0x1e\ndata_protect=27/01\nread_errors=77\n";

TEST(MachineFile, EveryKeyLandsInItsField) {
    Machine m = ParseMachine(kEveryKey, "every.ini");
    EXPECT_EQ(std::tie(m.name, m.helpPath),
              std::make_tuple("Test bench", "C:\\Program Files\\Quorvex"));
    EXPECT_TRUE(m.family == Family::Win95 && m.aspi == AspiState::NotAvailable);
    EXPECT_EQ(std::tie(m.reportZeroAdapters, m.screenWidth, m.screenHeight),
              std::make_tuple(true, 1024, 768));
    EXPECT_EQ(std::tie(m.absentFiles, m.unversionedFiles),
              std::make_tuple(Strings{"KVXHBA.VxD", "lq450.mpd"}, Strings{"WNASPI32.DLL"}));

    // Ordered by number, not by position in the file.
    ASSERT_EQ(m.adapters.size(), 2u);
    EXPECT_EQ(m.adapters[1].identifier, "SECOND");
    const AdapterConfig& a = m.adapters[0];
    EXPECT_EQ((Strings{a.identifier, a.managerId, a.ntDriver, a.mfg, a.deviceDesc, a.service,
                       a.portDriver, a.driverDate, a.pciClass, a.pciDriver, a.hwRevision,
                       a.driverVersion}),
              (Strings{"KESTRAIL", "VELTRANE ASPI32", "kestrail", "Veltrane",
                       "Veltrane Kestrail Wide SCSI Host Adapter", "kestrail", "kestrail.mpd",
                       "10-02-1997", "SCSIAdapter", "SCSIAdapter\\0000", "003", "2.10.0.0"}));
    EXPECT_EQ(
        std::make_tuple(a.hostId, a.maxTargets, a.aspiVisible, a.ntPort, a.ioAddress, a.buses),
        std::make_tuple(15, 0, false, 2, 0x6000u, 2));
    EXPECT_TRUE(a.missing == MissingTarget::SelectionTimeout &&
                a.missingLun == MissingLun::NoDevice && a.shortTransfer == ShortTransfer::Underrun);

    // Devices sorted by target, each attached to the adapter its section names.
    ASSERT_EQ(a.devices.size(), 2u);
    const DeviceConfig& lun2 = a.devices[0];
    EXPECT_EQ(std::make_tuple(lun2.target, lun2.lun, lun2.peripheralType, lun2.faults.dataProtect,
                              lun2.faults.hardwareError, lun2.faults.errorAsc,
                              lun2.faults.errorAscq, lun2.faults.readErrorFirst,
                              lun2.faults.readErrorLast),
              std::make_tuple(1, 2, 0x1E, true, false, 0x27, 0x01, 77u, 77u));

    const DeviceConfig& d = a.devices[1];
    EXPECT_EQ((Strings{d.vendor, d.product, d.revision, d.serial, d.driveLetter, d.classDevice}),
              (Strings{"QUANTUM", "ATLAS II 4.5WLS", "0A0A", "PCB89701234", "E", "CdRom0"}));
    EXPECT_EQ(
        std::make_tuple(d.target, d.lun, d.peripheralType, d.peripheralQualifier, d.ansiVersion,
                        d.blocks, d.blockSize, d.rotationRate, d.bufferBytes, d.latencyUs,
                        d.bandwidthKBs, d.serialWidth, d.inquiryLength),
        std::make_tuple(3, 0, 0x05, 3, 3, 8888888u, 2048u, 7200, 1048576u, 250u, 0x4000u, 20, 36));
    EXPECT_EQ(d.serialJustify, SerialJustify::Right);
    // Pages a CD-ROM drive has only when the file says so.
    EXPECT_EQ((std::vector<bool>{d.removable, d.sync, d.wide16, d.wide32, d.hasCachingPage,
                                 d.readCacheDisabled, d.writeCacheEnabled, d.hasGeometryPage}),
              (std::vector<bool>{true, true, true, true, true, true, true, true}));
    const Faults& f = d.faults;
    EXPECT_EQ(std::make_tuple(f.notReadyAsc, f.notReadyAscq, f.readyAfterTur, f.unitAttentionAsc,
                              f.errorAsc, f.errorAscq, f.bufferMismatchAt, f.readErrorFirst,
                              f.readErrorLast),
              std::make_tuple(0x04, 0x01, 3u, 0x29, 0x40, 0x00, 100u, 1000u, 1999u));
    EXPECT_EQ((std::vector<bool>{f.hardwareError, f.descriptorCapacityFF, f.serialUnsupported,
                                 f.serialLeadingBlank, f.abortAccepted, f.underrunStatus,
                                 f.senseValidBit, f.ntZeroBytes}),
              (std::vector<bool>{true, true, true, true, false, true, true, true}));
    EXPECT_EQ(f.hangOpcodes, (std::vector<uint8_t>{0x12, 0x1A}));
    EXPECT_EQ(f.capacityBlockLength, 0u);
    EXPECT_EQ(f.busyOpcodes, (std::vector<uint8_t>{0x00, 0x28}));
    EXPECT_TRUE(f.reservationConflict);
}

TEST(MachineFile, DefaultsAndLenientSyntax) {
    Machine m =
        ParseMachine("[adapter.0]\r\n[device.0.2]\r\n[device.0.4]\r\ntype=tape\r\n", "min.ini");
    EXPECT_TRUE(m.family == Family::Nt40 && m.aspi == AspiState::Installed);
    EXPECT_EQ(m.screenWidth, 800);
    EXPECT_TRUE(m.helpPath.empty());
    ASSERT_EQ(m.adapters.size(), 1u);
    const AdapterConfig& a = m.adapters[0];
    EXPECT_EQ(std::tie(a.managerId, a.hostId, a.maxTargets, a.aspiVisible),
              std::make_tuple("ASPI for WIN32", 7, 8, true));
    EXPECT_TRUE(a.missingLun == MissingLun::NotSupported &&
                a.shortTransfer == ShortTransfer::Residual);
    ASSERT_EQ(a.devices.size(), 2u);
    const DeviceConfig& d = a.devices[0];
    EXPECT_EQ(std::make_tuple(d.target, d.peripheralType, d.ansiVersion, d.blockSize,
                              d.inquiryLength, d.serialWidth),
              std::make_tuple(2, 0, 2, 512u, 96, 0));
    EXPECT_TRUE(d.hasCachingPage && d.hasGeometryPage && d.faults.abortAccepted);
    // Only direct-access devices have the caching and geometry pages unasked.
    EXPECT_FALSE(a.devices[1].hasCachingPage || a.devices[1].hasGeometryPage);
    EXPECT_FALSE(d.faults.notReadyAsc || d.faults.unitAttentionAsc || d.faults.readErrorFirst);
    EXPECT_TRUE(ParseMachine("", "empty.ini").adapters.empty());

    // Case, a byte order mark and blanks around names and values do not matter.
    m = ParseMachine("\xEF\xBB\xBF  [Machine]  \n  Family = WIN95 \n\n[ADAPTER.0]\n"
                     "[Device.0.1]\nType=CDROM\nvendor=  Mix Case \n",
                     "case.ini");
    EXPECT_EQ(m.family, Family::Win95);
    ASSERT_EQ(m.adapters.at(0).devices.size(), 1u);
    EXPECT_EQ(m.adapters[0].devices[0].peripheralType, 5);
    EXPECT_EQ(m.adapters[0].devices[0].vendor, "Mix Case");
}

// The message of the runtime_error `f` throws.
template <typename F> std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<accepted>";
}

TEST(MachineFile, ErrorsNameFileAndLine) {
    const char* const bad[][2] = {
        {"[machine]\n\n[screen]\n", "3: unknown section [screen]"},
        {"[adapter.0]\n[device.0.32]\n", "2: device target must be 0-31"},
        {"[machine\n", "1: section header without ']'"},
        {"name=x\n", "1: key outside of any section"},
        {"[machine]\njust words\n", "2: expected key=value"},
        {"[machine]\ncolour=blue\n", "2: unknown key 'colour' in [machine]"},
        {"[machine]\nname=a\nname=b\n", "3: key 'name' repeated (first on line 2)"},
        {"[adapter.0]\n[adapter.0]\n", "2: section [adapter.0] appears twice"},
        {"[adapter.0]\n[device.0.3]\n[device.0.3.0]\n", "3: a device at adapter 0"},
        {"[adapter.0]\n[device.1.3]\n", "2: device on adapter 1"},
        {"[machine]\nfamily=nt351\n", "2: key 'family': expected one of nt40 | win95"},
        {"[machine]\naspi_zero_adapters=2\n", "2: key 'aspi_zero_adapters': expected 0 or 1"},
        {"[adapter.0]\nhost_id=32\n", "2: key 'host_id': out of range 0-31"},
        {"[machine]\nabsent_files=IOSUBSYS\\APIX.VxD\n", "2: key 'absent_files': expected file"},
        {"[machine]\nunversioned_files=a.sys,,b.sys\n", "2: key 'unversioned_files'"},
        {"[adapter.0]\nio_address=0x1G\n", "2: key 'io_address': expected a decimal"},
        {"[adapter.0]\nidentifier=SEVENTEEN_LETTERS\n", "2: key 'identifier': longer than 16"},
        {"[adapter.0]\n[device.0.0]\nnot_ready=04\n", "3: key 'not_ready': expected ASC/ASCQ"},
        {"[adapter.0]\n[device.0.0]\nread_errors=20-10\n", "3: key 'read_errors'"},
        {"[adapter.0]\n[device.0.0]\nhardware_error=40/00\ndata_protect=27/00\n",
         "4: hardware_error and data_protect exclude each other"},
        {"[adapter.0]\n[device.0.0]\ntype=tape\nwce=1\n", "4: key 'wce': the device has no"},
        {"[adapter.0]\n[device.0.0]\ngeometry_page=0\nrpm=1\n", "4: key 'rpm': the device"},
        {"[adapter.0]\n[device.0.0]\nserial_justify=right\n", "3: key 'serial_justify': needs"},
        {"[adapter.0]\n[device.0.0]\nserial_width=3\nserial=ABCD\n", "3: key 'serial_width'"},
        {"[adapter.0]\nshort_transfer=status\n", "2: key 'short_transfer': expected one of"}};
    for (const auto& b : bad)
        EXPECT_THAT(ErrorOf([&] { ParseMachine(b[0], "bad.ini"); }),
                    testing::StartsWith(std::string("bad.ini:") + b[1]));
}

TEST(MachineFile, LoadsFromDiskAndNamesAMissingFile) {
    char dir[MAX_PATH], path[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "qvx", 0, path), 0u);
    auto write = [&](const char* text) {
        FILE* f = std::fopen(path, "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
    };
    write("[machine]\r\nname=On disk\r\n[adapter.0]\r\nhost_id=x\r\n");
    EXPECT_THAT(ErrorOf([&] { LoadMachine(path); }),
                testing::StartsWith(std::string(path) + ":4: key 'host_id'"));
    write("[machine]\r\nname=On disk\r\n");
    EXPECT_EQ(LoadMachine(path).name, "On disk");
    DeleteFileA(path);
    EXPECT_THAT(ErrorOf([&] { LoadMachine(path); }),
                testing::StartsWith(std::string(path) + ": cannot open"));
}

} // namespace
