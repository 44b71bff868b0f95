// The NT SCSI port stand-in: the program's device-access functions
// (src/scsi/nt/ntdevice.h) answered over the virtual SCSI bus of an emulated
// machine, as Windows NT 4.0's SCSI port driver and its class drivers answer
// them. Wine has no SCSI port driver; a build of the program for emulated NT
// machines without ASPI links this instead of the KERNEL32 calls.
//
// The machine comes from QVX_MACHINE, else qvxmachine.ini in the Windows
// directory, read on first use; QVX_JOURNAL names a file for the journal.
// What follows is for tests and the e2e driver only: the program never
// calls it.
#pragma once

#include "scsibus/journal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvx::ntport {

// Replace the machine, and with it every device's state, the journal and
// any replaced inquiry answer. False (the old machine kept, the reason in
// `error`) for a bad machine. Handles open at the time stay open and keep
// their count; their requests go to the new machine.
bool LoadMachineFile(const std::string& path, std::string* error = nullptr);
bool LoadMachineText(const std::string& text, std::string* error = nullptr);

// Handles NtDeviceOpen gave out that NtDeviceClose has not taken back.
int OpenHandleCount();

// The journal: every pass-through the program sent (with its time-out) and
// every I/O control the stand-in answered itself, oldest first; lines as
// scsibus/journal.h describes. A request the program gave up on (time-out)
// has its wait in `waitedMs`.
std::vector<emu::JournalEntry> Journal();
std::vector<std::string> JournalLines();
void ClearJournal();

// The last I/O control the program sent, as it handed it over: the code,
// both buffer sizes and the first bytes of its input (up to 128), before the
// stand-in wrote any answer into the block.
struct ControlCall {
    uint32_t code = 0;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    std::vector<uint8_t> input;
};
ControlCall LastControl();

// IOCTL_SCSI_GET_INQUIRY_DATA on port `port` answers these bytes instead of
// the machine's units, until cleared or another machine is loaded. Cheap:
// meant to be called once per answer of a fuzz test.
void SetInquiryAnswer(int port, const void* bytes, size_t size);
void ClearInquiryAnswer(int port);

// How the stand-in waits out a command's modelled time, or a hung command's
// time-out, before DeviceIoControl returns. The default sleeps; a test can
// return at once, or block on an event it controls to hold the request.
// An empty function puts the default back.
using Waiter = std::function<void(uint32_t microseconds)>;
void SetWaiter(Waiter waiter);

} // namespace qvx::ntport
