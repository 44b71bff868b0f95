// What the emulated drivers in front of the bus (the ASPI library, the NT
// port stand-in) share about files: where the machine file is, opening a bus
// for it, and the journal file a run of the program may ask for.
#pragma once

#include "scsibus/scsibus.h"

#include <memory>
#include <string>

namespace qvx::emu {

// The machine file: QVX_MACHINE when set (a Windows or Unix path), else
// qvxmachine.ini in the Windows directory, where the installer lays it.
std::string MachineFilePath();

// Appends each journal line of the bus to the file named by QVX_JOURNAL, if
// it is set and can be opened; the file is opened once, here.
void AttachJournalFile(ScsiBus& bus);

// A bus for the machine file, with the journal file attached unless
// `attachJournal` is false; null (with the reason in the debug output) when
// the file cannot be read.
std::unique_ptr<ScsiBus> OpenBus(const std::string& path, bool attachJournal = true);

} // namespace qvx::emu
