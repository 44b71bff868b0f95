// The device tools' tests: the program's strings and an empty inventory,
// and the emulated wnaspi32.dll with a machine of tests/tools/machines on
// its bus, loaded once for the whole process as the program loads it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "inventory/inventory.h"
#include "shell/strings.h"

namespace qvx::test {

class ToolsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AppInstance = GetModuleHandleA(nullptr); // the test carries the program's resources
        ASSERT_EQ(PreloadStrings(AppInstance), 1);
        InitializeInventory();
        using LoadMachineFn = BOOL(__cdecl*)(const char*);
        static HMODULE library = LoadLibraryA("wnaspi32.dll");
        auto entry = [](const char* name) {
            return reinterpret_cast<void*>(GetProcAddress(library, name));
        };
        auto load = reinterpret_cast<LoadMachineFn>(entry("QvxEmuLoadMachine"));
        ASSERT_TRUE(library != nullptr && load != nullptr) << "wnaspi32.dll with QvxEmuLoadMachine";
        AspiLibrary = library;
        GetAspi32SupportInfo =
            reinterpret_cast<GetASPI32SupportInfoFn>(entry("GetASPI32SupportInfo"));
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(entry("SendASPI32Command"));
        // The source tree as Wine sees it: drive Z: is the Unix root.
        ASSERT_TRUE(load((std::string("Z:") + QVX_TOOLS_MACHINES + "/features.ini").c_str()));
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
