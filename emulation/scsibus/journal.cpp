#include "scsibus/journal.h"

#include <algorithm>
#include <cstdio>

namespace qvx::emu {
namespace {

const char* DirectionWord(DataDirection d) {
    switch (d) {
    case DataDirection::In:
        return "in";
    case DataDirection::Out:
        return "out";
    case DataDirection::None:
        break;
    }
    return "none";
}

std::string Address(const JournalEntry& e) {
    char text[48];
    if (!e.host.via.empty())
        snprintf(text, sizeof text, "%u:%u:%u:%u", static_cast<unsigned>(e.host.adapter),
                 static_cast<unsigned>(e.host.path), e.target, e.lun);
    else
        snprintf(text, sizeof text, "%u:%u:%u", static_cast<unsigned>(e.host.adapter), e.target,
                 e.lun);
    return text;
}

} // namespace

std::string JournalLine(const JournalEntry& e) {
    char text[64];
    if (e.kind == JournalKind::AdapterQuery) {
        if (!e.host.via.empty()) {
            snprintf(text, sizeof text, "query %02X via ", static_cast<unsigned>(e.queryCode));
            return text + e.host.via;
        }
        snprintf(text, sizeof text, "adapter %u query %02X", static_cast<unsigned>(e.host.adapter),
                 static_cast<unsigned>(e.queryCode));
        return text;
    }
    std::string line = Address(e);
    for (size_t i = 0; i < std::min<size_t>(e.cdbLength, sizeof e.cdb); ++i) {
        snprintf(text, sizeof text, " %02X", e.cdb[i]);
        line += text;
    }
    if (!e.host.via.empty()) {
        snprintf(text, sizeof text, " %s %u timeout %u ioctl %02X via ", DirectionWord(e.direction),
                 static_cast<unsigned>(e.dataLength), static_cast<unsigned>(e.host.timeoutSeconds),
                 static_cast<unsigned>(e.host.flags));
        return line + text + e.host.via;
    }
    snprintf(text, sizeof text, " %s %u flags %02X", DirectionWord(e.direction),
             static_cast<unsigned>(e.dataLength), static_cast<unsigned>(e.host.flags));
    return line + text;
}

std::string AbortLine(const JournalEntry& e) {
    return Address(e) + " aborted after " + std::to_string(e.waitedMs.value_or(0)) + " ms";
}

uint32_t Journal::Add(JournalEntry entry) {
    entry.sequence = next_++;
    if (entries_.size() == kLimit)
        entries_.pop_front();
    entries_.push_back(entry);
    if (sink_)
        sink_(JournalLine(entry));
    return entry.sequence;
}

void Journal::NoteAbort(uint32_t sequence, uint32_t waitedMs) {
    auto it = std::find_if(entries_.rbegin(), entries_.rend(),
                           [sequence](const JournalEntry& e) { return e.sequence == sequence; });
    if (it == entries_.rend() || it->waitedMs)
        return;
    it->waitedMs = waitedMs;
    if (sink_)
        sink_(AbortLine(*it));
}

} // namespace qvx::emu
