// Loads the emulated ASPI library the way the program does and puts the test
// machine tests/scsi/machines/bus.ini on its bus before each test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "inventory/inventory.h"
#include "scsi/sense.h"
#include "support/emuaspi.h"

namespace qvx::test {

// Adapter 0 of bus.ini and the targets on it (see the machine file).
constexpr BYTE kAdapter = 0, kGoodDisk = 0, kCacheOffDisk = 1, kNoSerialDisk = 2,
               kDescriptorFFDisk = 3, kNotReadyCdrom = 4, kUnitAttentionDisk = 5,
               kHardwareErrorDisk = 6, kWriteProtected = 8, kValidSenseCdrom = 9, kHung = 10,
               kHungUnabortable = 11, kReadErrorDisk = 12, kEmptyTarget = 13, kUnderrunDisk = 14,
               kSlowDisk = 15, kBusyDisk = 16, kReservedDisk = 17, kLeftSerialDisk = 18,
               kRightSerialDisk = 19, kDefaultTape = 20, kNoLunZero = 21, kShortInquiryDisk = 22;

class AspiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The library stays loaded for the whole process, as in the program.
        static const HMODULE library = LoadLibraryA("wnaspi32.dll");
        AspiLibrary = library;
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "SendASPI32Command")));
        ASSERT_TRUE(SendAspi32Command != nullptr);
        // The source tree as Wine sees it: drive Z: is the Unix root.
        ASSERT_TRUE(LoadEmulatedMachine(std::string("Z:") + QVX_SCSI_MACHINES + "/bus.ini"));
        UseAspi = 1;
        ClearErrorRecords();
    }
};

} // namespace qvx::test
