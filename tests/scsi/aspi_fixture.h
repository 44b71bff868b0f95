// Loads the emulated ASPI library the way the program does and puts a test
// machine on its bus before each test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "inventory/inventory.h"
#include "scsi/sense.h"

namespace qvx::test {

// Adapter 0 of tests/scsi/machines/bus.ini and the targets on it.
constexpr BYTE kAdapter = 0;
constexpr BYTE kGoodDisk = 0;
constexpr BYTE kSlowDisk = 1; // completes from the library's worker thread
constexpr BYTE kNoSerialDisk = 2;
constexpr BYTE kDescriptorFFDisk = 3;
constexpr BYTE kNotReadyCdrom = 4;
constexpr BYTE kUnitAttentionDisk = 5;
constexpr BYTE kHardwareErrorDisk = 6;
constexpr BYTE kWriteProtected = 8;
constexpr BYTE kValidSenseCdrom = 9;
constexpr BYTE kHungAbortable = 10;
constexpr BYTE kHungUnabortable = 11;
constexpr BYTE kReadErrorDisk = 12;
constexpr BYTE kEmptyTarget = 13;
constexpr BYTE kUnderrunDisk = 14;
constexpr BYTE kSelectionTimeoutAdapter = 1;

class AspiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The library stays loaded for the whole process, as in the program.
        using LoadMachineFn = BOOL(__cdecl*)(const char*);
        static LoadMachineFn loadMachine = [] {
            AspiLibrary = LoadLibraryA("wnaspi32.dll");
            auto entry = [](const char* name) {
                return reinterpret_cast<void*>(GetProcAddress(AspiLibrary, name));
            };
            GetAspi32SupportInfo =
                reinterpret_cast<GetASPI32SupportInfoFn>(entry("GetASPI32SupportInfo"));
            SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(entry("SendASPI32Command"));
            return reinterpret_cast<LoadMachineFn>(entry("QvxEmuLoadMachine"));
        }();
        ASSERT_TRUE(loadMachine != nullptr && SendAspi32Command != nullptr)
            << "wnaspi32.dll with QvxEmuLoadMachine";
        // The source tree as Wine sees it: drive Z: is the Unix root.
        ASSERT_TRUE(loadMachine((std::string("Z:") + QVX_SCSI_MACHINES + "/bus.ini").c_str()));
        UseAspi = 1;
        ClearErrorRecords();
    }
};

} // namespace qvx::test
