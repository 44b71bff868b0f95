// The pipeline itself: the program's code loads the emulated ASPI library
// beside it under Wine and asks it for the adapter count.
#include <gtest/gtest.h>
#include "shell/aspiload.h"

TEST(Pipeline, LoadsEmulatedAspiLibrary) {
    ASSERT_TRUE(LoadAspiLibrary());
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(AspiLibrary, path, sizeof path), 0u);
    EXPECT_NE(strstr(path, "bin"), nullptr) << path; // ours, not Wine's builtin
    DWORD info = GetAspi32SupportInfo();
    EXPECT_EQ(HIBYTE(LOWORD(info)), SS_COMP);
    UnloadAspiLibrary();
}
