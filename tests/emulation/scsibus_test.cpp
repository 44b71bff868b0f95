// The device models through ScsiBus::Execute: data bytes, statuses and sense
// data of every command, every configured misbehaviour, and the journal.
#include <gtest/gtest.h>

#include "machine/machine.h"
#include "scsibus/medium.h"
#include "scsibus/scsibus.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

using namespace qvx::emu;
using Bytes = std::vector<uint8_t>;

namespace {

const char kMachine[] = QVX_EMULATION_MACHINES "/bus.ini";

// A request: address "adapter:target[:lun]" (bus adapter indexes), the CDB
// in hex, and the host's buffer: "none", "in N" (N bytes of CCh) or "out N"
// (bytes 00, 01, ... FF, 00, ...).
struct Case {
    const char* address;
    const char* cdb;
    const char* buffer;
    // "SRB HA TARGET transferred", " hung" and " abort refused" for a command
    // that never completes, " sense CODE KEY/ASC/ASCQ" on a check condition,
    // then the data at each "@offset" as the expectation writes it: hex
    // bytes, or a quoted text.
    const char* expect;
};

const char kTur[] = "00 00 00 00 00 00", kInquiry[] = "12 00 00 00 60 00",
           kSerial[] = "12 01 80 00 FF 00", kCapacity[] = "25 00 00 00 00 00 00 00 00 00",
           kDescriptor[] = "3C 03 00 00 00 00 00 00 08 00", kStartUnit[] = "1B 00 00 00 01 00",
           kSense[] = "03 00 00 00 12 00", kIllegal[] = "04 00 02 0 sense 70 05/24/00",
           kNoOpcode[] = "04 00 02 0 sense 70 05/20/00", kGood[] = "01 00 00 0";

// In order: devices keep their state (buffer memory, readiness) from row to row.
const Case kCases[] = {
    // Standard INQUIRY: type, removable, version, format, additional length, sync and wide.
    {"0:0", kInquiry, "in 96",
     "01 00 00 96 @0 00 00 02 02 5B 00 00 30 @8 \"QUANTUM ATLAS II 4.5WLS 0A0A\""},
    {"0:1", "12 00 00 00 24 00", "in 36",
     "01 00 00 36 @0 21 80 01 @7 40 @8 \"HP      C1533A          9   \""},
    {"0:0", "12 00 00 00 05 00", "in 96", "01 00 00 5 @4 5B CC"}, // cut, no underrun status
    {"0:0", "12 00 00 00 00 00", "in 96", "01 00 00 0"},
    {"0:0", "12 02 00 00 60 00", "in 96", kIllegal}, // CmdDt
    // Vital product data.
    {"0:0", "12 01 00 00 FF 00", "in 255", "01 00 00 6 @0 00 00 00 02 00 80"},
    {"0:3", "12 01 00 00 FF 00", "in 255", "01 00 00 5 @3 01 00 CC"},
    {"0:0", "12 01 83 00 FF 00", "in 255", kIllegal},
    {"0:0", "12 00 80 00 FF 00", "in 255", kIllegal}, // a page without EVPD
    // Underrun where configured; an overrun when the host's buffer is short.
    {"0:4", kSerial, "in 255", "01 12 00 8 @4 \"AB12\""},
    {"0:4", kInquiry, "in 96", "01 00 00 96"},
    {"0:0", kInquiry, "in 36", "04 12 00 36 @8 \"QUANTUM\""},
    // READ CAPACITY, TEST UNIT READY and missing media.
    {"0:1", kCapacity, "in 8", kNoOpcode},            // tapes have no capacity
    {"0:1", "1A 08 08 00 FF 00", "in 255", kIllegal}, // nor the pages of a disk
    {"0:1", "1A 08 04 00 FF 00", "in 255", kIllegal},
    {"0:1", "1A 08 3F 00 FF 00", "in 255", "01 00 00 4 @0 03"},
    {"0:5", kCapacity, "in 8", "04 00 02 0 sense 70 02/3A/00"},
    {"0:5", kTur, "none", "04 00 02 0 sense 70 02/3A/00"},
    {"0:8", "0B 00 00 00 00 00", "none", "04 00 02 0 sense 70 02/3A/00"}, // disk without blocks
    {"0:8", kTur, "none", kGood},
    {"0:1", kTur, "none", kGood},
    {"0:0", "25 00 00 00 00 01 00 00 00 00", "in 8", kIllegal},           // an address without PMI
    {"0:20", kCapacity, "in 8", "01 00 00 8 @0 00 00 00 09 00 00 00 00"}, // length reported as 0
    // MODE SENSE: with DBD a 4-byte header, then the page; RCD set, WCE clear.
    {"0:0", "1A 00 08 00 FF 00", "in 255", "01 00 00 24 @3 08 00 87 A2 38 00 00 02 00 08 @14 01"},
    {"0:0", "1A 08 08 00 0A 00", "in 255", "01 00 00 10 @0 0F @10 CC"},
    {"0:0", "1A 08 48 00 FF 00", "in 255", "01 00 00 16 @6 05 00 00 00"},   // changeable values
    {"0:0", "1A 08 C8 00 FF 00", "in 255", "04 00 02 0 sense 70 05/39/00"}, // saved values
    {"0:0", "1A 08 3F 00 FF 00", "in 255", "01 00 00 40 @4 04 @28 08"},     // all pages
    {"0:0", "1A 08 01 00 FF 00", "in 255", kIllegal},
    // Buffer memory: written and read back at offsets and in both modes.
    {"0:0", "3B 02 00 00 00 00 00 02 00 00", "out 512", "01 00 00 512"},
    {"0:0", "3B 02 00 00 03 E8 00 00 18 00", "out 24", "01 00 00 24"},
    {"0:0", "3C 02 00 00 03 F8 00 00 08 00", "in 8", "01 00 00 8 @0 10 11 12 13 14 15 16 17"},
    {"0:0", "3C 00 00 00 00 00 00 00 06 00", "in 6", "01 00 00 6 @0 00 00 04 00 00 01"},
    {"0:0", "3B 00 00 00 00 00 00 00 06 00", "out 6", "01 00 00 6"}, // a header, then data
    {"0:0", "3C 02 00 00 00 00 00 00 02 00", "in 2", "01 00 00 2 @0 04 05"},
    {"0:0", "3C 02 00 00 03 E8 00 00 19 00", "in 25", kIllegal}, // beyond the memory
    {"0:0", "3B 05 00 00 00 00 00 00 08 00", "out 8", kIllegal},
    {"0:0", "3C 02 01 00 00 00 00 00 08 00", "in 8", kIllegal}, // buffer id 1
    {"0:2", kDescriptor, "in 8", kNoOpcode},                    // no buffer memory
    {"0:11", "3B 02 00 00 00 00 00 02 00 00", "out 512", "01 00 00 512"},
    {"0:11", "3C 02 00 00 00 65 00 00 10 00", "in 16", "01 00 00 16 @0 65 66"},
    // SEEK and READ(10) of the generated medium: each block starts with its address.
    {"0:12", "0B 00 00 64 00 00", "none", "04 00 02 0 sense 70 05/21/00"},
    {"0:12", "0B 00 00 63 00 00", "none", kGood},
    {"0:0", "28 00 00 87 A2 30 00 00 02 00", "in 1024",
     "01 00 00 1024 @0 00 87 A2 30 @512 00 87 A2 31"},
    {"0:0", "28 00 00 87 A2 37 00 00 02 00", "in 1024", "04 00 02 0 sense 70 05/21/00"},
    {"0:0", "28 00 00 87 A2 37 00 00 01 00", "in 512", "01 00 00 512"}, // the last block
    {"0:0", "28 01 00 00 00 00 00 00 01 00", "in 512", kIllegal},       // relative addressing
    {"0:12", "28 00 00 00 00 30 00 00 04 00", "in 8192",
     "04 00 02 4096 sense 70 03/11/00 @2048 00 00 00 31 @4096 CC"},
    {"0:12", "28 00 00 00 00 3B 00 00 01 00", "in 2048", "04 00 02 0 sense 70 03/11/00"},
    {"0:12", "28 00 00 00 00 3C 00 00 28 00", "in 81920", "01 00 00 81920"},
    // Other commands; REQUEST SENSE tells the unit's state.
    {"0:0", kStartUnit, "none", kNoOpcode},
    {"0:14", kSense, "in 18", "01 00 00 18 @0 70 00 02 @12 3A"},
    {"0:0", kSense, "in 18", "01 00 00 18 @2 00"},
    {"0:0", "03 00 00 00 00 00", "in 18", "01 00 00 4"}, // allocation 0 asks for 4 bytes
    // Not ready until the third TEST UNIT READY; the medium commands don't count.
    {"0:15", kTur, "none", "04 00 02 0 sense 70 02/04/01"},
    {"0:15", kCapacity, "in 8", "04 00 02 0 sense 70 02/04/01"},
    {"0:15", "28 00 00 00 00 00 00 00 01 00", "in 512", "04 00 02 0 sense 70 02/04/01"},
    {"0:15", kInquiry, "in 96", "01 00 00 96"},
    {"0:15", "3C 03 00 00 00 00 00 00 04 00", "in 4", "01 00 00 4"},
    {"0:15", kTur, "none", "04 00 02 0 sense 70 02/04/01"},
    {"0:15", kTur, "none", kGood},
    {"0:15", "28 00 00 00 00 00 00 00 01 00", "in 512", "01 00 00 512"},
    {"0:14", kTur, "none", "04 00 02 0 sense 70 02/3A/00"}, // never ready
    {"0:14", kTur, "none", "04 00 02 0 sense 70 02/3A/00"},
    // A unit attention spares INQUIRY and ends the next other command.
    {"0:16", kInquiry, "in 96", "01 00 00 96"},
    {"0:16", "12 01 00 00 FF 00", "in 255", "01 00 00 6"},
    {"0:16", kTur, "none", "04 00 02 0 sense 70 06/29/00"},
    {"0:16", kTur, "none", kGood},
    // ... or on chosen TEST UNIT READY commands.
    {"0:21", kInquiry, "in 96", "01 00 00 96"},
    {"0:21", kTur, "none", kGood},
    {"0:21", kTur, "none", "04 00 02 0 sense 70 06/28/00"},
    {"0:21", kTur, "none", "04 00 02 0 sense 70 06/28/00"},
    {"0:21", kTur, "none", kGood},
    // A hardware error or data protect spares only INQUIRY and REQUEST SENSE.
    {"0:17", kInquiry, "in 96", "01 00 00 96"},
    {"0:17", kSerial, "in 255", "01 00 00 4"},
    {"0:17", "28 00 00 00 00 00 00 00 01 00", "in 512", "04 00 02 0 sense 70 04/40/80"},
    {"0:17", kSense, "in 18", "01 00 00 18 @2 04 @12 40 80"},
    {"0:18", kSense, "in 18", "01 00 00 18 @2 07 @12 27"},
    // Hung commands never complete; REQUEST SENSE reports the unit attention as data.
    {"0:19", kInquiry, "in 96", "00 00 00 0 hung @0 CC"},
    {"0:19", kSense, "in 18", "01 00 00 18 @0 70 00 06 @12 29 00"},
    {"0:19", kSense, "in 18", "01 00 00 18 @2 00 @12 00"},
    {"0:19", kTur, "none", kGood},
    // BUSY and RESERVATION CONFLICT take no command and leave a unit attention pending.
    {"0:22", kTur, "none", "04 00 08 0"},
    {"0:22", "28 00 00 00 00 00 00 00 01 00", "in 512", "04 00 08 0"},
    {"0:22", kCapacity, "in 8", "04 00 02 0 sense 70 06/29/00"},
    {"0:22", kCapacity, "in 8", "01 00 00 8 @3 08"},
    {"0:23", kTur, "none", "04 00 18 0"},
    {"0:23", kInquiry, "in 96", "01 00 00 96"},
    {"0:23", kSense, "in 18", "01 00 00 18 @2 06 @12 28"},
    {"0:23", kCapacity, "in 8", "04 00 18 0"},
    // INQUIRY data of 36 bytes; a short transfer succeeds unless the adapter reports underruns.
    {"0:24", kInquiry, "in 96", "01 00 00 36 @4 1F @35 20 CC"},
    {"2:1", kInquiry, "in 96", "01 12 00 36 @4 1F"},
    {"2:1", "12 00 00 00 24 00", "in 36", "01 00 00 36"},
    // Serial numbers in a fixed field.
    {"0:25", kSerial, "in 255", "01 00 00 12 @3 08 \"AB12    \""},
    {"0:26", kSerial, "in 255", "01 00 00 12 @3 08 \"    AB12\""},
    // Absent targets, units and adapters.
    {"2:3", kTur, "none", "04 11 00 0"}, // selection time-out
    {"2:7", kTur, "none", "82 00 00 0"}, // the adapter's own id
    {"1:0", kTur, "none", kGood},        // hidden from ASPI only
    {"3:0", kTur, "none", "81 00 00 0"},
    {"2:1:3", kInquiry, "in 96", "01 00 00 96 @0 06"},
    {"2:1:1", kInquiry, "in 96", "82 00 00 0"}, // the adapter's choice
    // A target answers for its units that are not there.
    {"0:2:1", kInquiry, "in 96", "01 00 00 96 @0 7F 00 02 02 5B"},
    {"0:2:1", kSerial, "in 255", "04 00 02 0 sense 70 05/25/00"},
    {"0:2:1", kTur, "none", "04 00 02 0 sense 70 05/25/00"},
    {"0:2:1", kSense, "in 18", "01 00 00 18 @2 05 @12 25 00"},
};

Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::istringstream in(text);
    for (unsigned b; in >> std::hex >> b;)
        bytes.push_back(static_cast<uint8_t>(b));
    return bytes;
}

ScsiRequest Request(const Case& c, Bytes& data) {
    ScsiRequest r;
    unsigned adapter = 0, target = 0, lun = 0, length = 0;
    sscanf(c.address, "%u:%u:%u", &adapter, &target, &lun);
    r.adapter = static_cast<uint8_t>(adapter);
    r.target = static_cast<uint8_t>(target);
    r.lun = static_cast<uint8_t>(lun);
    Bytes cdb = Hex(c.cdb);
    r.cdbLength = static_cast<uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), r.cdb);
    char word[8] = "";
    sscanf(c.buffer, "%7s %u", word, &length);
    data.assign(length, 0xCC);
    r.direction = word[0] == 'i'   ? DataDirection::In
                  : word[0] == 'o' ? DataDirection::Out
                                   : DataDirection::None;
    for (size_t i = 0; r.direction == DataDirection::Out && i < length; ++i)
        data[i] = static_cast<uint8_t>(i);
    r.data = data.empty() ? nullptr : data.data();
    r.dataLength = length;
    return r;
}

// The outcome written as `expect` writes it, with the data it asks for.
std::string Describe(const ScsiOutcome& o, const Bytes& data, const std::string& expect) {
    char text[64];
    snprintf(text, sizeof text, "%02X %02X %02X %u", o.srbStatus, o.haStatus, o.targetStatus,
             static_cast<unsigned>(o.transferred));
    std::string s = text;
    if (o.neverCompletes)
        s += o.abortAccepted ? " hung" : " hung abort refused";
    if (o.targetStatus == 0x02) {
        snprintf(text, sizeof text, " sense %02X %02X/%02X/%02X", o.sense[0], o.sense[2],
                 o.sense[12], o.sense[13]);
        s += text;
        EXPECT_EQ(o.sense[7], 10) << "additional sense length";
    }
    for (size_t at = expect.find(" @"); at != std::string::npos; at = expect.find(" @", at + 1)) {
        size_t offset = std::stoul(expect.substr(at + 2));
        size_t end = expect.find(" @", at + 1);
        std::string wanted = expect.substr(at, end == std::string::npos ? end : end - at);
        s += " @" + std::to_string(offset);
        // Each hex byte or quoted text of the expectation, read from the data.
        std::istringstream in(wanted.substr(wanted.find(' ', 1)));
        for (std::string word; in >> word;) {
            if (word[0] == '"') {
                size_t n = std::min(wanted.size() - wanted.find('"') - 2,
                                    offset < data.size() ? data.size() - offset : 0);
                s += " \"" + std::string(data.begin() + offset, data.begin() + offset + n) + "\"";
                offset += n;
                break;
            }
            snprintf(text, sizeof text, " %02X", offset < data.size() ? data[offset] : 0x100);
            s += text;
            ++offset;
        }
    }
    return s;
}

TEST(Bus, EveryCommandOnEveryKindOfDevice) {
    ScsiBus bus(LoadMachine(kMachine));
    EXPECT_EQ(bus.aspiAdapters(), (std::vector<size_t>{0, 2}));
    for (const Case& c : kCases) {
        Bytes data;
        ScsiOutcome o = bus.Execute(Request(c, data));
        EXPECT_EQ(Describe(o, data, c.expect), c.expect) << c.address << " " << c.cdb;
    }
    // Blocks differ beyond the address they start with.
    EXPECT_NE(MediumByte(5, 100), MediumByte(6, 100));
}

// Lines and waits through the ASPI library are the program tests' concern;
// here what no single request shows.
TEST(Bus, JournalKeepsTheFirstAbortAndTheNewestEntries) {
    ScsiBus bus(LoadMachine(kMachine));
    Bytes data;
    ScsiOutcome hung = bus.Execute(Request({"0:19", kInquiry, "in 96", ""}, data));
    bus.NoteAbort(hung.sequence, 2001);
    bus.NoteAbort(hung.sequence, 4000);
    EXPECT_EQ(bus.JournalEntries().at(0).waitedMs, 2001u);
    for (size_t i = 0; i < Journal::kLimit + 1; ++i)
        bus.RecordAdapterQuery({0, 0}, 0x00);
    std::vector<JournalEntry> entries = bus.JournalEntries();
    EXPECT_EQ(entries.size(), Journal::kLimit);
    EXPECT_EQ(entries.front().sequence, hung.sequence + 2) << "the oldest go first";
    bus.ClearJournal();
    EXPECT_TRUE(bus.JournalEntries().empty());
}

} // namespace
