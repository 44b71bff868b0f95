// The table's initial entries: each calls its dialog or routine (the test
// dialogs' entries are defined with their dialogs). Entries whose tool is
// not part of this build yet return "nothing done" and show nothing.
#include "toolentry.h"
#include "inventory/inventory.h"
#include "listing/listing.h"
#include "resource.h"
#include "tools/adapterinfo.h"
#include "tools/features.h"
#include "tools/properties.h"
#include "tools/systeminfo.h"

int OpenDevicePropertiesDialog(HWND owner, int slot) {
    SelectedDevice = slot;
    PropertiesStartPage = 0;
    return (int)ShowDeviceProperties(owner);
}

int OpenAdapterInfoDialog(HWND owner, int adapterIndex) {
    if (adapterIndex < 0 || adapterIndex >= MAX_ADAPTERS)
        return 0;
    return (int)DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ADAPTER_INFO), owner,
                                AdapterInfoDialog, (LPARAM)adapterIndex);
}

int OpenSystemInfoDialog(HWND owner) {
    return (int)DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_SYSTEM_INFO), owner,
                                SystemInfoDialog, 0);
}

void RunCollectDeviceFeatures(void) {
    CollectDeviceFeatures();
}

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
