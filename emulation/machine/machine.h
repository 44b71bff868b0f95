// A machine description: what an emulated PC has that Wine cannot supply —
// the Windows family it reports, its ASPI layer, its SCSI host adapters with
// the devices on them, and the registry identity of each adapter.
// Read from an INI file (see docs/emulated-machine.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvx::emu {

enum class Family { Nt40, Win95 };
enum class AspiState { Installed, NotAvailable, Absent };
enum class MissingTarget { NoDevice, SelectionTimeout };
// What the adapter reports when a device sends less data than the host's
// buffer holds: plain success (the residual in SRB_BufLen when the host asks
// for it), or host adapter status 12h, data over/underrun.
enum class ShortTransfer { Residual, Underrun };
// What an unconfigured logical unit of a present target answers: the target
// itself (INQUIRY with peripheral qualifier 3, other commands ILLEGAL REQUEST
// 25h), or the adapter's "no device" request status.
enum class MissingLun { NotSupported, NoDevice };
enum class SerialJustify { Left, Right };

// How a device behaves beyond answering correctly; every field defaults to
// "behaves well".
struct Faults {
    // Not ready with this ASC/ASCQ (e.g. 04h/01h, 3Ah/00h), until the
    // medium arrives after `readyAfterTur` TEST UNIT READY commands (0: never).
    std::optional<uint8_t> notReadyAsc;
    uint8_t notReadyAscq = 0;
    unsigned readyAfterTur = 0;
    // A unit attention (28h or 29h) pending from power-on, or, when a range
    // is given, arising anew just before each TEST UNIT READY numbered in it
    // (counted from 1), as after a medium change or reset while in use.
    std::optional<uint8_t> unitAttentionAsc;
    std::optional<uint32_t> unitAttentionTurFirst;
    uint32_t unitAttentionTurLast = 0;
    // Hardware error (sense key 4) or data protect (key 7) on every command
    // but INQUIRY, with this ASC/ASCQ.
    bool hardwareError = false;
    bool dataProtect = false;
    uint8_t errorAsc = 0;
    uint8_t errorAscq = 0;
    // READ BUFFER returns data differing at this byte offset.
    std::optional<uint32_t> bufferMismatchAt;
    // The READ BUFFER descriptor reports capacity byte 1 as FFh.
    bool descriptorCapacityFF = false;
    // Serial number page: unsupported, or its first character a blank.
    bool serialUnsupported = false;
    bool serialLeadingBlank = false;
    // Commands (by operation code) that never complete, and whether an
    // abort of such a command is accepted.
    std::vector<uint8_t> hangOpcodes;
    bool abortAccepted = true;
    // Data-in transfers shorter than asked end with host adapter status 12h.
    bool underrunStatus = false;
    // READ(10) of any block in [first, last] fails with a medium error.
    std::optional<uint32_t> readErrorFirst;
    uint32_t readErrorLast = 0;
    // Fixed-format sense with response code F0h (VALID set) instead of 70h.
    bool senseValidBit = false;
    // NT: the class driver completes every data command (data in or out)
    // without carrying it out, reporting 0 bytes moved.
    bool ntZeroBytes = false;
    // NT: the same for these operation codes only.
    std::vector<uint8_t> ntZeroBytesOpcodes;
    // NT: the class driver refuses pass-through requests (ERROR_INVALID_FUNCTION).
    bool ntRejectsPassThrough = false;
    // NT: opening the device's drive letters or class device fails with this
    // Win32 error code (0: opens normally).
    uint32_t ntOpenError = 0;
    // READ CAPACITY reports this block length instead of the real one.
    std::optional<uint32_t> capacityBlockLength;
    // Commands (by operation code) the target answers with BUSY status.
    std::vector<uint8_t> busyOpcodes;
    // Reserved by another initiator: every command but INQUIRY and REQUEST
    // SENSE answers RESERVATION CONFLICT status.
    bool reservationConflict = false;
};

// Where a unit of an iSCSI target is reached: the portal "HOST:PORT" (the
// port may be written ${NAME}, the value of that environment variable when
// the request is sent) and the target name (IQN).
struct IscsiTarget {
    std::string portal;
    std::string name;
};

struct DeviceConfig {
    uint8_t bus = 0; // the adapter's bus (NT PathId)
    uint8_t target = 0;
    uint8_t lun = 0;
    uint8_t peripheralType = 0;      // INQUIRY byte 0 bits 0-4
    uint8_t peripheralQualifier = 0; // INQUIRY byte 0 bits 5-7
    bool removable = false;          // INQUIRY byte 1 bit 7
    uint8_t ansiVersion = 2;         // INQUIRY byte 2 bits 0-2
    bool sync = false;               // byte 7 bit 4
    bool wide16 = false;             // byte 7 bit 5
    bool wide32 = false;             // byte 7 bit 6
    std::string vendor;              // 8 characters, blank-padded on the wire
    std::string product;             // 16 characters
    std::string revision;            // 4 characters
    std::string serial;              // unit serial number page 80h
    uint8_t serialWidth = 0;         // the page's fixed field width; 0: the serial's own length
    SerialJustify serialJustify = SerialJustify::Left; // within that width, blank-padded
    uint8_t inquiryLength = 96;                        // bytes of standard INQUIRY data
    uint32_t blocks = 0;                               // medium size in blocks (0: no medium data)
    uint32_t blockSize = 512;
    bool hasCachingPage = true;     // by default on direct-access devices only
    bool readCacheDisabled = false; // RCD
    bool writeCacheEnabled = false; // WCE
    bool hasGeometryPage = true;    // by default on direct-access devices only
    uint16_t rotationRate = 0;      // rpm, rigid disk geometry page
    uint32_t bufferBytes = 0;       // buffer memory; 0: READ/WRITE BUFFER unsupported
    uint32_t latencyUs = 0;         // per-command latency
    uint32_t bandwidthKBs = 0;      // transfer rate; 0: instantaneous
    Faults faults;
    // NT: which class driver claimed the device, and under what name.
    std::string driveLetters; // e.g. "E", or "CD" for a disk with two partitions
    std::string classDevice;  // e.g. "Scanner0", "Tape0"
    // NT: whether a class driver owns the unit; unset: it does when it has a
    // drive letter or a class device.
    std::optional<bool> claimed;
    // A logical unit of an iSCSI target: the target answers every command
    // itself, and none of the medium, timing or fault settings apply.
    std::optional<IscsiTarget> iscsi;
    uint32_t iscsiLun = 0;
};

struct AdapterConfig {
    // What the ASPI host adapter inquiry reports.
    std::string managerId = "ASPI for WIN32";
    std::string identifier;
    uint8_t hostId = 7;
    uint8_t maxTargets = 8; // HA_Unique byte 3 (0 is reported as given)
    MissingTarget missing = MissingTarget::NoDevice;
    MissingLun missingLun = MissingLun::NotSupported;
    ShortTransfer shortTransfer = ShortTransfer::Residual;
    // NT SCSI port number and I/O address of the port.
    int ntPort = 0;
    uint32_t ioAddress = 0;
    int buses = 1;
    // NT: opening the port device, or its IOCTL_SCSI_GET_INQUIRY_DATA, fails
    // with this Win32 error code (0: works).
    uint32_t ntOpenError = 0;
    uint32_t ntInquiryError = 0;
    // Registry identity.
    std::string ntDriver;      // Hardware\DeviceMap\SCSI\SCSI PORT n "Driver"
    std::string mfg;           // legacy enumeration "Mfg"
    std::string deviceDesc;    // "DeviceDesc"
    std::string service;       // "Service"
    std::string portDriver;    // Windows 95 class entry "PortDriver"
    std::string driverDate;    // Windows 95 class entry "DriverDate"
    std::string pciClass;      // Windows 95 PCI device key "Class"
    std::string pciDriver;     // "Driver"
    std::string hwRevision;    // "HWRevision"
    std::string driverVersion; // file version of the driver file laid into the prefix
    std::vector<DeviceConfig> devices;
    // Every target id of the adapter (but its own) is the logical unit of
    // this iSCSI target with the same number; such an adapter has no devices
    // of its own.
    std::optional<IscsiTarget> iscsi;
    // Adapters hidden from ASPI (for example an IDE channel that only the
    // NT device map shows).
    bool aspiVisible = true;
};

// NT: a drive letter that belongs to no SCSI device (a floppy, a network
// drive, a RAM disk): present, of this GetDriveType type, and not answering
// IOCTL_SCSI_GET_ADDRESS.
struct OtherDrive {
    char letter = 'A';
    unsigned driveType = 0; // DRIVE_REMOVABLE (2), DRIVE_FIXED (3), DRIVE_REMOTE (4), ...
};

struct Machine {
    std::string name;
    Family family = Family::Nt40;
    AspiState aspi = AspiState::Installed;
    // GetASPI32SupportInfo reports 0 adapters even when some are defined.
    bool reportZeroAdapters = false;
    int screenWidth = 800;
    int screenHeight = 600;
    std::string helpPath; // App Paths "HelpPath"; empty: not written
    // Files the installer would lay that this machine does not have, and
    // files it lays without a version record (names without folders, any case).
    std::vector<std::string> absentFiles;
    std::vector<std::string> unversionedFiles;
    std::vector<OtherDrive> otherDrives;
    std::vector<AdapterConfig> adapters;
};

// Parses a machine file; throws std::runtime_error with the file name and
// line on a malformed file or an unknown key.
Machine LoadMachine(const std::string& path);
Machine ParseMachine(const std::string& text, const std::string& nameForErrors);

} // namespace qvx::emu
