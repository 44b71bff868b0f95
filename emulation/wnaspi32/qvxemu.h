// The test-only exports of the emulated wnaspi32.dll, all __cdecl. A program
// never calls them; tests find them with GetProcAddress.
#pragma once

#include <windows.h>

// QvxEmuLoadMachine(path): replaces the machine, and with it every device's
// state and the journal, from a machine file (Windows or Unix path). FALSE,
// and the old machine kept, when the file is bad.
typedef BOOL(__cdecl* QvxEmuLoadMachineFn)(const char* path);

// One journal entry: the line of the command journal (see
// docs/emulated-machine.md) and, for a command the program gave up on, the
// milliseconds from its arrival to the abort.
#define QVX_JOURNAL_LINE_SIZE 120
#define QVX_NOT_ABORTED 0xFFFFFFFFu
typedef struct {
    char Line[QVX_JOURNAL_LINE_SIZE];
    DWORD WaitedMs; // QVX_NOT_ABORTED when it was not aborted
} QvxJournalRecord;

// QvxEmuReadJournal(records, capacity): copies the oldest `capacity` entries
// and returns how many there are. QvxEmuClearJournal() empties it.
typedef DWORD(__cdecl* QvxEmuReadJournalFn)(QvxJournalRecord* records, DWORD capacity);
typedef void(__cdecl* QvxEmuClearJournalFn)(void);

// QvxEmuHoldWorker(hold): while held, the worker thread completes no request
// (a stop still ends it); requests that take modelled time stay pending.
typedef void(__cdecl* QvxEmuHoldWorkerFn)(BOOL hold);

// QvxEmuKillBridge(): kills the iSCSI bridge process and waits until it is
// gone; the request that next goes to an iSCSI unit meets the loss (it fails
// as the bus going free), and the one after starts a new bridge. FALSE when
// no bridge was running.
typedef BOOL(__cdecl* QvxEmuKillBridgeFn)(void);
