// The pipeline itself: the program's code loads the emulated ASPI library
// beside it under Wine and asks it for the adapter count of a machine.
#include <gtest/gtest.h>
#include "shell/aspiload.h"

#include <cstring>

TEST(Pipeline, LoadsEmulatedAspiLibraryAndCountsTheDefaultMachinesAdapters) {
    ASSERT_TRUE(SetEnvironmentVariableA("QVX_MACHINE", QVX_DEFAULT_MACHINE));
    ASSERT_TRUE(LoadAspiLibrary());
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(AspiLibrary, path, sizeof path), 0u);
    EXPECT_NE(strstr(path, "bin"), nullptr) << path; // ours, not Wine's builtin
    DWORD info = GetAspi32SupportInfo();
    EXPECT_EQ(HIBYTE(LOWORD(info)), SS_COMP);
    EXPECT_EQ(LOBYTE(LOWORD(info)), 2); // the two SCSI adapters; the IDE channel is not ASPI's
    UnloadAspiLibrary();
    SetEnvironmentVariableA("QVX_MACHINE", nullptr);
}
