// The device tools' tests: the program's strings and an empty inventory,
// and the emulated wnaspi32.dll with a machine of tests/tools/machines on
// its bus, loaded once for the whole process as the program loads it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "inventory/inventory.h"
#include "shell/strings.h"
#include "support/emuaspi.h"

namespace qvx::test {

class ToolsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
        InitializeInventory();
        AppInstance = GetModuleHandleA(nullptr); // the test carries the program's resources
        static HMODULE library = LoadLibraryA("wnaspi32.dll");
        ASSERT_NE(library, nullptr);
        AspiLibrary = library;
        GetAspi32SupportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "GetASPI32SupportInfo")));
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "SendASPI32Command")));
        // The source tree as Wine sees it: drive Z: is the Unix root.
        ASSERT_TRUE(LoadEmulatedMachine(std::string("Z:") + QVX_TOOLS_MACHINES + "/features.ini"));
        UseAspi = 1;
    }

    void TearDown() override {
        ReleaseDeviceBitmaps();
    }

    // Fills a slot as a scan would: adapter 0, the target, its type text.
    static DeviceRecord& Fill(int slot, BYTE target, const char* typeText, LONG ansi = 2) {
        DeviceRecord& d = DeviceTable[slot];
        CopyText(d.AdapterIdentifier, sizeof d.AdapterIdentifier, "KESTRAIL");
        d.AdapterNumber = 0;
        d.TargetId = target;
        d.AnsiVersion = ansi;
        CopyText(d.TypeText, sizeof d.TypeText, typeText);
        return d;
    }
};

} // namespace qvx::test
