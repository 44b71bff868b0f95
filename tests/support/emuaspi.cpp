#include "support/emuaspi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "qvxemu.h"

namespace qvx::test {
namespace {

template <typename F> F Export(const char* name) {
    HMODULE library = GetModuleHandleA("wnaspi32.dll");
    FARPROC proc = library ? GetProcAddress(library, name) : nullptr;
    if (!proc)
        ADD_FAILURE() << "the emulated wnaspi32.dll with " << name << " is not loaded";
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

bool LoadEmulatedMachine(const std::string& path) {
    auto load = Export<QvxEmuLoadMachineFn>("QvxEmuLoadMachine");
    return load && load(path.c_str());
}

void ClearJournal() {
    if (auto clear = Export<QvxEmuClearJournalFn>("QvxEmuClearJournal"))
        clear();
}

std::vector<JournalRecord> ReadJournal() {
    std::vector<JournalRecord> records;
    auto read = Export<QvxEmuReadJournalFn>("QvxEmuReadJournal");
    if (!read)
        return records;
    std::vector<QvxJournalRecord> raw(read(nullptr, 0));
    DWORD count = read(raw.data(), static_cast<DWORD>(raw.size()));
    raw.resize(std::min<size_t>(count, raw.size())); // entries added meanwhile are left out
    for (const QvxJournalRecord& r : raw) {
        JournalRecord record{std::string(r.Line, strnlen(r.Line, sizeof r.Line)), std::nullopt};
        if (r.WaitedMs != QVX_NOT_ABORTED)
            record.waitedMs = r.WaitedMs;
        records.push_back(record);
    }
    return records;
}

std::string JournalText() {
    std::string text;
    for (const JournalRecord& r : ReadJournal())
        text += r.line + "\n";
    return text;
}

void HoldWorker(bool hold) {
    if (auto holdWorker = Export<QvxEmuHoldWorkerFn>("QvxEmuHoldWorker"))
        holdWorker(hold ? TRUE : FALSE);
}

bool KillBridge() {
    auto kill = Export<QvxEmuKillBridgeFn>("QvxEmuKillBridge");
    return kill && kill();
}

} // namespace qvx::test
