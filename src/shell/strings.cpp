// The texts kept in memory for the whole run, loaded once at start-up.
#include "shell/strings.h"
#include "resource.h"

char MessageCaption[SHORT_TEXT_SIZE];
char TextNoDevice[SHORT_TEXT_SIZE];
char TextHostAdapter[SHORT_TEXT_SIZE];
char TextRescanQuery[SHORT_TEXT_SIZE];
char TextNone[SHORT_TEXT_SIZE];
char TextOpenTitle[SHORT_TEXT_SIZE];
char TextSaveAsTitle[SHORT_TEXT_SIZE];
char TextHardDisk[SHORT_TEXT_SIZE];
char TextCdRom[SHORT_TEXT_SIZE];
char TextTape[SHORT_TEXT_SIZE];
char TextRemovable[SHORT_TEXT_SIZE];
char TextTypeHostAdapter[SHORT_TEXT_SIZE];
char TextWorm[SHORT_TEXT_SIZE];
char TextScanner[SHORT_TEXT_SIZE];
char TextPrinter[SHORT_TEXT_SIZE];
char TextOptical[SHORT_TEXT_SIZE];
char TextTypeNoDevice[SHORT_TEXT_SIZE];
char TextUnknown[SHORT_TEXT_SIZE];
char TextPropertiesCaption[SHORT_TEXT_SIZE];
char TextControllerHint[LONG_TEXT_SIZE];
char TextOk[SHORT_TEXT_SIZE];
char TextNoDeviceHint[LONG_TEXT_SIZE];
char TextBeginTests[SHORT_TEXT_SIZE];
char TextWarning1[LONG_TEXT_SIZE];
char TextWarning2[LONG_TEXT_SIZE];
char TextWarning3[LONG_TEXT_SIZE];
char TextWarning4[LONG_TEXT_SIZE];
char TextWarning5[LONG_TEXT_SIZE];
char TextWarning6[LONG_TEXT_SIZE];
char TextDiagnosticTests[SHORT_TEXT_SIZE];
char TextDiagInProgress[SHORT_TEXT_SIZE];
char TextTesting[SHORT_TEXT_SIZE];
char TextPassed[SHORT_TEXT_SIZE];
char TextFailed[SHORT_TEXT_SIZE];
char TextLastSenseData[SHORT_TEXT_SIZE];
char TextSenseKey[SHORT_TEXT_SIZE];
char TextSenseCode[SHORT_TEXT_SIZE];
char TextSenseQualifier[SHORT_TEXT_SIZE];
char TextContinueQuery[SHORT_TEXT_SIZE];
char TextDiagComplete[SHORT_TEXT_SIZE];
char TextDiagSuccess[SHORT_TEXT_SIZE];
char TextNotTested[SHORT_TEXT_SIZE];
char TextNotAvailable[SHORT_TEXT_SIZE];
char TextEnabled[SHORT_TEXT_SIZE];
char TextDisabled[SHORT_TEXT_SIZE];

struct PreloadEntry {
    UINT Id;
    char* Buffer;
    int Size;
};

// The load order: a failure part way leaves the later texts empty.
static const PreloadEntry PreloadTable[PRELOADED_STRING_COUNT] = {
    {IDS_APP_STATUS_CAPTION, MessageCaption, SHORT_TEXT_SIZE},
    {IDS_NO_DEVICE, TextNoDevice, SHORT_TEXT_SIZE},
    {IDS_HOST_ADAPTER, TextHostAdapter, SHORT_TEXT_SIZE},
    {IDS_MSG_RESCAN_QUERY, TextRescanQuery, SHORT_TEXT_SIZE},
    {IDS_NONE, TextNone, SHORT_TEXT_SIZE},
    {IDS_OPEN_TITLE, TextOpenTitle, SHORT_TEXT_SIZE},
    {IDS_TYPE_HARD_DISK, TextHardDisk, SHORT_TEXT_SIZE},
    {IDS_TYPE_CDROM, TextCdRom, SHORT_TEXT_SIZE},
    {IDS_TYPE_TAPE, TextTape, SHORT_TEXT_SIZE},
    {IDS_TYPE_REMOVABLE, TextRemovable, SHORT_TEXT_SIZE},
    {IDS_TYPE_HOST_ADAPTER, TextTypeHostAdapter, SHORT_TEXT_SIZE},
    {IDS_TYPE_WORM, TextWorm, SHORT_TEXT_SIZE},
    {IDS_TYPE_SCANNER, TextScanner, SHORT_TEXT_SIZE},
    {IDS_TYPE_PRINTER, TextPrinter, SHORT_TEXT_SIZE},
    {IDS_TYPE_OPTICAL, TextOptical, SHORT_TEXT_SIZE},
    {IDS_TYPE_NO_DEVICE, TextTypeNoDevice, SHORT_TEXT_SIZE},
    {IDS_TYPE_UNKNOWN, TextUnknown, SHORT_TEXT_SIZE},
    {IDS_SAVE_AS_TITLE, TextSaveAsTitle, SHORT_TEXT_SIZE},
    {IDS_PROPERTIES_CAPTION, TextPropertiesCaption, SHORT_TEXT_SIZE},
    {IDS_HINT_CONTROLLER_TESTING, TextControllerHint, LONG_TEXT_SIZE},
    {IDS_OK, TextOk, SHORT_TEXT_SIZE},
    {IDS_HINT_NO_DEVICE_AT_ID, TextNoDeviceHint, LONG_TEXT_SIZE},
    {IDS_BEGIN_TESTS, TextBeginTests, SHORT_TEXT_SIZE},
    {IDS_WARNING_1, TextWarning1, LONG_TEXT_SIZE},
    {IDS_WARNING_3, TextWarning3, LONG_TEXT_SIZE},
    {IDS_WARNING_5, TextWarning5, LONG_TEXT_SIZE},
    {IDS_WARNING_6, TextWarning6, LONG_TEXT_SIZE},
    {IDS_WARNING_2, TextWarning2, LONG_TEXT_SIZE},
    {IDS_WARNING_4, TextWarning4, LONG_TEXT_SIZE},
    {IDS_DIAG_TESTS_LABEL, TextDiagnosticTests, SHORT_TEXT_SIZE},
    {IDS_DIAG_IN_PROGRESS, TextDiagInProgress, SHORT_TEXT_SIZE},
    {IDS_TESTING, TextTesting, SHORT_TEXT_SIZE},
    {IDS_PASSED, TextPassed, SHORT_TEXT_SIZE},
    {IDS_FAILED, TextFailed, SHORT_TEXT_SIZE},
    {IDS_LAST_SENSE_DATA, TextLastSenseData, SHORT_TEXT_SIZE},
    {IDS_SENSE_KEY_LABEL, TextSenseKey, SHORT_TEXT_SIZE},
    {IDS_SENSE_CODE_LABEL, TextSenseCode, SHORT_TEXT_SIZE},
    {IDS_SENSE_QUALIFIER_LABEL, TextSenseQualifier, SHORT_TEXT_SIZE},
    {IDS_CONTINUE_QUERY, TextContinueQuery, SHORT_TEXT_SIZE},
    {IDS_DIAG_COMPLETE, TextDiagComplete, SHORT_TEXT_SIZE},
    {IDS_DIAG_SUCCESS, TextDiagSuccess, SHORT_TEXT_SIZE},
    {IDS_NOT_TESTED, TextNotTested, SHORT_TEXT_SIZE},
    {IDS_NOT_AVAILABLE, TextNotAvailable, SHORT_TEXT_SIZE},
    {IDS_ENABLED, TextEnabled, SHORT_TEXT_SIZE},
    {IDS_DISABLED, TextDisabled, SHORT_TEXT_SIZE},
};

int PreloadStrings(HINSTANCE instance) {
    for (int i = 0; i < PRELOADED_STRING_COUNT; i++) {
        const PreloadEntry* entry = &PreloadTable[i];
        if (LoadStringA(instance, entry->Id, entry->Buffer, entry->Size) == 0)
            return 0;
    }
    return 1;
}
