// The command journal of the virtual bus: every request it received, in
// order of arrival, as the transport in front of it named the request. Tests
// read it to see the exact commands a program sent; a run of the program can
// have it written to a file line by line.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvx::emu {

enum class DataDirection { None, In, Out };

// How the transport in front of the bus named a request. The bus never reads
// it; it only keeps it in the journal.
struct HostTag {
    uint32_t adapter = 0; // the adapter number the host used (NT: the port number)
    uint32_t flags = 0; // the transport's request flags (ASPI: SRB_Flags; NT: the I/O control code)
    // NT only: the device the request was sent through ("SCSI2:", "E:",
    // "Tape0"; empty for ASPI), the bus (PathId) and the time-out in seconds.
    std::string via;
    uint8_t path = 0;
    uint32_t timeoutSeconds = 0;
};

enum class JournalKind {
    Command,      // a SCSI command for a device
    AdapterQuery, // a request the transport answered itself (ASPI: host adapter inquiry)
};

struct JournalEntry {
    uint32_t sequence = 0; // 1, 2, ... for the life of the bus; clearing does not restart it
    JournalKind kind = JournalKind::Command;
    HostTag host;
    uint32_t queryCode = 0; // AdapterQuery: the transport's code for the request
    uint8_t target = 0;
    uint8_t lun = 0;
    uint8_t cdb[16] = {};
    uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    uint32_t dataLength = 0; // the host's transfer length (0 without data)
    // For a command the host gave up on: milliseconds from its arrival to the abort.
    std::optional<uint32_t> waitedMs;
};

// One line of text for an entry, without its wait:
//   "0:3:0 12 01 80 00 FF 00 in 255 flags 08"   adapter:target:lun, CDB, direction, length, flags
//   "adapter 1 query 00"                         an adapter query with its code
// and for a request through an NT device (`via` set):
//   "2:0:3:0 12 01 80 00 FF 00 in 255 timeout 2 ioctl 4D014 via E:"
//                                      port:bus:target:lun, CDB, direction, length, time-out,
//                                      I/O control code, device
//   "query 4100C via SCSI2:"           an I/O control the port answered itself
std::string JournalLine(const JournalEntry& entry);
// The line for the abort of a command: "0:3:0 aborted after 2003 ms".
std::string AbortLine(const JournalEntry& entry);

// Not thread-safe by itself: the bus serialises calls.
class Journal {
  public:
    // Entries kept at most; the oldest go first.
    static constexpr size_t kLimit = 65536;

    // Called with each new line (an arrival or an abort), for a file.
    void SetSink(std::function<void(const std::string&)> sink) {
        sink_ = std::move(sink);
    }
    // Numbers and keeps the entry; returns its sequence number.
    uint32_t Add(JournalEntry entry);
    // Notes the first abort of entry `sequence`, if it is still kept.
    void NoteAbort(uint32_t sequence, uint32_t waitedMs);
    std::vector<JournalEntry> Entries() const {
        return {entries_.begin(), entries_.end()};
    }
    void Clear() {
        entries_.clear();
    }

  private:
    std::deque<JournalEntry> entries_;
    uint32_t next_ = 1;
    std::function<void(const std::string&)> sink_;
};

} // namespace qvx::emu
