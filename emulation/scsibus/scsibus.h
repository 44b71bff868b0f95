// The virtual SCSI bus: host adapters, targets and a device model per
// target, answering SCSI commands as real devices would. Free of any
// user-interface code and of ASPI; the ASPI library and the NT port
// stand-in are built over it.
#pragma once

#include "machine/machine.h"
#include "scsibus/journal.h"
#include "scsibus/lock.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qvx::emu {

struct ScsiRequest {
    uint8_t adapter = 0; // index among the bus's adapters (into machine().adapters)
    uint8_t path = 0;    // the bus of a multi-bus adapter (ASPI: always 0)
    uint8_t target = 0;
    uint8_t lun = 0;
    uint8_t cdb[16] = {};
    uint8_t cdbLength = 6;
    DataDirection direction = DataDirection::None;
    uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    HostTag host; // kept in the journal only
};

// A request for a unit of an iSCSI target, which the transport carries to
// the target; `checkLun`: the unit is one of an adapter that maps every
// target id to a unit, and a unit the target does not report answers as the
// adapter's `missing` says.
struct RemoteUnit {
    IscsiTarget target;
    uint32_t lun = 0;
    bool checkLun = false;
};

// Outcome of one request, in ASPI terms (the NT side maps them).
// A hung command leaves srbStatus 00h (pending) with neverCompletes set.
// A transfer shorter than the host's buffer completes (srbStatus 01h), with
// haStatus 12h on an adapter that reports underruns (or a device configured
// with `underrun`); more data than the buffer holds (an overrun) ends with
// srbStatus 04h and haStatus 12h.
struct ScsiOutcome {
    uint8_t srbStatus = 0x01; // SS_COMP, SS_ERR (04h), SS_NO_DEVICE (82h), SS_INVALID_HA (81h)
    uint8_t haStatus = 0x00;  // 00h, 11h selection time-out, 12h data over/underrun
    uint8_t targetStatus = 0; // 00h good, 02h check condition, 08h busy, 18h reservation conflict
    uint8_t sense[18] = {};   // fixed-format sense data when targetStatus is 02h
    uint32_t transferred = 0; // bytes moved
    uint32_t durationUs = 0;  // modelled time the command takes
    bool neverCompletes = false;
    bool abortAccepted = true; // for a request that never completes
    uint32_t sequence = 0;     // the request's journal entry
    // Set for a unit of an iSCSI target: the transport carries the request
    // there, and nothing else here but the sequence is set.
    std::optional<RemoteUnit> remote;
};

class DeviceModel; // one per configured target

class ScsiBus {
  public:
    explicit ScsiBus(Machine machine);
    ~ScsiBus();
    ScsiBus(const ScsiBus&) = delete;
    ScsiBus& operator=(const ScsiBus&) = delete;

    const Machine& machine() const {
        return machine_;
    }
    // Adapters that ASPI reports, in ASPI order (indexes into machine().adapters).
    const std::vector<size_t>& aspiAdapters() const {
        return aspiAdapters_;
    }

    // Runs one command against the device model and journals it; thread-safe.
    ScsiOutcome Execute(const ScsiRequest& request);

    // Journals a command that a driver in front of the bus kept for itself
    // (the device never saw it); returns its sequence number.
    uint32_t RecordOnly(const ScsiRequest& request);

    // The journal (thread-safe): every command received, oldest first.
    std::vector<JournalEntry> JournalEntries() const;
    void ClearJournal();
    // Journals a request the transport answered itself, such as an adapter query.
    void RecordAdapterQuery(const HostTag& host, uint32_t code);
    // Notes that the host gave up on a command `waitedMs` after sending it.
    void NoteAbort(uint32_t sequence, uint32_t waitedMs);
    // Receives each new journal line; set before the bus is shared.
    void SetJournalSink(std::function<void(const std::string&)> sink) {
        journal_.SetSink(std::move(sink));
    }

  private:
    JournalEntry EntryFor(const ScsiRequest& request) const;

    Machine machine_;
    std::vector<size_t> aspiAdapters_;
    std::vector<std::vector<std::unique_ptr<DeviceModel>>> devices_; // [adapter][k]
    Journal journal_;
    mutable CriticalSection mutex_;
};

} // namespace qvx::emu
