// The test-only exports of the emulated wnaspi32.dll (emulation/wnaspi32/
// qvxemu.h), reached in the copy this process has loaded: by the program's
// own start-up or by a test fixture. Typical use of the command journal:
//
//     qvx::test::ClearJournal();
//     RunTheDialog();
//     EXPECT_EQ(qvx::test::JournalText(), "0:0:0 00 00 00 00 00 00 none 0 flags 00\n");
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qvx::test {

// Replaces the machine on the bus (a Unix or Windows path); false when the
// library is not loaded or refuses the file.
bool LoadEmulatedMachine(const std::string& path);

struct JournalRecord {
    std::string line; // "0:3:0 12 01 80 00 FF 00 in 255 flags 08", "adapter 1 query 00"
    // For a command the program aborted: milliseconds from its arrival to the abort.
    std::optional<DWORD> waitedMs;
};

void ClearJournal();
std::vector<JournalRecord> ReadJournal();
// The journal's lines, each ended by '\n'.
std::string JournalText();

// While held, the library's worker thread completes no request.
void HoldWorker(bool hold);

// Kills the library's iSCSI bridge and waits until it is gone; false when
// none was running.
bool KillBridge();

} // namespace qvx::test
