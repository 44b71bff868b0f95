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
    // Loads the machine and scans it as start-up does.
    void Scan(const char* machine) {
        std::string error;
        ASSERT_TRUE(ntport::LoadMachineFile(NtMachine(machine), &error)) << error;
        InitializeInventory();
        PlatformKind = PLATFORM_NT;
        HighestTargetId = 15;
        scanResult_ = EnumerateScsiPorts();
        ntport::ClearJournal();
        ClearErrorRecords();
    }
    int scanResult_ = 0;
};

} // namespace qvx::test
