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
constexpr BYTE kHostId = 7;
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
        ASSERT_TRUE(LoadOnce()) << "wnaspi32.dll with QvxEmuLoadMachine";
        ASSERT_TRUE(loadMachine_(MachinePath("bus.ini").c_str()));
        UseAspi = 1;
        ClearErrorRecords();
    }

    static std::string MachinePath(const char* file) {
        // The source tree as Wine sees it: drive Z: is the Unix root.
        return std::string("Z:") + QVX_SCSI_MACHINES + "/" + file;
    }

  private:
    using LoadMachineFn = BOOL(__cdecl*)(const char*);

    // The library stays loaded for the whole process, as in the program.
    static bool LoadOnce() {
        if (loadMachine_ != nullptr)
            return true;
        AspiLibrary = LoadLibraryA("wnaspi32.dll");
        if (AspiLibrary == nullptr)
            return false;
        GetAspi32SupportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
            reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "GetASPI32SupportInfo")));
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
            reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "SendASPI32Command")));
        loadMachine_ = reinterpret_cast<LoadMachineFn>(
            reinterpret_cast<void*>(GetProcAddress(AspiLibrary, "QvxEmuLoadMachine")));
        return SendAspi32Command != nullptr && loadMachine_ != nullptr;
    }

    static inline LoadMachineFn loadMachine_ = nullptr;
};

} // namespace qvx::test
