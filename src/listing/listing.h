// Listing files: a plain text record of the host adapters and devices in
// the tables, saved from the File menu and opened again later.
//
//     2                                  number of adapters
//     KESTRAIL                           each adapter's Identifier
//     LQ450
//     3                                  number of device lines
//     0,Hard Disk,QUANTUM ,ATLAS II 4.5WLS ,0A0A,KESTRAIL,2
//     ...                                target,type,vendor,product,revision,adapter,ANSI version
//
// Every line ends with a line feed alone; fields hold no comma.
#ifndef LISTING_H
#define LISTING_H

#include <windows.h>

#define LISTING_NAME_SIZE 260

// Results of ReadListingTables.
#define LISTING_READ 1
#define LISTING_BAD_ADAPTER_COUNT 2
#define LISTING_BAD_DEVICE_COUNT 3

// The text being read or written: exactly the file's bytes when reading
// (no terminating zero), the built text when writing. NULL between uses.
extern char* ListingBuffer;
extern DWORD ListingLength;

// What the last file dialog returned: the full path and the name alone.
extern char ListingFileName[LISTING_NAME_SIZE];
extern char ListingFileTitle[LISTING_NAME_SIZE];

// Replaces both tables with the listing in `data` (`size` bytes, read and
// never past them). Each device goes to its adapter's slot (adapter index
// x 16 + target id); a device whose adapter is not listed, whose target id
// is 16 or more, or whose slot is taken goes to the first free slot after
// the listed adapters' blocks and belongs to no adapter's list. Fields the
// listing does not carry are cleared. Returns LISTING_READ, or which count
// was rejected (the count stays 0).
int ReadListingTables(const char* data, DWORD size);

// Reads ListingBuffer into the tables and rebuilds the tree from them,
// nothing selected; releases the buffer. 1 on success; 0 after a rejected
// count, with its message shown and a re-scan posted to the main window.
int ParseListing(void);

// Builds the listing of the tables in ListingBuffer: the adapters in table
// order, then every slot with a type text, in slot order. Its length, or 0
// after message 50022.
DWORD GetDataBufferAndSize(void);

// Releases ListingBuffer, if any.
void ReleaseListingBuffer(void);

// The File menu's commands, each given the main window. Open and Save As
// show their dialog first; all three report their failures and return 1
// when a listing was read or written, else 0. Saving over an existing file
// replaces it only with a complete new one.
int OpenListingFile(HWND owner);
int SaveListingFile(HWND owner);
int SaveListingFileAs(HWND owner);

// Shows the text for a file dialog's extended error code in a message box
// owned by `owner`; nothing for 0 (the user cancelled).
void ReportCommonDialogError(DWORD code, HWND owner);

// The file name (without folder) of the listing last opened or saved.
const char* CurrentListingTitle(void);

// A listing message with the program's caption and an OK button; nothing
// when its text cannot be loaded.
void ShowListingMessage(HWND owner, UINT stringId);

#endif
