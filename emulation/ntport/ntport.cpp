// The device-access functions of the program over the virtual SCSI bus,
// answered as Windows NT 4.0 answers them: the SCSI port devices
// (\\.\SCSIn:), the drive letters of the disk and CD-ROM class drivers and
// the class devices (\\.\Scanner3, \\.\Tape0) of the others.
//
// What each request does:
//   open      a port, drive or class device of the machine; unknown names
//             fail with ERROR_FILE_NOT_FOUND, a CD-ROM opened for writing
//             with ERROR_ACCESS_DENIED, a device or port the machine marks
//             with `nt_open_error` with that code.
//   4100C     IOCTL_SCSI_GET_INQUIRY_DATA, ports only: the units the port
//             found at start-up (their INQUIRY data are read once, when the
//             machine is loaded, as the port driver does at boot).
//   41018     IOCTL_SCSI_GET_ADDRESS, drive letters and class devices only;
//             a port device does not handle it (ERROR_INVALID_FUNCTION).
//   4D004/4D014 pass-through, checked as the port driver checks it
//             (ERROR_INVALID_PARAMETER), addressed by the block on a port and
//             by the device's own address on a drive or class device, run by
//             the bus and journaled with its time-out.
// Failures of a command the device never answers: a unit nobody answers for
// fails with ERROR_DEVICE_NOT_CONNECTED (the port's selection time-out), a
// command still running when its time-out passes with ERROR_SEM_TIMEOUT
// (the port's I/O time-out), both as DeviceIoControl failures.
#include "ntport/ntport.h"

#include "ntdevice.h"
#include "scsibus/busfiles.h"
#include "scsibus/hostpath.h"
#include "scsibus/lock.h"
#include "scsibus/scsibus.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <optional>

namespace {

using qvx::emu::AdapterConfig;
using qvx::emu::CriticalSection;
using qvx::emu::DataDirection;
using qvx::emu::DeviceConfig;
using qvx::emu::Locked;
using qvx::emu::Machine;
using qvx::emu::ScsiBus;
using qvx::emu::ScsiOutcome;
using qvx::emu::ScsiRequest;

// The INQUIRY data a port keeps of each unit (INQUIRYDATABUFFERSIZE).
constexpr uint32_t kInquiryBytes = 36;
// The largest transfer the emulated ports take in one pass-through.
constexpr uint32_t kMaxTransfer = 0x00100000;
// The longest time-out the port driver accepts, in seconds (30 hours).
constexpr uint32_t kMaxTimeOut = 108000;
constexpr uint8_t kSrbComplete = 0x01;
constexpr uint8_t kCheckCondition = 0x02;
// Handles given out are these values plus four times their number: never
// null, never INVALID_HANDLE_VALUE, and easy to tell in a debugger.
constexpr uintptr_t kHandleBase = 0x4E540000;

enum class Kind { Port, Drive, ClassDevice, OtherDrive };

// What a handle was opened on.
struct OpenDevice {
    Kind kind = Kind::Port;
    std::string name;   // as the journal names it: "SCSI2:", "E:", "Scanner3"
    size_t adapter = 0; // index into the machine's adapters (Port, Drive, ClassDevice)
    const DeviceConfig* device = nullptr; // Drive and ClassDevice
    char letter = 0;                      // Drive and OtherDrive
    DWORD access = 0;
    bool gone = false; // the machine was replaced by one without this device
};

// A unit a port found at start-up.
struct FoundUnit {
    const DeviceConfig* device;
    uint8_t inquiry[kInquiryBytes];
};

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Claimed(const DeviceConfig& d) {
    return d.claimed.value_or(!d.driveLetters.empty() || !d.classDevice.empty());
}

bool IsCdRomType(uint8_t type) {
    return type == 0x05 || type == 0x08;
}

// The drive type the file system reports for a SCSI device's letters.
UINT DriveTypeOf(const DeviceConfig& d) {
    if (IsCdRomType(d.peripheralType))
        return DRIVE_CDROM;
    if (d.removable || d.peripheralType == 0x04 || d.peripheralType == 0x07)
        return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

// Real waiting: sleep most of the time, spin the last millisecond or two
// (timed waits wake late).
void WaitFor(uint32_t us) {
    if (us == 0)
        return;
    LARGE_INTEGER f, start, now;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&start);
    if (us > 2000)
        Sleep(us / 1000 - 2);
    const LONGLONG due = start.QuadPart + static_cast<LONGLONG>(us) * f.QuadPart / 1000000;
    do
        QueryPerformanceCounter(&now);
    while (now.QuadPart < due);
}

class NtPort {
  public:
    void EnsureMachine();
    void Replace(std::unique_ptr<ScsiBus> bus);

    HANDLE Open(const char* path, DWORD access);
    BOOL Control(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned);
    BOOL Close(HANDLE h);
    DWORD LogicalDrives();
    UINT DriveType(const char* root);

    int OpenHandles() {
        Locked lock(lock_);
        return static_cast<int>(handles_.size());
    }
    std::vector<qvx::emu::JournalEntry> JournalEntries() {
        EnsureMachine();
        Locked lock(lock_);
        return bus_ ? bus_->JournalEntries() : std::vector<qvx::emu::JournalEntry>();
    }
    void ClearJournal() {
        EnsureMachine();
        Locked lock(lock_);
        if (bus_)
            bus_->ClearJournal();
    }
    void SetAnswer(int port, const void* bytes, size_t size) {
        Locked lock(lock_);
        auto& answer = answers_[port];
        answer.assign(static_cast<const uint8_t*>(bytes),
                      static_cast<const uint8_t*>(bytes) + size);
    }
    void ClearAnswer(int port) {
        Locked lock(lock_);
        answers_.erase(port);
    }
    void SetWaiter(qvx::ntport::Waiter w) {
        Locked lock(lock_);
        waiter_ = std::move(w);
    }
    qvx::ntport::ControlCall LastControl() {
        Locked lock(lock_);
        return lastControl_;
    }

  private:
    void BootScan();
    std::optional<OpenDevice> Resolve(const std::string& name, DWORD access, bool reopen,
                                      DWORD& error) const;
    std::vector<uint8_t> InquiryAnswer(size_t adapter) const;
    qvx::ntport::ControlCall lastControl_;
    BOOL InquiryData(const OpenDevice& d, void* out, DWORD outSize, DWORD* returned);
    BOOL Address(const OpenDevice& d, void* out, DWORD outSize, DWORD* returned);
    BOOL PassThrough(const OpenDevice& d, DWORD code, void* in, DWORD inSize, void* out,
                     DWORD outSize, DWORD* returned);
    void Wait(uint32_t us);
    void RecordQuery(const OpenDevice& d, DWORD code);

    CriticalSection lock_;
    bool loaded_ = false;
    std::unique_ptr<ScsiBus> bus_;
    std::vector<std::vector<FoundUnit>> found_; // [adapter], in bus, target, lun order
    std::map<int, std::vector<uint8_t>> answers_;
    std::map<uintptr_t, OpenDevice> handles_;
    uintptr_t nextHandle_ = 1;
    qvx::ntport::Waiter waiter_;
};

NtPort& Port() {
    static NtPort port;
    return port;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

void NtPort::EnsureMachine() {
    {
        Locked lock(lock_);
        if (loaded_)
            return;
    }
    std::string path = qvx::emu::MachineFilePath();
    // The journal file gets what the program sends, not the start-up scan.
    std::unique_ptr<ScsiBus> bus = path.empty() ? nullptr : qvx::emu::OpenBus(path, false);
    Locked lock(lock_);
    if (!loaded_) {
        bus_ = std::move(bus);
        loaded_ = true;
        BootScan();
        if (bus_)
            qvx::emu::AttachJournalFile(*bus_);
    }
}

void NtPort::Replace(std::unique_ptr<ScsiBus> bus) {
    Locked lock(lock_);
    bus_ = std::move(bus);
    loaded_ = true;
    answers_.clear();
    BootScan();
    // Open handles now reach the new machine's device of the same name.
    for (auto& [value, open] : handles_) {
        (void)value;
        DWORD error = 0;
        std::optional<OpenDevice> again = Resolve(open.name, open.access, true, error);
        if (again) {
            again->access = open.access;
            open = *again;
        } else {
            open.gone = true;
        }
    }
}

// What the port drivers find at start-up: every configured unit that
// answers a 36-byte INQUIRY with GOOD status, unless it reports that no
// unit is there (peripheral qualifier 3). The scan is not part of what the
// program sent, so the journal is emptied after it.
void NtPort::BootScan() {
    found_.clear();
    if (!bus_)
        return;
    const Machine& m = bus_->machine();
    found_.resize(m.adapters.size());
    for (size_t a = 0; a < m.adapters.size(); ++a) {
        for (const DeviceConfig& d : m.adapters[a].devices) {
            FoundUnit unit{&d, {}};
            ScsiRequest r;
            r.adapter = static_cast<uint8_t>(a);
            r.path = d.bus;
            r.target = d.target;
            r.lun = d.lun;
            const uint8_t cdb[6] = {0x12, 0, 0, 0, kInquiryBytes, 0};
            memcpy(r.cdb, cdb, sizeof cdb);
            r.cdbLength = sizeof cdb;
            r.direction = DataDirection::In;
            r.data = unit.inquiry;
            r.dataLength = kInquiryBytes;
            ScsiOutcome o = bus_->Execute(r);
            if (o.neverCompletes || o.srbStatus != kSrbComplete || o.targetStatus != 0 ||
                o.transferred == 0 || (unit.inquiry[0] >> 5) == 3)
                continue;
            found_[a].push_back(unit);
        }
    }
    bus_->ClearJournal();
}

// Finds the device a name (without "\\.\") stands for.
// `reopen`: finding a handle's device again in a new machine, where the
// open itself is not repeated (no open error, no access check).
std::optional<OpenDevice> NtPort::Resolve(const std::string& rawName, DWORD access, bool reopen,
                                          DWORD& error) const {
    error = ERROR_FILE_NOT_FOUND;
    if (!bus_)
        return std::nullopt;
    const Machine& m = bus_->machine();
    const std::string name = Upper(rawName);
    // \\.\SCSIn: with n in decimal.
    if (name.size() > 5 && name.compare(0, 4, "SCSI") == 0 && name.back() == ':') {
        std::string digits = name.substr(4, name.size() - 5);
        // The port's name has its number as written in decimal: no sign, no
        // leading zero.
        bool number = !digits.empty() && digits.size() <= 3 &&
                      (digits.size() == 1 || digits[0] != '0') &&
                      std::all_of(digits.begin(), digits.end(), [](char c) { return isdigit(c); });
        if (!number)
            return std::nullopt;
        int n = std::stoi(digits);
        for (size_t a = 0; a < m.adapters.size(); ++a) {
            if (m.adapters[a].ntPort != n)
                continue;
            if (m.adapters[a].ntOpenError && !reopen) {
                error = m.adapters[a].ntOpenError;
                return std::nullopt;
            }
            return OpenDevice{Kind::Port, "SCSI" + std::to_string(n) + ":", a, nullptr, 0};
        }
        return std::nullopt;
    }
    // \\.\C: and the other drive letters.
    if (name.size() == 2 && name[1] == ':' && name[0] >= 'A' && name[0] <= 'Z') {
        const char letter = name[0];
        for (size_t a = 0; a < m.adapters.size(); ++a)
            for (const DeviceConfig& d : m.adapters[a].devices) {
                if (d.driveLetters.find(letter) == std::string::npos)
                    continue;
                if (d.faults.ntOpenError && !reopen) {
                    error = d.faults.ntOpenError;
                    return std::nullopt;
                }
                if (DriveTypeOf(d) == DRIVE_CDROM && (access & GENERIC_WRITE) && !reopen) {
                    error = ERROR_ACCESS_DENIED;
                    return std::nullopt;
                }
                return OpenDevice{Kind::Drive, name, a, &d, letter};
            }
        for (const auto& other : m.otherDrives) {
            if (other.letter != letter || other.driveType <= DRIVE_NO_ROOT_DIR)
                continue;
            if (other.driveType == DRIVE_CDROM && (access & GENERIC_WRITE) && !reopen) {
                error = ERROR_ACCESS_DENIED;
                return std::nullopt;
            }
            return OpenDevice{Kind::OtherDrive, name, 0, nullptr, letter};
        }
        return std::nullopt;
    }
    // Class devices by the names their drivers gave them.
    for (size_t a = 0; a < m.adapters.size(); ++a)
        for (const DeviceConfig& d : m.adapters[a].devices) {
            if (d.classDevice.empty() || Upper(d.classDevice) != name)
                continue;
            if (d.faults.ntOpenError && !reopen) {
                error = d.faults.ntOpenError;
                return std::nullopt;
            }
            return OpenDevice{Kind::ClassDevice, d.classDevice, a, &d, 0};
        }
    return std::nullopt;
}

HANDLE NtPort::Open(const char* path, DWORD access) {
    EnsureMachine();
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Locked lock(lock_);
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::optional<OpenDevice> device;
    if (strncmp(path, "\\\\.\\", 4) == 0)
        device = Resolve(path + 4, access, false, error);
    if (!device) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    uintptr_t value = kHandleBase + 4 * nextHandle_++;
    device->access = access;
    handles_[value] = *device;
    return reinterpret_cast<HANDLE>(value);
}

BOOL NtPort::Close(HANDLE h) {
    Locked lock(lock_);
    if (handles_.erase(reinterpret_cast<uintptr_t>(h)) == 0)
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL NtPort::Control(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned) {
    EnsureMachine();
    if (returned)
        *returned = 0;
    OpenDevice d;
    {
        Locked lock(lock_);
        const size_t kept = in ? std::min<size_t>(inSize, 128) : 0;
        lastControl_ = {code, inSize, outSize,
                        std::vector<uint8_t>(static_cast<const uint8_t*>(in),
                                             static_cast<const uint8_t*>(in) + kept)};
        auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
        if (it == handles_.end() || !bus_)
            return Fail(ERROR_INVALID_HANDLE);
        d = it->second;
        if (d.gone)
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    // The system refuses buffers it cannot reach before any driver sees them.
    if ((inSize && !in) || (outSize && !out))
        return Fail(ERROR_NOACCESS);
    switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA:
        return InquiryData(d, out, outSize, returned);
    case IOCTL_SCSI_GET_ADDRESS:
        return Address(d, out, outSize, returned);
    case IOCTL_SCSI_PASS_THROUGH:
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return PassThrough(d, code, in, inSize, out, outSize, returned);
    default:
        return Fail(ERROR_INVALID_FUNCTION);
    }
}

void NtPort::RecordQuery(const OpenDevice& d, DWORD code) {
    qvx::emu::HostTag tag;
    tag.adapter = d.kind == Kind::OtherDrive ? 0 : bus_->machine().adapters[d.adapter].ntPort;
    tag.flags = code;
    tag.via = d.name;
    bus_->RecordAdapterQuery(tag, code);
}

// The published SCSI_ADAPTER_BUS_INFO of a port: the bus summaries, then per
// bus a chain of SCSI_INQUIRY_DATA entries, each 4-byte aligned; offsets
// count from the start of the answer, 0 ends a chain.
std::vector<uint8_t> NtPort::InquiryAnswer(size_t adapter) const {
    const AdapterConfig& a = bus_->machine().adapters[adapter];
    const size_t buses = static_cast<size_t>(a.buses);
    const size_t header = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + buses * sizeof(SCSI_BUS_DATA);
    const size_t entrySize = (offsetof(SCSI_INQUIRY_DATA, InquiryData) + kInquiryBytes + 3) & ~3u;
    std::vector<uint8_t> answer(header + found_[adapter].size() * entrySize, 0);
    auto* info = reinterpret_cast<SCSI_ADAPTER_BUS_INFO*>(answer.data());
    info->NumberOfBuses = static_cast<UCHAR>(buses);
    size_t at = header;
    for (size_t b = 0; b < buses; ++b) {
        SCSI_BUS_DATA& bus = info->BusData[b];
        bus.InitiatorBusId = a.hostId;
        ULONG* link = &bus.InquiryDataOffset;
        for (const FoundUnit& unit : found_[adapter]) {
            if (unit.device->bus != b)
                continue;
            auto* e = reinterpret_cast<SCSI_INQUIRY_DATA*>(answer.data() + at);
            e->PathId = static_cast<UCHAR>(b);
            e->TargetId = unit.device->target;
            e->Lun = unit.device->lun;
            e->DeviceClaimed = Claimed(*unit.device) ? TRUE : FALSE;
            e->InquiryDataLength = kInquiryBytes;
            memcpy(e->InquiryData, unit.inquiry, kInquiryBytes);
            *link = static_cast<ULONG>(at);
            link = &e->NextInquiryDataOffset;
            ++bus.NumberOfLogicalUnits;
            at += entrySize;
        }
    }
    return answer;
}

// As much of a full answer as `room` holds: the bus summaries, and of each
// chain the entries that fit whole; the counts and links follow what is kept.
std::vector<uint8_t> Truncated(std::vector<uint8_t> answer, size_t room) {
    auto* info = reinterpret_cast<SCSI_ADAPTER_BUS_INFO*>(answer.data());
    for (size_t b = 0; b < info->NumberOfBuses; ++b) {
        SCSI_BUS_DATA& bus = info->BusData[b];
        ULONG* link = &bus.InquiryDataOffset;
        UCHAR kept = 0;
        while (*link) {
            auto* e = reinterpret_cast<SCSI_INQUIRY_DATA*>(answer.data() + *link);
            if (*link + offsetof(SCSI_INQUIRY_DATA, InquiryData) + e->InquiryDataLength > room) {
                *link = 0;
                break;
            }
            ++kept;
            link = &e->NextInquiryDataOffset;
        }
        bus.NumberOfLogicalUnits = kept;
    }
    answer.resize(room);
    return answer;
}

// ERROR_INSUFFICIENT_BUFFER, and nothing written, when not even the bus
// summaries fit; ERROR_MORE_DATA with what fits when some units do not.
BOOL NtPort::InquiryData(const OpenDevice& d, void* out, DWORD outSize, DWORD* returned) {
    std::vector<uint8_t> answer;
    bool raw = false;
    {
        Locked lock(lock_);
        if (d.kind != Kind::Port)
            return Fail(ERROR_INVALID_FUNCTION);
        RecordQuery(d, IOCTL_SCSI_GET_INQUIRY_DATA);
        const AdapterConfig& a = bus_->machine().adapters[d.adapter];
        if (a.ntInquiryError)
            return Fail(a.ntInquiryError);
        auto replaced = answers_.find(a.ntPort);
        raw = replaced != answers_.end();
        answer = raw ? replaced->second : InquiryAnswer(d.adapter);
    }
    size_t header = sizeof(SCSI_ADAPTER_BUS_INFO);
    if (!raw)
        header = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) +
                 answer[0] * sizeof(SCSI_BUS_DATA); // answer[0]: NumberOfBuses
    if (outSize < std::min(header, answer.size()))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (outSize < answer.size()) {
        std::vector<uint8_t> part =
            raw ? std::vector<uint8_t>(answer.begin(), answer.begin() + outSize)
                : Truncated(std::move(answer), outSize);
        memcpy(out, part.data(), part.size());
        if (returned)
            *returned = static_cast<DWORD>(part.size());
        return Fail(ERROR_MORE_DATA);
    }
    memcpy(out, answer.data(), answer.size());
    if (returned)
        *returned = static_cast<DWORD>(answer.size());
    return TRUE;
}

BOOL NtPort::Address(const OpenDevice& d, void* out, DWORD outSize, DWORD* returned) {
    Locked lock(lock_);
    RecordQuery(d, IOCTL_SCSI_GET_ADDRESS);
    if (d.kind == Kind::Port || d.kind == Kind::OtherDrive)
        return Fail(ERROR_INVALID_FUNCTION);
    if (outSize < sizeof(SCSI_ADDRESS))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    SCSI_ADDRESS address = {};
    address.Length = sizeof address;
    address.PortNumber = static_cast<UCHAR>(bus_->machine().adapters[d.adapter].ntPort);
    address.PathId = d.device->bus;
    address.TargetId = d.device->target;
    address.Lun = d.device->lun;
    memcpy(out, &address, sizeof address);
    if (returned)
        *returned = sizeof address;
    return TRUE;
}

void NtPort::Wait(uint32_t us) {
    qvx::ntport::Waiter waiter;
    {
        Locked lock(lock_);
        waiter = waiter_;
    }
    if (waiter)
        waiter(us);
    else
        WaitFor(us);
}

// The port driver's checks of a request block; false for ERROR_INVALID_PARAMETER.
template <typename Block> bool CheckCommon(const Block& b, DWORD outSize) {
    if (b.Length != sizeof(Block) || b.CdbLength == 0 || b.CdbLength > sizeof b.Cdb ||
        b.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED || b.TimeOutValue == 0 ||
        b.TimeOutValue > kMaxTimeOut || b.DataTransferLength > kMaxTransfer)
        return false;
    if (b.SenseInfoLength != 0 && (b.SenseInfoOffset < sizeof(Block) ||
                                   uint64_t{b.SenseInfoOffset} + b.SenseInfoLength > outSize))
        return false;
    return true;
}

BOOL NtPort::PassThrough(const OpenDevice& d, DWORD code, void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* returned) {
    const bool direct = code == IOCTL_SCSI_PASS_THROUGH_DIRECT;
    const DWORD headerSize = direct ? sizeof(SCSI_PASS_THROUGH_DIRECT) : sizeof(SCSI_PASS_THROUGH);
    if (inSize < headerSize || outSize < headerSize)
        return Fail(ERROR_INVALID_PARAMETER);
    // The caller's block, read once; the answer is written back whole.
    SCSI_PASS_THROUGH_DIRECT sptd = {};
    SCSI_PASS_THROUGH spt = {};
    uint8_t* dataOut = nullptr;
    uint8_t* dataIn = nullptr;
    uint32_t length = 0;
    if (direct) {
        memcpy(&sptd, in, sizeof sptd);
        if (!CheckCommon(sptd, outSize))
            return Fail(ERROR_INVALID_PARAMETER);
        length = sptd.DataTransferLength;
        if (length && !sptd.DataBuffer)
            return Fail(ERROR_NOACCESS);
        dataOut = dataIn = static_cast<uint8_t*>(sptd.DataBuffer);
    } else {
        memcpy(&spt, in, sizeof spt);
        if (!CheckCommon(spt, outSize))
            return Fail(ERROR_INVALID_PARAMETER);
        length = spt.DataTransferLength;
        if (length) {
            const uint64_t end = uint64_t{spt.DataBufferOffset} + length;
            const bool toHost = spt.DataIn != SCSI_IOCTL_DATA_OUT;
            if (spt.DataBufferOffset < sizeof spt || end > (toHost ? outSize : inSize))
                return Fail(ERROR_INVALID_PARAMETER);
            if (spt.SenseInfoLength && spt.SenseInfoOffset < end &&
                spt.DataBufferOffset < uint64_t{spt.SenseInfoOffset} + spt.SenseInfoLength)
                return Fail(ERROR_INVALID_PARAMETER);
            dataOut = static_cast<uint8_t*>(in) + spt.DataBufferOffset;
            dataIn = static_cast<uint8_t*>(out) + spt.DataBufferOffset;
        }
    }
    // The fields both blocks have (the sense offset and the CDB lie at other
    // offsets in each, after the data buffer field).
    const uint8_t cdbLength = direct ? sptd.CdbLength : spt.CdbLength;
    const uint8_t dataInFlag = direct ? sptd.DataIn : spt.DataIn;
    const uint32_t timeOut = direct ? sptd.TimeOutValue : spt.TimeOutValue;
    const uint32_t senseOffset = direct ? sptd.SenseInfoOffset : spt.SenseInfoOffset;
    const uint8_t senseRoom = direct ? sptd.SenseInfoLength : spt.SenseInfoLength;
    const uint8_t* cdb = direct ? sptd.Cdb : spt.Cdb;

    ScsiRequest r;
    {
        Locked lock(lock_);
        if (d.kind == Kind::OtherDrive)
            return Fail(ERROR_INVALID_FUNCTION);
        r.adapter = static_cast<uint8_t>(d.adapter);
        r.host.adapter = static_cast<uint32_t>(bus_->machine().adapters[d.adapter].ntPort);
        if (d.kind == Kind::Port) {
            r.path = direct ? sptd.PathId : spt.PathId;
            r.target = direct ? sptd.TargetId : spt.TargetId;
            r.lun = direct ? sptd.Lun : spt.Lun;
        } else {
            r.path = d.device->bus;
            r.target = d.device->target;
            r.lun = d.device->lun;
        }
    }
    memcpy(r.cdb, cdb, cdbLength);
    r.cdbLength = cdbLength;
    r.host.flags = code;
    r.host.via = d.name;
    r.host.path = r.path;
    r.host.timeoutSeconds = timeOut;
    std::vector<uint8_t> inData;
    if (length && dataInFlag == SCSI_IOCTL_DATA_OUT) {
        r.direction = DataDirection::Out;
        r.data = dataOut;
        r.dataLength = length;
    } else if (length) {
        inData.assign(length, 0);
        r.direction = DataDirection::In;
        r.data = inData.data();
        r.dataLength = length;
    }

    ScsiOutcome o;
    bool classDriverKeeps = false;
    {
        Locked lock(lock_);
        const DeviceConfig* device = d.device;
        if (d.kind == Kind::Port) {
            // A unit a class driver owns is reached through that driver only.
            for (const FoundUnit& unit : found_[d.adapter])
                if (unit.device->bus == r.path && unit.device->target == r.target &&
                    unit.device->lun == r.lun && Claimed(*unit.device)) {
                    bus_->RecordOnly(r);
                    return Fail(ERROR_INVALID_FUNCTION);
                }
        } else if (device->faults.ntRejectsPassThrough) {
            bus_->RecordOnly(r);
            return Fail(ERROR_INVALID_FUNCTION);
        } else if ((device->faults.ntZeroBytes ||
                    std::count(device->faults.ntZeroBytesOpcodes.begin(),
                               device->faults.ntZeroBytesOpcodes.end(), r.cdb[0])) &&
                   length) {
            o.sequence = bus_->RecordOnly(r);
            classDriverKeeps = true;
        }
        if (!classDriverKeeps)
            o = bus_->Execute(r);
    }

    if (!classDriverKeeps) {
        if (o.srbStatus != kSrbComplete && !(o.srbStatus == 0x04 && o.haStatus == 0x12) &&
            !(o.srbStatus == 0x04 && o.haStatus == 0 && o.targetStatus != 0) && !o.neverCompletes)
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        const uint64_t limitUs = uint64_t{timeOut} * 1000000u;
        if (o.neverCompletes || o.durationUs > limitUs) {
            Wait(static_cast<uint32_t>(std::min<uint64_t>(limitUs, UINT32_MAX)));
            Locked lock(lock_);
            bus_->NoteAbort(o.sequence, timeOut * 1000u);
            return Fail(ERROR_SEM_TIMEOUT);
        }
        Wait(o.durationUs);
    }

    // The results, written into the caller's block.
    const uint32_t moved = std::min(o.transferred, length);
    if (r.direction == DataDirection::In && moved)
        memcpy(dataIn, inData.data(), moved);
    uint8_t senseCopied = 0;
    if (o.targetStatus == kCheckCondition && senseRoom) {
        senseCopied = static_cast<uint8_t>(std::min<size_t>(senseRoom, sizeof o.sense));
        memcpy(static_cast<uint8_t*>(out) + senseOffset, o.sense, senseCopied);
    }
    DWORD bytes = headerSize;
    if (!direct && r.direction == DataDirection::In && moved)
        bytes = spt.DataBufferOffset + moved;
    if (senseCopied)
        bytes = std::max<DWORD>(bytes, senseOffset + senseCopied);
    // Copy the caller's block through the output and set what the port returns.
    if (direct) {
        sptd.ScsiStatus = o.targetStatus;
        sptd.DataTransferLength = moved;
        sptd.SenseInfoLength = senseCopied;
        memcpy(out, &sptd, sizeof sptd);
    } else {
        spt.ScsiStatus = o.targetStatus;
        spt.DataTransferLength = moved;
        spt.SenseInfoLength = senseCopied;
        memcpy(out, &spt, sizeof spt);
    }
    if (returned)
        *returned = std::min(bytes, outSize);
    return TRUE;
}

DWORD NtPort::LogicalDrives() {
    EnsureMachine();
    Locked lock(lock_);
    if (!bus_)
        return 0;
    DWORD mask = 0;
    for (const AdapterConfig& a : bus_->machine().adapters)
        for (const DeviceConfig& d : a.devices)
            for (char letter : d.driveLetters)
                mask |= 1u << (letter - 'A');
    for (const auto& other : bus_->machine().otherDrives)
        if (other.driveType > DRIVE_NO_ROOT_DIR)
            mask |= 1u << (other.letter - 'A');
    return mask;
}

// "C:\" or "C:" in either case; anything else, or a letter that is not
// there, has no root directory.
UINT NtPort::DriveType(const char* root) {
    EnsureMachine();
    if (!root || !isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':' ||
        (root[2] != 0 && (root[2] != '\\' || root[3] != 0)))
        return DRIVE_NO_ROOT_DIR;
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(root[0])));
    Locked lock(lock_);
    if (!bus_)
        return DRIVE_NO_ROOT_DIR;
    for (const AdapterConfig& a : bus_->machine().adapters)
        for (const DeviceConfig& d : a.devices)
            if (d.driveLetters.find(letter) != std::string::npos)
                return DriveTypeOf(d);
    for (const auto& other : bus_->machine().otherDrives)
        if (other.letter == letter)
            return other.driveType;
    return DRIVE_NO_ROOT_DIR;
}

} // namespace

// The program's device-access functions (ntdevice.h).

HANDLE NtDeviceOpen(const char* path, DWORD access, DWORD /*share*/) {
    return Port().Open(path, access);
}

BOOL NtDeviceControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned) {
    return Port().Control(device, code, in, inSize, out, outSize, returned);
}

BOOL NtDeviceClose(HANDLE device) {
    return Port().Close(device);
}

DWORD NtLogicalDrives(void) {
    return Port().LogicalDrives();
}

UINT NtDriveType(const char* root) {
    return Port().DriveType(root);
}

// The test interface (ntport.h).

namespace qvx::ntport {

namespace {
bool Load(const std::function<emu::Machine()>& parse, std::string* error) {
    try {
        Port().Replace(std::make_unique<emu::ScsiBus>(parse()));
        return true;
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return false;
    }
}
} // namespace

bool LoadMachineFile(const std::string& path, std::string* error) {
    return Load([&] { return emu::LoadMachine(emu::ToWindowsPath(path)); }, error);
}

bool LoadMachineText(const std::string& text, std::string* error) {
    return Load([&] { return emu::ParseMachine(text, "machine text"); }, error);
}

int OpenHandleCount() {
    return Port().OpenHandles();
}

std::vector<emu::JournalEntry> Journal() {
    return Port().JournalEntries();
}

std::vector<std::string> JournalLines() {
    std::vector<std::string> lines;
    for (const auto& e : Journal())
        lines.push_back(emu::JournalLine(e));
    return lines;
}

void ClearJournal() {
    Port().ClearJournal();
}

void SetInquiryAnswer(int port, const void* bytes, size_t size) {
    Port().SetAnswer(port, bytes, size);
}

void ClearInquiryAnswer(int port) {
    Port().ClearAnswer(port);
}

void SetWaiter(Waiter waiter) {
    Port().SetWaiter(std::move(waiter));
}

ControlCall LastControl() {
    return Port().LastControl();
}

} // namespace qvx::ntport
