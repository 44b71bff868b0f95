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

// Adapter 0 of bus.ini and the targets on it.
constexpr BYTE kAdapter = 0;
constexpr BYTE kGoodDisk = 0;
constexpr BYTE kCacheOffDisk = 1; // read cache disabled; serial after a blank
constexpr BYTE kNoSerialDisk = 2;
constexpr BYTE kDescriptorFFDisk = 3;
constexpr BYTE kNotReadyCdrom = 4;
constexpr BYTE kUnitAttentionDisk = 5;
constexpr BYTE kHardwareErrorDisk = 6;
constexpr BYTE kWriteProtected = 8;
constexpr BYTE kValidSenseCdrom = 9;
constexpr BYTE kHung = 10; // every command hangs; its abort is accepted
constexpr BYTE kHungUnabortable = 11;
constexpr BYTE kReadErrorDisk = 12;
constexpr BYTE kEmptyTarget = 13;
constexpr BYTE kUnderrunDisk = 14;
constexpr BYTE kSlowDisk = 15; // completes from the library's worker thread
constexpr BYTE kBusyDisk = 16; // BUSY to TEST UNIT READY and READ(10)
constexpr BYTE kReservedDisk = 17;
constexpr BYTE kLeftSerialDisk = 18; // serial left-justified in 10 characters
constexpr BYTE kRightSerialDisk = 19;
constexpr BYTE kDefaultTape = 20;
constexpr BYTE kNoLunZero = 21;        // only logical unit 1 is there
constexpr BYTE kShortInquiryDisk = 22; // 36 bytes of INQUIRY data

class AspiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The library stays loaded for the whole process, as in the program.
        static const HMODULE library = LoadLibraryA("wnaspi32.dll");
        AspiLibrary = library;
        GetAspi32SupportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "GetASPI32SupportInfo")));
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
