// The tool dialogs (device properties, adapter and system information), the
// listing files and the feature gathering are not part of this build yet: their entries return "nothing done" and show
// nothing. Each becomes a call of its dialog or routine when that lands.
#include "toolentry.h"

int OpenDevicePropertiesDialog(HWND, int) {
    return 0;
}

int OpenAdapterInfoDialog(HWND, int) {
    return 0;
}

int OpenSystemInfoDialog(HWND) {
    return 0;
}

int RunOpenListing(HWND) {
    return 0;
}

int RunSaveListing(HWND) {
    return 0;
}

int RunSaveListingAs(HWND) {
    return 0;
}

const char* CurrentListingTitle(void) {
    return "";
}

void RunCollectDeviceFeatures(void) {}

ToolEntryTable ToolEntries = {OpenDevicePropertiesDialog,
                              OpenDiagnosticTestsDialog,
                              OpenPerformanceTestsDialog,
                              OpenAdapterInfoDialog,
                              OpenSystemInfoDialog,
                              RunOpenListing,
                              RunSaveListing,
                              RunSaveListingAs,
                              CurrentListingTitle,
                              RunCollectDeviceFeatures};
