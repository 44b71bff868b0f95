// Help file location (the program's install check) and the About box.
#include "helpabout.h"
#include <stdio.h>
#include "resource.h"
#include "inventory/inventory.h"
#include "shell/frame.h"
#include "shell/message.h"
#include "shell/splash.h"

#define HELP_DIRECTORY_SIZE 260
#define VERSION_BLOCK "\\StringFileInfo\\040904E4\\"
#define ABOUT_TEXT_SIZE 257

char HelpFilePath[HELP_PATH_SIZE];
char ContextHelpFilePath[HELP_PATH_SIZE];
HelpViewerProc HelpViewer = WinHelpA;

static HFONT AboutFont14;
static HFONT AboutFont11;
// The box's picture. A static control does not free a bitmap it was handed,
// and not every system frees one it loaded from the template, so the box
// loads and frees its own.
static HBITMAP AboutPicture;

// A registry failure ends the program: tell the user, take the splash down.
static int FailHelpLookup(UINT stringId) {
    ShowProgramMessage(MainWindow, stringId, MB_OK | MB_ICONHAND);
    SplashHide();
    return 0;
}

static void JoinHelpPath(char* path, const char* directory, const char* file) {
    snprintf(path, HELP_PATH_SIZE, "%s\\%s", directory, file);
}

int LocateHelpFiles(void) {
    char keyPath[MAX_PATH];
    char directory[HELP_DIRECTORY_SIZE + 1];
    DWORD disposition = 0, type = 0, size;
    HKEY key;

    snprintf(keyPath, sizeof keyPath, "%s%s", APP_PATHS_KEY, APP_PATH_ENTRY);
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return FailHelpLookup(IDS_MSG_REGISTRY_ACCESS);

    if (disposition == REG_CREATED_NEW_KEY) {
        // Setup has not run: leave nothing behind and use the bare names.
        RegCloseKey(key);
        if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath) != ERROR_SUCCESS)
            return FailHelpLookup(IDS_MSG_REGISTRY_ACCESS);
        ShowProgramMessage(MainWindow, IDS_MSG_NOT_INSTALLED, MB_OK | MB_ICONHAND);
        CopyText(HelpFilePath, sizeof HelpFilePath, "KDX.hlp");
        CopyText(ContextHelpFilePath, sizeof ContextHelpFilePath, "KDXCH.hlp");
        return 1;
    }

    size = HELP_DIRECTORY_SIZE;
    ZeroMemory(directory, sizeof directory);
    if (RegQueryValueExA(key, "HelpPath", NULL, &type, (BYTE*)directory, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return FailHelpLookup(IDS_MSG_NO_HELP_PATH);
    }
    directory[HELP_DIRECTORY_SIZE] = '\0';
    JoinHelpPath(HelpFilePath, directory, "KDX.hlp");
    JoinHelpPath(ContextHelpFilePath, directory, "KDXCH.hlp");
    RegCloseKey(key);
    return 1;
}

BOOL ShowHelpContents(HWND window) {
    return HelpViewer(window, HelpFilePath, HELP_CONTENTS, 0);
}

void FormatOsVersionLine(DWORD version, char* text, size_t size) {
    unsigned major = LOBYTE(LOWORD(version));
    unsigned minor = HIBYTE(LOWORD(version));
    unsigned build = HIWORD(version);

    if ((version & 0x80000000u) == 0)
        snprintf(text, size, "Microsoft Windows NT %u.%u Build: %u", major, minor, build);
    else if (major >= 4)
        snprintf(text, size, "Microsoft Windows 95  Version: %u.%u", major, minor);
    else
        snprintf(text, size, "Microsoft Win32s %u.%u Build: %u", major, minor, build & 0x7FFFu);
}

static HFONT CreateAboutFont(int height) {
    return CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       VARIABLE_PITCH | FF_SWISS, "");
}

static void DeleteAboutFonts(void) {
    if (AboutFont14 != NULL)
        DeleteObject(AboutFont14);
    if (AboutFont11 != NULL)
        DeleteObject(AboutFont11);
    AboutFont14 = NULL;
    AboutFont11 = NULL;
}

static void ShowAboutPicture(HWND dialog) {
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(dialog, GWLP_HINSTANCE);

    AboutPicture = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_ABOUT));
    if (AboutPicture != NULL)
        SendDlgItemMessageA(dialog, IDC_DEVICE_PICTURE, STM_SETIMAGE, IMAGE_BITMAP,
                            (LPARAM)AboutPicture);
}

static void FreeAboutPicture(HWND dialog) {
    if (AboutPicture == NULL)
        return;
    SendDlgItemMessageA(dialog, IDC_DEVICE_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, 0);
    DeleteObject(AboutPicture);
    AboutPicture = NULL;
}

// Fills the title and controls 500-505 from the program's version record.
static void ShowVersionRecord(HWND dialog) {
    char path[ABOUT_TEXT_SIZE];
    char name[ABOUT_TEXT_SIZE];
    char query[ABOUT_TEXT_SIZE + sizeof VERSION_BLOCK];
    char text[ABOUT_TEXT_SIZE + 16];
    DWORD handle = 0, size;
    HGLOBAL block;
    void* record;
    char* value;
    UINT length;
    int control;

    if (GetModuleFileNameA(AppInstance, path, sizeof path - 1) == 0)
        return;
    path[sizeof path - 1] = '\0';
    size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return;
    block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == NULL)
        return;
    record = GlobalLock(block);
    if (record != NULL && GetFileVersionInfoA(path, handle, size, record)) {
        if (VerQueryValueA(record, VERSION_BLOCK "ProductName", (void**)&value, &length) &&
            length > 0) {
            snprintf(text, sizeof text, "About %s", value);
            SetWindowTextA(dialog, text);
        }
        for (control = IDC_ABOUT_COMPANY; control <= IDC_ABOUT_TRADEMARK; control++) {
            GetDlgItemTextA(dialog, control, name, sizeof name);
            snprintf(query, sizeof query, "%s%s", VERSION_BLOCK, name);
            value = NULL;
            length = 0;
            if (!VerQueryValueA(record, query, (void**)&value, &length) || value == NULL ||
                length == 0 || value[0] == '\0')
                snprintf(text, sizeof text, "Error %lu", (unsigned long)GetLastError());
            else
                CopyText(text, sizeof text, value);
            SetDlgItemTextA(dialog, control, text);
            SendDlgItemMessageA(
                dialog, control, WM_SETFONT,
                (WPARAM)(control == IDC_ABOUT_TRADEMARK ? AboutFont11 : AboutFont14), TRUE);
        }
    }
    if (record != NULL)
        GlobalUnlock(block);
    GlobalFree(block);
}

static BOOL OnAboutInit(HWND dialog) {
    char line[128];

    ShowWindow(dialog, SW_HIDE);
    DeleteAboutFonts();
    AboutFont14 = CreateAboutFont(14);
    AboutFont11 = CreateAboutFont(11);
    CenterWindow(dialog, GetWindow(dialog, GW_OWNER));
    ShowAboutPicture(dialog);
    ShowVersionRecord(dialog);
    SendDlgItemMessageA(dialog, IDC_ABOUT_RUNNING_ON, WM_SETFONT, (WPARAM)AboutFont14, TRUE);
    FormatOsVersionLine(GetVersion(), line, sizeof line);
    SetDlgItemTextA(dialog, IDC_ABOUT_OS, line);
    ShowWindow(dialog, SW_SHOW);
    return TRUE;
}

INT_PTR CALLBACK AboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnAboutInit(dialog);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 1);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        // The fonts and the picture live exactly as long as the box's
        // controls use them.
        DeleteAboutFonts();
        FreeAboutPicture(dialog);
        break;
    }
    return FALSE;
}
