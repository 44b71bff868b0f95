// How close the program's own transport comes to the Wine primitives it is
// built on. One-block READ(10) commands go through the program's facade
// (ScsiRead10 and AspiRead10, the event-notified path of the performance
// tests) to the emulated wnaspi32.dll and a disk that takes no modelled
// time; in the same run, in rounds taken in turn with them, the floor does
// only what that path needs of Wine for each command: create an event, set
// it, wait for it, close it. The figure is the ratio of the two rates, the
// median of the rounds, so that a busy machine slows both alike.
//
//     transport_benchmark.exe MACHINE.ini [ROUNDS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchtable.h"
#include "inventory/inventory.h"
#include "scsi/aspi/aspitransport.h"
#include "scsi/facade/scsifacade.h"

namespace {

using qvx::bench::Seconds;

// The Wine primitives the event-notified path needs for one command.
bool EventFloor() {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    SetEvent(event);
    DWORD wait = WaitForSingleObject(event, TIMEOUT_EVENT_WAIT);
    CloseHandle(event);
    return wait == WAIT_OBJECT_0;
}

BYTE Buffer[65536];

bool ProgramRead(DWORD address) {
    return ScsiRead10(0, 0, address, 512, 1, Buffer) != 0;
}

// Seconds each of `count` calls takes.
template <typename F> double TimePerCall(int count, F call) {
    double start = Seconds();
    for (int i = 0; i < count; ++i)
        if (!call(static_cast<DWORD>(i))) {
            std::fprintf(stderr, "a call failed\n");
            std::exit(1);
        }
    return (Seconds() - start) / count;
}

struct Comparison {
    double ratio;     // program rate / floor rate
    double programUs; // per command
    double floorUs;
};

// Rounds of `count` calls each, the floor and the program in turn.
template <typename Floor, typename Program>
Comparison Compare(int rounds, int count, Floor floor, Program program) {
    std::vector<double> ratios, programs, floors;
    for (int r = 0; r < rounds; ++r) {
        // Each goes first in every other round, so neither always follows
        // the other's effects on caches and the scheduler.
        double f, p;
        if (r % 2) {
            p = TimePerCall(count, program);
            f = TimePerCall(count, floor);
        } else {
            f = TimePerCall(count, floor);
            p = TimePerCall(count, program);
        }
        ratios.push_back(f / p);
        programs.push_back(p * 1e6);
        floors.push_back(f * 1e6);
    }
    return {qvx::bench::Median(ratios), qvx::bench::Median(programs), qvx::bench::Median(floors)};
}

// Calls per round so that a round of the floor takes about `seconds`.
template <typename F> int Calibrate(F call, double seconds) {
    double each = TimePerCall(200, call);
    int count = static_cast<int>(seconds / each);
    return count < 200 ? 200 : count;
}

bool LoadAspi(const char* machine) {
    SetEnvironmentVariableA("QVX_MACHINE", machine);
    AspiLibrary = LoadLibraryA("wnaspi32.dll");
    SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
        reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "SendASPI32Command")));
    return SendAspi32Command != nullptr;
}

void Report(const char* id, const char* label, const Comparison& c, const char* floorName) {
    char detail[256];
    std::snprintf(detail, sizeof detail, "program %.1f us/command, floor (%s) %.1f us", c.programUs,
                  floorName, c.floorUs);
    qvx::bench::PrintFigure(id, label, c.ratio, "x floor", qvx::bench::Aim::AtLeast, 0.9, detail);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: transport_benchmark MACHINE.ini [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 41;
    if (!LoadAspi(argv[1])) {
        std::fprintf(stderr, "no emulated wnaspi32.dll\n");
        return 2;
    }
    UseAspi = 1;
    if (!ProgramRead(0)) {
        std::fprintf(stderr, "READ(10) of the benchmark disk failed\n");
        return 1;
    }
    int count = Calibrate([](DWORD) { return EventFloor(); }, 0.05);
    Comparison aspi = Compare(
        rounds, count, [](DWORD) { return EventFloor(); }, ProgramRead);
    Report("aspi_transport", "ASPI READ(10) rate / event floor", aspi,
           "CreateEvent+SetEvent+Wait+CloseHandle");
    return 0;
}
