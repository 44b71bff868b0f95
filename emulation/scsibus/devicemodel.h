// One emulated SCSI-2 logical unit: answers the commands a diagnostic tool
// sends (INQUIRY, TEST UNIT READY, READ CAPACITY, MODE SENSE, READ/WRITE
// BUFFER, SEEK, READ(10), REQUEST SENSE) from its configuration, and plays
// the configured faults. It also answers, as its target does, for the
// logical units of that target that are not configured. Not thread-safe by
// itself: the bus serialises calls.
#pragma once

#include "machine/machine.h"
#include "scsibus/scsibus.h"

#include <cstdint>
#include <vector>

namespace qvx::emu {

// Sense keys and the additional sense codes the models report.
enum SenseKey : uint8_t {
    kNoSense = 0x0,
    kNotReady = 0x2,
    kMediumError = 0x3,
    kHardwareError = 0x4,
    kIllegalRequest = 0x5,
    kUnitAttention = 0x6,
    kDataProtect = 0x7,
};
enum Asc : uint8_t {
    kAscUnrecoveredReadError = 0x11,
    kAscInvalidOpcode = 0x20,
    kAscLbaOutOfRange = 0x21,
    kAscInvalidFieldInCdb = 0x24,
    kAscSavingNotSupported = 0x39,
    kAscLunNotSupported = 0x25,
    kAscMediumNotPresent = 0x3A,
};
// Target status bytes.
enum TargetStatus : uint8_t {
    kGood = 0x00,
    kCheckCondition = 0x02,
    kBusy = 0x08,
    kReservationConflict = 0x18,
};

class DeviceModel {
  public:
    // `underrunStatus`: the adapter reports a short transfer with host
    // adapter status 12h instead of plain success.
    DeviceModel(const DeviceConfig& config, bool underrunStatus);

    const DeviceConfig& config() const {
        return config_;
    }

    // Runs one command addressed to this unit. Sets the statuses, sense,
    // data and transfer count; durationUs is left to the bus.
    ScsiOutcome Execute(const ScsiRequest& request);
    // Runs one command addressed to a logical unit of this unit's target that
    // is not configured: the target answers INQUIRY with peripheral qualifier
    // 3 and type 1Fh, REQUEST SENSE with the sense of an unsupported unit,
    // and every other command with ILLEGAL REQUEST 25h.
    ScsiOutcome ExecuteForAbsentUnit(const ScsiRequest& request);

  private:
    // What the device does with one command before the adapter moves data.
    struct Answer {
        uint8_t status = kGood; // with CHECK CONDITION, the sense below
        uint8_t key = 0, asc = 0, ascq = 0;
        std::vector<uint8_t> in; // bytes the device sends, already cut to the allocation length
        uint64_t inTotal = 0;    // bytes it would send; more than `in` only when cut to the room
        uint32_t outWanted = 0;  // bytes the device asks for (data-out commands)
    };

    ScsiOutcome Finish(const ScsiRequest& r, Answer a) const;
    Answer Respond(const ScsiRequest& r, uint32_t room);
    Answer Dispatch(const ScsiRequest& r, uint32_t room);
    Answer Inquiry(const uint8_t* cdb);
    Answer TestUnitReady();
    Answer RequestSense(const uint8_t* cdb);
    Answer SenseBytes(uint8_t key, uint8_t asc, uint8_t ascq, uint8_t allocation) const;
    Answer ReadCapacity(const uint8_t* cdb);
    Answer ModeSense(const uint8_t* cdb);
    Answer ReadBuffer(const uint8_t* cdb);
    Answer WriteBuffer(const ScsiRequest& r);
    Answer Seek(const uint8_t* cdb);
    Answer Read10(const uint8_t* cdb, uint32_t room);

    static Answer Check(uint8_t key, uint8_t asc, uint8_t ascq = 0);
    static Answer Status(uint8_t status);
    bool HasBlockMedium() const;
    Answer NotReadyAnswer() const;
    void NoteTestUnitReady();
    Answer MediumCheck() const;
    void AppendCachingPage(std::vector<uint8_t>& out, bool changeable) const;
    void AppendGeometryPage(std::vector<uint8_t>& out, bool changeable) const;

    DeviceConfig config_;
    bool underrunStatus_;
    std::vector<uint8_t> buffer_; // buffer memory for READ/WRITE BUFFER
    bool notReady_ = false;
    unsigned notReadyTurs_ = 0; // TEST UNIT READY answered NOT READY so far
    bool unitAttentionPending_ = false;
    uint32_t testUnitReadys_ = 0; // TEST UNIT READY commands received
};

} // namespace qvx::emu
