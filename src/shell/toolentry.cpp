// The tool dialogs (device properties, diagnostics, performance, adapter and
// system information) and the feature gathering are not
// part of this build yet: their entries return "nothing done" and show
// nothing. Each becomes a call of its dialog or routine when that lands.
#include "toolentry.h"
#include "listing/listing.h"

int OpenDevicePropertiesDialog(HWND, int) {
    return 0;
}

int OpenDiagnosticTestsDialog(HWND, int) {
    return 0;
}

int OpenPerformanceTestsDialog(HWND, int) {
    return 0;
}

int OpenAdapterInfoDialog(HWND, int) {
    return 0;
}

int OpenSystemInfoDialog(HWND) {
    return 0;
}

void RunCollectDeviceFeatures(void) {}

ToolEntryTable ToolEntries = {OpenDevicePropertiesDialog,
                              OpenDiagnosticTestsDialog,
                              OpenPerformanceTestsDialog,
                              OpenAdapterInfoDialog,
                              OpenSystemInfoDialog,
                              OpenListingFile,
                              SaveListingFile,
                              SaveListingFileAs,
                              CurrentListingTitle,
                              RunCollectDeviceFeatures};
