// The File menu's listing commands: the open and save dialogs, reading a
// listing file whole, and writing one so that a file already there is
// replaced only by a complete new one.
#include "listing/listing.h"
#include <commdlg.h>
#include <cderr.h>
#include <string.h>
#include "inventory/inventory.h"
#include "resource.h"
#include "shell/message.h"
#include "shell/strings.h"

// Longest text of a file dialog error.
#define DIALOG_ERROR_TEXT_SIZE 260
// Prefix of the new and the old file while a listing replaces another.
#define TEMPORARY_PREFIX "qvx"

char ListingFileName[LISTING_NAME_SIZE];
char ListingFileTitle[LISTING_NAME_SIZE];

// The settings both file dialogs share.
static OPENFILENAMEA ListingDialog;

static const char ListingFilter[] = "Text Files (*.TXT)\0*.TXT\0All Files (*.*)\0*.*\0";

// The text shown for each file dialog error code; any other code shows
// "Unknown error.".
static const struct {
    DWORD Code;
    UINT StringId;
} DialogErrorTexts[] = {
    {CDERR_DIALOGFAILURE, IDS_CDERR_DIALOGFAILURE},
    {CDERR_STRUCTSIZE, IDS_CDERR_STRUCTSIZE},
    {CDERR_INITIALIZATION, IDS_CDERR_INITIALIZATION},
    {CDERR_NOTEMPLATE, IDS_CDERR_NOTEMPLATE},
    {CDERR_NOHINSTANCE, IDS_CDERR_NOHINSTANCE},
    {CDERR_LOADSTRFAILURE, IDS_CDERR_LOADSTRFAILURE},
    {CDERR_FINDRESFAILURE, IDS_CDERR_FINDRESFAILURE},
    {CDERR_LOADRESFAILURE, IDS_CDERR_LOADRESFAILURE},
    {CDERR_LOCKRESFAILURE, IDS_CDERR_LOCKRESFAILURE},
    {CDERR_MEMALLOCFAILURE, IDS_CDERR_MEMALLOCFAILURE},
    {CDERR_MEMLOCKFAILURE, IDS_CDERR_MEMLOCKFAILURE},
    {CDERR_NOHOOK, IDS_CDERR_NOHOOK},
    {PDERR_SETUPFAILURE, IDS_PDERR_SETUPFAILURE},
    {PDERR_PARSEFAILURE, IDS_PDERR_PARSEFAILURE},
    {PDERR_RETDEFFAILURE, IDS_PDERR_RETDEFFAILURE},
    {PDERR_LOADDRVFAILURE, IDS_PDERR_LOADDRVFAILURE},
    {PDERR_GETDEVMODEFAIL, IDS_PDERR_GETDEVMODEFAIL},
    {PDERR_INITFAILURE, IDS_PDERR_INITFAILURE},
    {PDERR_NODEVICES, IDS_PDERR_NODEVICES},
    {PDERR_NODEFAULTPRN, IDS_PDERR_NODEFAULTPRN},
    {PDERR_DNDMMISMATCH, IDS_PDERR_DNDMMISMATCH},
    {PDERR_CREATEICFAILURE, IDS_PDERR_CREATEICFAILURE},
    {PDERR_PRINTERNOTFOUND, IDS_PDERR_PRINTERNOTFOUND},
    {CFERR_NOFONTS, IDS_CFERR_NOFONTS},
    {FNERR_SUBCLASSFAILURE, IDS_FNERR_SUBCLASSFAILURE},
    {FNERR_INVALIDFILENAME, IDS_FNERR_INVALIDFILENAME},
    {FNERR_BUFFERTOOSMALL, IDS_FNERR_BUFFERTOOSMALL},
};

static HINSTANCE ListingInstance(void) {
    return AppInstance != NULL ? AppInstance : GetModuleHandleA(NULL);
}

void ShowListingMessage(HWND owner, UINT stringId) {
    char text[MESSAGE_TEXT_SIZE];
    if (LoadStringA(ListingInstance(), stringId, text, sizeof text) > 0)
        ShowProgramMessage(owner, stringId, MB_OK);
}

void ReportCommonDialogError(DWORD code, HWND owner) {
    char text[DIALOG_ERROR_TEXT_SIZE];
    UINT stringId = IDS_CDERR_UNKNOWN;

    if (code == 0)
        return;
    for (size_t i = 0; i < sizeof DialogErrorTexts / sizeof DialogErrorTexts[0]; i++)
        if (DialogErrorTexts[i].Code == code)
            stringId = DialogErrorTexts[i].StringId;
    if (LoadStringA(ListingInstance(), stringId, text, sizeof text) > 0)
        MessageBoxA(owner, text, NULL, MB_OK);
}

const char* CurrentListingTitle(void) {
    return ListingFileTitle;
}

// Empties both name buffers and fills the dialog settings.
static void PrepareListingDialog(HWND owner, const char* title, DWORD flags) {
    ListingFileName[0] = '\0';
    ListingFileTitle[0] = '\0';
    ZeroMemory(&ListingDialog, sizeof ListingDialog);
    // The size Windows 95 and NT 4.0 accept; the later fields stay unused.
    ListingDialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ListingDialog.hwndOwner = owner;
    ListingDialog.lpstrFilter = ListingFilter;
    ListingDialog.nFilterIndex = 1;
    ListingDialog.lpstrFile = ListingFileName;
    ListingDialog.nMaxFile = sizeof ListingFileName;
    ListingDialog.lpstrFileTitle = ListingFileTitle;
    ListingDialog.nMaxFileTitle = sizeof ListingFileTitle;
    ListingDialog.lpstrTitle = title;
    ListingDialog.Flags = flags;
    ListingDialog.lpstrDefExt = "txt";
}

// ---- Open ----

// Reads the whole file into ListingBuffer; its message id, or 0.
static UINT ReadListingFile(HANDLE file) {
    DWORD high = 0, read = 0;
    DWORD size = GetFileSize(file, &high);

    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return IDS_MSG_FILE_SIZE_FAILED;
    ReleaseListingBuffer();
    // A file of 4 GB or more cannot be held.
    if (high == 0)
        ListingBuffer = (char*)GlobalAlloc(GMEM_FIXED, size > 0 ? size : 1);
    if (ListingBuffer == NULL)
        return IDS_MSG_NO_GLOBAL_MEMORY;
    if (!ReadFile(file, ListingBuffer, size, &read, NULL) || read == 0) {
        ReleaseListingBuffer();
        return IDS_MSG_FILE_EMPTY;
    }
    ListingLength = read;
    return 0;
}

int OpenListingFile(HWND owner) {
    PrepareListingDialog(owner, TextOpenTitle,
                         OFN_SHOWHELP | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
    if (!GetOpenFileNameA(&ListingDialog)) {
        ReportCommonDialogError(CommDlgExtendedError(), owner);
        return 0;
    }
    HANDLE file = CreateFileA(ListingFileName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        ShowListingMessage(owner, IDS_MSG_FILE_OPEN_FAILED);
        return 0;
    }
    UINT failure = ReadListingFile(file);
    CloseHandle(file);
    if (failure != 0) {
        ShowListingMessage(failure == IDS_MSG_FILE_SIZE_FAILED ? owner : NULL, failure);
        return 0;
    }
    return ParseListing();
}

// ---- Save ----

// A file already there must be one the user may write: a read-only file,
// a folder, or a file another program holds without sharing is kept.
static int ListingTargetWritable(void) {
    if (ListingFileName[0] == '\0')
        return 0;
    DWORD attributes = GetFileAttributesA(ListingFileName);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 1;
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    HANDLE file = CreateFileA(ListingFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}

// The folder of ListingFileName ("." for a name without one).
static void ListingFolder(char* folder, size_t size) {
    CopyText(folder, size, ListingFileName);
    char* slash = strrchr(folder, '\\');
    char* other = strrchr(folder, '/');
    if (other != NULL && (slash == NULL || other > slash))
        slash = other;
    if (slash == NULL)
        CopyText(folder, size, ".");
    else if (slash == folder || slash[-1] == ':')
        slash[1] = '\0'; // keep the root's backslash
    else
        slash[0] = '\0';
}

// Writes ListingBuffer to `path` and makes sure it reached the disk; the
// message id of a failure, or 0.
static UINT WriteListingBytes(const char* path) {
    DWORD written = 0;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return IDS_MSG_FILE_CREATE_FAILED;
    BOOL ok = WriteFile(file, ListingBuffer, ListingLength, &written, NULL) &&
              written == ListingLength && FlushFileBuffers(file);
    if (!CloseHandle(file))
        ok = FALSE;
    return ok ? 0 : IDS_MSG_FILE_WRITE_FAILED;
}

// Puts the new file `fresh` in the place of ListingFileName. A file already
// there is first moved aside and comes back if the new one cannot take its
// place. 1 on success.
static int ReplaceListingFile(const char* folder, const char* fresh) {
    char old[MAX_PATH];

    if (GetFileAttributesA(ListingFileName) == INVALID_FILE_ATTRIBUTES)
        return MoveFileA(fresh, ListingFileName);
    // A name of our own beside it, free again for the move.
    if (GetTempFileNameA(folder, TEMPORARY_PREFIX, 0, old) == 0)
        return 0;
    DeleteFileA(old);
    if (!MoveFileA(ListingFileName, old))
        return 0;
    if (!MoveFileA(fresh, ListingFileName)) {
        MoveFileA(old, ListingFileName);
        return 0;
    }
    DeleteFileA(old);
    return 1;
}

// Writes the listing as a new file beside ListingFileName, then lets it
// replace that file; the message id of a failure, or 0.
static UINT WriteListingFile(void) {
    char folder[MAX_PATH], fresh[MAX_PATH];

    if (!ListingTargetWritable())
        return IDS_MSG_FILE_CREATE_FAILED;
    ListingFolder(folder, sizeof folder);
    if (GetTempFileNameA(folder, TEMPORARY_PREFIX, 0, fresh) == 0)
        return IDS_MSG_FILE_CREATE_FAILED;
    UINT failure = WriteListingBytes(fresh);
    if (failure == 0 && !ReplaceListingFile(folder, fresh))
        failure = IDS_MSG_FILE_CREATE_FAILED;
    if (failure != 0)
        DeleteFileA(fresh);
    return failure;
}

int SaveListingFile(HWND owner) {
    (void)owner;
    if (GetDataBufferAndSize() == 0) {
        ShowListingMessage(NULL, IDS_MSG_LISTING_TEXT_FAILED);
        return 0;
    }
    UINT failure = WriteListingFile();
    ReleaseListingBuffer();
    if (failure != 0)
        ShowListingMessage(NULL, failure);
    return failure == 0;
}

int SaveListingFileAs(HWND owner) {
    PrepareListingDialog(owner, TextSaveAsTitle, 0);
    if (!GetSaveFileNameA(&ListingDialog)) {
        ReportCommonDialogError(CommDlgExtendedError(), owner);
        return 0;
    }
    return SaveListingFile(owner);
}
