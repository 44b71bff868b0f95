// The program's NT pass-through in-process over the NT port stand-in: a
// machine loaded into the stand-in, the program's strings, Windows NT
// without ASPI, and the tables filled by the program's own NT scan.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "inventory/inventory.h"
#include "inventory/ntscan.h"
#include "ntport/ntport.h"
#include "scsi/sense.h"
#include "shell/strings.h"

namespace qvx::test {

// The source tree as Wine sees it: drive Z: is the Unix root.
inline std::string NtMachine(const char* name) {
    return std::string("Z:") + QVX_NT_MACHINES + "/" + name;
}

class NtTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(PreloadStrings(GetModuleHandleA(nullptr)));
        AppInstance = GetModuleHandleA(nullptr);
        InitializeInventory();
        PlatformKind = PLATFORM_NT;
        UseAspi = 0;
        HighestTargetId = 15;
        ntport::SetWaiter([](uint32_t) {}); // modelled time and time-outs pass at once
    }
    void TearDown() override {
        ReleaseDeviceBitmaps();
        ntport::SetWaiter({});
        EXPECT_EQ(ntport::OpenHandleCount(), 0) << "a device left open";
    }
    // Loads a machine file (a name in tests/nt/machines, or a path).
    void Load(const std::string& machine) {
        std::string error;
        ASSERT_TRUE(ntport::LoadMachineFile(
            machine.find('/') == std::string::npos ? NtMachine(machine.c_str()) : "Z:" + machine,
            &error))
            << error;
    }
    // The tables emptied and the ports scanned as start-up does.
    int Enumerate(LONG highest = 15) {
        ReleaseDeviceBitmaps();
        InitializeInventory();
        PlatformKind = PLATFORM_NT;
        HighestTargetId = highest;
        return EnumerateScsiPorts();
    }
    // Loads the machine and scans it, the journal and records cleared after.
    void Scan(const char* machine) {
        Load(machine);
        Enumerate();
        ntport::ClearJournal();
        ClearErrorRecords();
    }
};

} // namespace qvx::test
