// The texts the program keeps in memory for the whole run. They are loaded
// once at start-up, before any window exists, by PreloadStrings; everything
// else reads these buffers directly. Each buffer is large enough to hold its
// text whole.
#ifndef STRINGS_H
#define STRINGS_H

#include <windows.h>

#define SHORT_TEXT_SIZE 64
#define LONG_TEXT_SIZE 512

// Caption of the program's message boxes: "Quorvex Diagnostics status:".
extern char MessageCaption[SHORT_TEXT_SIZE];

// "No Device" (50010) and "Host Adapter" (50011): the texts most comparisons
// of a slot's TypeText use, and the product text of the adapter's own row.
extern char TextNoDevice[SHORT_TEXT_SIZE];
extern char TextHostAdapter[SHORT_TEXT_SIZE];
// "Re-scan the SCSI bus ?"
extern char TextRescanQuery[SHORT_TEXT_SIZE];
// "None": the status bar's adapter name when no adapter is selected.
extern char TextNone[SHORT_TEXT_SIZE];
// Titles of the open and save file dialogs.
extern char TextOpenTitle[SHORT_TEXT_SIZE];
extern char TextSaveAsTitle[SHORT_TEXT_SIZE];

// Device type texts, as GetDeviceTypeText returns them.
extern char TextHardDisk[SHORT_TEXT_SIZE];        // "Hard Disk"
extern char TextCdRom[SHORT_TEXT_SIZE];           // "CD-ROM"
extern char TextTape[SHORT_TEXT_SIZE];            // "Tape"
extern char TextRemovable[SHORT_TEXT_SIZE];       // "Removable"
extern char TextTypeHostAdapter[SHORT_TEXT_SIZE]; // "Host Adapter" (50030)
extern char TextWorm[SHORT_TEXT_SIZE];            // "WORM"
extern char TextScanner[SHORT_TEXT_SIZE];         // "Scanner"
extern char TextPrinter[SHORT_TEXT_SIZE];         // "Printer"
extern char TextOptical[SHORT_TEXT_SIZE];         // "Optical"
extern char TextTypeNoDevice[SHORT_TEXT_SIZE];    // "No Device" (50033)
extern char TextUnknown[SHORT_TEXT_SIZE];         // "UnKnown"

// Device dialogs.
extern char TextPropertiesCaption[SHORT_TEXT_SIZE]; // "SCSI Device Properties"
extern char TextControllerHint[LONG_TEXT_SIZE];     // controllers are tested with devices
extern char TextOk[SHORT_TEXT_SIZE];                // "OK"
extern char TextNoDeviceHint[LONG_TEXT_SIZE];       // no device at this SCSI ID
extern char TextBeginTests[SHORT_TEXT_SIZE];        // "Begin Tests"

// The warning shown before the diagnostic tests, in six pieces that are
// shown joined in the order 1 to 6.
extern char TextWarning1[LONG_TEXT_SIZE];
extern char TextWarning2[LONG_TEXT_SIZE];
extern char TextWarning3[LONG_TEXT_SIZE];
extern char TextWarning4[LONG_TEXT_SIZE];
extern char TextWarning5[LONG_TEXT_SIZE];
extern char TextWarning6[LONG_TEXT_SIZE];

// Diagnostic test labels, progress and result lines.
extern char TextDiagnosticTests[SHORT_TEXT_SIZE]; // "Diagnostic Tests:"
extern char TextDiagInProgress[SHORT_TEXT_SIZE];  // "Diagnostic testing in progress..."
extern char TextTesting[SHORT_TEXT_SIZE];         // "Testing..."
extern char TextPassed[SHORT_TEXT_SIZE];          // "PASSED!"
extern char TextFailed[SHORT_TEXT_SIZE];          // "FAILED!"
extern char TextLastSenseData[SHORT_TEXT_SIZE];   // "Last Error Reported Sense Data:"
extern char TextSenseKey[SHORT_TEXT_SIZE];        // "\nSense Key:"
extern char TextSenseCode[SHORT_TEXT_SIZE];       // "\nSense Code:"
extern char TextSenseQualifier[SHORT_TEXT_SIZE];  // "\nSense Code Qualifier:"
extern char TextContinueQuery[SHORT_TEXT_SIZE];   // "\n\nContinue with Diagnostics Test?"
extern char TextDiagComplete[SHORT_TEXT_SIZE];    // "\n\nSCSI Diagnostic Testing Complete"
extern char TextDiagSuccess[SHORT_TEXT_SIZE];     // "Diagnostic tests completed successfully !"
extern char TextNotTested[SHORT_TEXT_SIZE];       // "Not Tested"

// Values of the device features.
extern char TextNotAvailable[SHORT_TEXT_SIZE]; // "Not Available"
extern char TextEnabled[SHORT_TEXT_SIZE];      // "Enabled"
extern char TextDisabled[SHORT_TEXT_SIZE];     // "Disabled"

// Number of texts PreloadStrings loads.
#define PRELOADED_STRING_COUNT 45

// Loads the 45 texts above from the string table of `instance`, in a fixed
// order. Returns 1 when all loaded, 0 as soon as one is missing (the texts
// loaded before it stay loaded).
int PreloadStrings(HINSTANCE instance);

#endif
