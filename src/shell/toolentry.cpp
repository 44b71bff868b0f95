// The table's initial entries: each calls its dialog or routine. Entries
// whose tool is not part of this build yet return "nothing done" and show
// nothing; each becomes a call of its dialog or routine when that lands.
#include "toolentry.h"
#include "inventory/inventory.h"
#include "tools/features.h"
#include "tools/properties.h"

int OpenDevicePropertiesDialog(HWND owner, int slot) {
    SelectedDevice = slot;
    PropertiesStartPage = 0;
    return (int)ShowDeviceProperties(owner);
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

void RunCollectDeviceFeatures(void) {
    CollectDeviceFeatures();
}

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
