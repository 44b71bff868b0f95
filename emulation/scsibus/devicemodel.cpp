#include "scsibus/devicemodel.h"

#include "scsibus/medium.h"

#include <algorithm>
#include <cstring>

namespace qvx::emu {
namespace {

constexpr uint8_t kSsComp = 0x01;
constexpr uint8_t kSsErr = 0x04;
constexpr uint8_t kHaDataOverUnderrun = 0x12;
constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpInquiry = 0x12;
// Standard INQUIRY data up to the revision level, and the peripheral byte of
// a logical unit the target cannot support (qualifier 3, type 1Fh).
constexpr size_t kInquiryFieldsEnd = 36;
constexpr uint8_t kNoUnitPeripheral = 0x7F;

// Bytes the host's buffer has room for (data-in), and bytes it offers (data-out).
uint32_t RoomIn(const ScsiRequest& r) {
    return r.data && r.direction != DataDirection::Out ? r.dataLength : 0;
}
uint32_t OfferedOut(const ScsiRequest& r) {
    return r.data && r.direction != DataDirection::In ? r.dataLength : 0;
}

bool Contains(const std::vector<uint8_t>& codes, uint8_t code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

uint32_t Be16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}
uint32_t Be24(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}
uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | Be24(p + 1);
}
void PutBe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutBe(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}
// Copies `text` into a blank-padded field of `width` bytes.
void PutPadded(uint8_t* out, const std::string& text, size_t width) {
    std::memset(out, ' ', width);
    std::memcpy(out, text.data(), std::min(width, text.size()));
}
void CutTo(std::vector<uint8_t>& data, size_t allocation) {
    if (data.size() > allocation)
        data.resize(allocation);
}

} // namespace

DeviceModel::DeviceModel(const DeviceConfig& config, bool underrunStatus)
    : config_(config), underrunStatus_(underrunStatus || config.faults.underrunStatus),
      buffer_(config.bufferBytes, 0), notReady_(config.faults.notReadyAsc),
      unitAttentionPending_(config.faults.unitAttentionAsc.has_value() &&
                            !config.faults.unitAttentionTurFirst) {}

DeviceModel::Answer DeviceModel::Check(uint8_t key, uint8_t asc, uint8_t ascq) {
    Answer a = Status(kCheckCondition);
    a.key = key;
    a.asc = asc;
    a.ascq = ascq;
    return a;
}

DeviceModel::Answer DeviceModel::Status(uint8_t status) {
    Answer a;
    a.status = status;
    return a;
}

// Types whose medium is addressed in logical blocks.
bool DeviceModel::HasBlockMedium() const {
    switch (config_.peripheralType) {
    case 0x00: // direct access
    case 0x04: // write once
    case 0x05: // CD-ROM
    case 0x07: // optical memory
        return true;
    default:
        return false;
    }
}

DeviceModel::Answer DeviceModel::NotReadyAnswer() const {
    return Check(kNotReady, *config_.faults.notReadyAsc, config_.faults.notReadyAscq);
}

// Counts a TEST UNIT READY; with a range of them configured, a unit
// attention arises just before each one in the range.
void DeviceModel::NoteTestUnitReady() {
    const Faults& f = config_.faults;
    if (!f.unitAttentionTurFirst || !f.unitAttentionAsc)
        return;
    ++testUnitReadys_;
    if (testUnitReadys_ >= *f.unitAttentionTurFirst && testUnitReadys_ <= f.unitAttentionTurLast)
        unitAttentionPending_ = true;
}

ScsiOutcome DeviceModel::Execute(const ScsiRequest& r) {
    const Faults& f = config_.faults;
    if (Contains(f.hangOpcodes, r.cdb[0])) {
        ScsiOutcome o;
        o.srbStatus = 0x00; // stays pending
        o.neverCompletes = true;
        o.abortAccepted = f.abortAccepted;
        return o;
    }
    return Finish(r, Respond(r, RoomIn(r)));
}

ScsiOutcome DeviceModel::ExecuteForAbsentUnit(const ScsiRequest& r) {
    const uint8_t* cdb = r.cdb;
    Answer a;
    if (cdb[0] == kOpInquiry && !(cdb[1] & 0x01)) {
        a = Inquiry(cdb);
        if (!a.in.empty())
            a.in[0] = kNoUnitPeripheral;
        if (a.in.size() > 1)
            a.in[1] = 0x00; // no medium to remove
    } else if (cdb[0] == kOpRequestSense) {
        a = SenseBytes(kIllegalRequest, kAscLunNotSupported, 0, cdb[4]);
    } else {
        a = Check(kIllegalRequest, kAscLunNotSupported);
    }
    return Finish(r, std::move(a));
}

// Target statuses come before anything the command would do: a busy target
// takes no command, a unit reserved by another initiator refuses all but
// INQUIRY and REQUEST SENSE, and both leave a unit attention pending. A unit
// attention then spares INQUIRY, is reported as data by REQUEST SENSE and
// ends any other command with CHECK CONDITION; either report clears it.
DeviceModel::Answer DeviceModel::Respond(const ScsiRequest& r, uint32_t room) {
    const Faults& f = config_.faults;
    const uint8_t op = r.cdb[0];
    if (Contains(f.busyOpcodes, op))
        return Status(kBusy);
    if (f.reservationConflict && op != kOpInquiry && op != kOpRequestSense)
        return Status(kReservationConflict);
    if (op == kOpTestUnitReady)
        NoteTestUnitReady();
    if (unitAttentionPending_ && op != kOpInquiry) {
        unitAttentionPending_ = false;
        if (op == kOpRequestSense)
            return SenseBytes(kUnitAttention, *f.unitAttentionAsc, 0, r.cdb[4]);
        return Check(kUnitAttention, *f.unitAttentionAsc);
    }
    return Dispatch(r, room);
}

// Moves the answer's data through the host's buffer and sets the statuses.
ScsiOutcome DeviceModel::Finish(const ScsiRequest& r, Answer a) const {
    ScsiOutcome o;
    const uint32_t roomIn = RoomIn(r);
    const uint32_t offeredOut = OfferedOut(r);
    if (a.inTotal < a.in.size())
        a.inTotal = a.in.size();

    uint32_t copied = static_cast<uint32_t>(std::min<uint64_t>(a.in.size(), roomIn));
    if (copied > 0)
        std::memcpy(r.data, a.in.data(), copied);
    uint32_t taken = std::min(a.outWanted, offeredOut);
    o.transferred = copied + taken;

    if (a.status != kGood) {
        o.srbStatus = kSsErr;
        o.targetStatus = a.status;
        if (a.status == kCheckCondition) {
            o.sense[0] = config_.faults.senseValidBit ? 0xF0 : 0x70;
            o.sense[2] = a.key;
            o.sense[7] = 10;
            o.sense[12] = a.asc;
            o.sense[13] = a.ascq;
        }
        return o;
    }
    o.srbStatus = kSsComp;
    if (a.inTotal > roomIn || a.outWanted > offeredOut) {
        // The device had more to move than the host's buffer: data lost.
        o.srbStatus = kSsErr;
        o.haStatus = kHaDataOverUnderrun;
    } else if (underrunStatus_ && (a.outWanted == 0 ? copied < roomIn : taken < offeredOut)) {
        // A short transfer: the command itself completed, the adapter reports the shortfall.
        o.haStatus = kHaDataOverUnderrun;
    }
    return o;
}

DeviceModel::Answer DeviceModel::Dispatch(const ScsiRequest& r, uint32_t room) {
    const uint8_t* cdb = r.cdb;
    const Faults& f = config_.faults;
    switch (cdb[0]) {
    case kOpInquiry:
        return Inquiry(cdb);
    case kOpRequestSense:
        return RequestSense(cdb);
    default:
        break;
    }
    if (f.hardwareError)
        return Check(kHardwareError, f.errorAsc, f.errorAscq);
    if (f.dataProtect)
        return Check(kDataProtect, f.errorAsc, f.errorAscq);
    switch (cdb[0]) {
    case kOpTestUnitReady:
        return TestUnitReady();
    case 0x25:
        return ReadCapacity(cdb);
    case 0x1A:
        return ModeSense(cdb);
    case 0x3C:
        return ReadBuffer(cdb);
    case 0x3B:
        return WriteBuffer(r);
    case 0x0B:
        return Seek(cdb);
    case 0x28:
        return Read10(cdb, room);
    default:
        return Check(kIllegalRequest, kAscInvalidOpcode);
    }
}

DeviceModel::Answer DeviceModel::Inquiry(const uint8_t* cdb) {
    const bool evpd = cdb[1] & 0x01;
    const uint8_t page = cdb[2];
    const uint8_t allocation = cdb[4];
    const uint8_t byte0 =
        static_cast<uint8_t>(config_.peripheralQualifier << 5 | (config_.peripheralType & 0x1F));
    if (cdb[1] & 0xFE & 0x1F) // reserved bits (CmdDt and the like)
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    Answer a;
    if (!evpd) {
        if (page != 0)
            return Check(kIllegalRequest, kAscInvalidFieldInCdb);
        // Laid out whole, then cut to the length this device returns.
        const size_t length = config_.inquiryLength;
        a.in.assign(std::max(length, kInquiryFieldsEnd), 0);
        a.in[0] = byte0;
        a.in[1] = config_.removable ? 0x80 : 0x00;
        a.in[2] = config_.ansiVersion & 0x07;
        a.in[3] = config_.ansiVersion >= 2 ? 0x02 : config_.ansiVersion;
        a.in[4] = static_cast<uint8_t>(length - 5);
        a.in[7] = static_cast<uint8_t>((config_.sync ? 0x10 : 0) | (config_.wide16 ? 0x20 : 0) |
                                       (config_.wide32 ? 0x40 : 0));
        PutPadded(&a.in[8], config_.vendor, 8);
        PutPadded(&a.in[16], config_.product, 16);
        PutPadded(&a.in[32], config_.revision, 4);
        a.in.resize(length);
    } else if (page == 0x00) {
        a.in = {byte0, 0x00, 0x00, 0, 0x00};
        if (!config_.faults.serialUnsupported)
            a.in.push_back(0x80);
        a.in[3] = static_cast<uint8_t>(a.in.size() - 4);
    } else if (page == 0x80 && !config_.faults.serialUnsupported) {
        std::string serial =
            config_.faults.serialLeadingBlank ? " " + config_.serial : config_.serial;
        // A fixed-width field: blanks after a left-justified number, before
        // a right-justified one.
        if (serial.size() < config_.serialWidth) {
            std::string blanks(config_.serialWidth - serial.size(), ' ');
            serial =
                config_.serialJustify == SerialJustify::Left ? serial + blanks : blanks + serial;
        }
        if (serial.size() > 255)
            serial.resize(255);
        a.in = {byte0, 0x80, 0x00, static_cast<uint8_t>(serial.size())};
        a.in.insert(a.in.end(), serial.begin(), serial.end());
    } else {
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    }
    CutTo(a.in, allocation);
    return a;
}

// Sense data in fixed format as REQUEST SENSE returns it, cut to the
// allocation length (SCSI-2: 0 asks for 4 bytes).
DeviceModel::Answer DeviceModel::SenseBytes(uint8_t key, uint8_t asc, uint8_t ascq,
                                            uint8_t allocation) const {
    Answer a;
    a.in.assign(18, 0);
    a.in[0] = config_.faults.senseValidBit ? 0xF0 : 0x70;
    a.in[2] = key;
    a.in[7] = 10;
    a.in[12] = asc;
    a.in[13] = ascq;
    CutTo(a.in, allocation == 0 ? 4 : allocation);
    return a;
}

// The sense data of the condition the unit is in now; the command itself
// succeeds (sense is also delivered automatically with every CHECK CONDITION).
DeviceModel::Answer DeviceModel::RequestSense(const uint8_t* cdb) {
    const Faults& f = config_.faults;
    if (f.hardwareError || f.dataProtect)
        return SenseBytes(f.hardwareError ? kHardwareError : kDataProtect, f.errorAsc, f.errorAscq,
                          cdb[4]);
    if (notReady_)
        return SenseBytes(kNotReady, *f.notReadyAsc, f.notReadyAscq, cdb[4]);
    return SenseBytes(kNoSense, 0, 0, cdb[4]);
}

DeviceModel::Answer DeviceModel::TestUnitReady() {
    if (notReady_) {
        ++notReadyTurs_;
        unsigned after = config_.faults.readyAfterTur;
        if (after == 0 || notReadyTurs_ <= after)
            return NotReadyAnswer();
        notReady_ = false; // the medium has come ready
    }
    // A removable medium drive with no medium in it.
    if (HasBlockMedium() && config_.removable && config_.blocks == 0)
        return Check(kNotReady, kAscMediumNotPresent);
    return Answer{};
}

// The medium commands need a block device that is ready and has a medium.
DeviceModel::Answer DeviceModel::MediumCheck() const {
    if (!HasBlockMedium())
        return Check(kIllegalRequest, kAscInvalidOpcode);
    if (notReady_)
        return NotReadyAnswer();
    if (config_.blocks == 0)
        return Check(kNotReady, kAscMediumNotPresent);
    return Answer{};
}

DeviceModel::Answer DeviceModel::ReadCapacity(const uint8_t* cdb) {
    if (Answer refused = MediumCheck(); refused.status != kGood)
        return refused;
    const bool pmi = cdb[8] & 0x01;
    if ((!pmi && Be32(cdb + 2) != 0) || (cdb[1] & 0x01))
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    Answer a;
    PutBe(a.in, config_.blocks - 1, 4);
    PutBe(a.in, config_.faults.capacityBlockLength.value_or(config_.blockSize), 4);
    return a;
}

void DeviceModel::AppendCachingPage(std::vector<uint8_t>& out, bool changeable) const {
    uint8_t flags = changeable ? 0x05
                               : static_cast<uint8_t>((config_.writeCacheEnabled ? 0x04 : 0) |
                                                      (config_.readCacheDisabled ? 0x01 : 0));
    uint8_t ff = changeable ? 0x00 : 0xFF;
    const uint8_t page[12] = {0x08, 0x0A, flags, 0x00, ff, ff, 0x00, 0x00, ff, ff, ff, ff};
    out.insert(out.end(), page, page + sizeof page);
}

void DeviceModel::AppendGeometryPage(std::vector<uint8_t>& out, bool changeable) const {
    uint8_t page[24] = {0x04, 0x16};
    if (!changeable) {
        // A plausible geometry: 8 heads of 128 blocks a track.
        const uint32_t heads = 8, perTrack = 128;
        uint32_t cylinders = static_cast<uint32_t>(std::min<uint64_t>(
            (uint64_t{config_.blocks} + heads * perTrack - 1) / (heads * perTrack), 0xFFFFFF));
        PutBe(page + 2, cylinders, 3);
        page[5] = static_cast<uint8_t>(heads);
        PutBe(page + 6, cylinders, 3);  // starting cylinder, write precompensation
        PutBe(page + 9, cylinders, 3);  // starting cylinder, reduced write current
        PutBe(page + 14, cylinders, 3); // landing zone
        PutBe(page + 20, config_.rotationRate, 2);
    }
    out.insert(out.end(), page, page + sizeof page);
}

DeviceModel::Answer DeviceModel::ModeSense(const uint8_t* cdb) {
    const bool dbd = cdb[1] & 0x08;
    const uint8_t control = cdb[2] >> 6;
    const uint8_t page = cdb[2] & 0x3F;
    if (control == 3)
        return Check(kIllegalRequest, kAscSavingNotSupported);
    const bool changeable = control == 1;
    std::vector<uint8_t> pages;
    if (page == 0x04 || page == 0x3F) {
        if (config_.hasGeometryPage)
            AppendGeometryPage(pages, changeable);
        else if (page == 0x04)
            return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    }
    if (page == 0x08 || page == 0x3F) {
        if (config_.hasCachingPage)
            AppendCachingPage(pages, changeable);
        else if (page == 0x08)
            return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    }
    if (page != 0x04 && page != 0x08 && page != 0x3F)
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);

    Answer a;
    a.in = {0, 0x00, 0x00, static_cast<uint8_t>(dbd ? 0 : 8)};
    if (!dbd) {
        a.in.push_back(0x00); // density code
        PutBe(a.in, std::min<uint32_t>(config_.blocks, 0xFFFFFF), 3);
        a.in.push_back(0x00);
        PutBe(a.in, config_.blockSize, 3);
    }
    a.in.insert(a.in.end(), pages.begin(), pages.end());
    a.in[0] = static_cast<uint8_t>(a.in.size() - 1); // mode data length
    CutTo(a.in, cdb[4]);
    return a;
}

DeviceModel::Answer DeviceModel::ReadBuffer(const uint8_t* cdb) {
    if (buffer_.empty())
        return Check(kIllegalRequest, kAscInvalidOpcode);
    const uint8_t mode = cdb[1] & 0x07;
    const uint32_t offset = Be24(cdb + 3);
    const uint32_t allocation = Be24(cdb + 6);
    const uint32_t capacity = static_cast<uint32_t>(buffer_.size());
    if (cdb[2] != 0) // one buffer, id 0
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    Answer a;
    auto appendData = [&](uint32_t from, uint32_t count) {
        size_t at = a.in.size();
        a.in.insert(a.in.end(), buffer_.begin() + from, buffer_.begin() + from + count);
        auto mismatch = config_.faults.bufferMismatchAt;
        if (mismatch && *mismatch >= from && *mismatch - from < count)
            a.in[at + (*mismatch - from)] ^= 0xFF;
    };
    switch (mode) {
    case 0x00: // header and data
        if (offset != 0)
            return Check(kIllegalRequest, kAscInvalidFieldInCdb);
        a.in = {0x00};
        PutBe(a.in, capacity, 3);
        appendData(0, std::min(capacity, allocation > 4 ? allocation - 4 : 0));
        break;
    case 0x02: // data
        if (offset > capacity || allocation > capacity - offset)
            return Check(kIllegalRequest, kAscInvalidFieldInCdb);
        appendData(offset, allocation);
        break;
    case 0x03: // descriptor: offset boundary and capacity
        a.in = {0x00};
        PutBe(a.in, capacity, 3);
        if (config_.faults.descriptorCapacityFF)
            a.in[1] = 0xFF;
        break;
    default:
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    }
    CutTo(a.in, allocation);
    return a;
}

DeviceModel::Answer DeviceModel::WriteBuffer(const ScsiRequest& r) {
    const uint8_t* cdb = r.cdb;
    if (buffer_.empty())
        return Check(kIllegalRequest, kAscInvalidOpcode);
    const uint8_t mode = cdb[1] & 0x07;
    const uint32_t offset = Be24(cdb + 3);
    const uint32_t length = Be24(cdb + 6);
    const uint32_t capacity = static_cast<uint32_t>(buffer_.size());
    if (cdb[2] != 0)
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    uint32_t skip = 0; // bytes of header before the data
    if (mode == 0x00) {
        if (offset != 0 || (length > 0 && length < 4) || (length >= 4 && length - 4 > capacity))
            return Check(kIllegalRequest, kAscInvalidFieldInCdb);
        skip = length >= 4 ? 4 : 0;
    } else if (mode == 0x02) {
        if (offset > capacity || length > capacity - offset)
            return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    } else {
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    }
    Answer a;
    a.outWanted = length;
    uint32_t offered = OfferedOut(r);
    uint32_t arrived = std::min(length, offered);
    if (arrived > skip)
        std::memcpy(buffer_.data() + offset, r.data + skip, arrived - skip);
    return a;
}

DeviceModel::Answer DeviceModel::Seek(const uint8_t* cdb) {
    if (Answer refused = MediumCheck(); refused.status != kGood)
        return refused;
    uint32_t lba = static_cast<uint32_t>(cdb[1] & 0x1F) << 16 | Be16(cdb + 2);
    if (lba >= config_.blocks)
        return Check(kIllegalRequest, kAscLbaOutOfRange);
    return Answer{};
}

DeviceModel::Answer DeviceModel::Read10(const uint8_t* cdb, uint32_t room) {
    if (Answer refused = MediumCheck(); refused.status != kGood)
        return refused;
    if (cdb[1] & 0x01) // relative addressing
        return Check(kIllegalRequest, kAscInvalidFieldInCdb);
    const uint32_t lba = Be32(cdb + 2);
    const uint32_t count = Be16(cdb + 7);
    if (uint64_t{lba} + count > config_.blocks)
        return Check(kIllegalRequest, kAscLbaOutOfRange);

    // Blocks before an unreadable one are delivered; the read stops there.
    uint32_t good = count;
    const Faults& f = config_.faults;
    if (f.readErrorFirst && count > 0) {
        uint32_t first = std::max(lba, *f.readErrorFirst);
        if (first <= f.readErrorLast && first - lba < count)
            good = first - lba;
    }
    const uint32_t size = config_.blockSize;
    Answer a;
    a.inTotal = uint64_t{count} * size;
    // Generate no more than fits the host's buffer.
    uint64_t limit = std::min<uint64_t>(uint64_t{good} * size, room);
    uint32_t blocks = static_cast<uint32_t>((limit + size - 1) / size);
    a.in.resize(uint64_t{blocks} * size);
    for (uint32_t i = 0; i < blocks; ++i)
        FillMediumBlock(lba + i, size, a.in.data() + uint64_t{i} * size);
    if (good < count) {
        Answer e = Check(kMediumError, kAscUnrecoveredReadError);
        e.in = std::move(a.in);
        return e;
    }
    return a;
}

} // namespace qvx::emu
