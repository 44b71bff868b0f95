// Opening, painting and closing of the device test dialogs.
#include "devicedialog.h"
#include <stdio.h>
#include <string.h>
#include "resource.h"
#include "shell/strings.h"
#include "tools/devicepicture.h"

int AcceptTestableDevice(HWND dialog, const DeviceRecord* device) {
    const char* hint;

    if (strcmp(device->TypeText, TextHostAdapter) == 0)
        hint = TextControllerHint;
    else if (strcmp(device->TypeText, TextNoDevice) == 0)
        hint = TextNoDeviceHint;
    else
        return 1;
    MessageBoxA(dialog, hint, MessageCaption, MB_OK | MB_ICONINFORMATION);
    SetDlgItemTextA(dialog, IDOK, TextOk);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

int TypeTextIsOneOf(const char* typeText, const char* const* texts, int count) {
    for (int i = 0; i < count; i++) {
        if (strcmp(typeText, texts[i]) == 0)
            return 1;
    }
    return 0;
}

void ShowDeviceIdentity(HWND dialog, const DeviceRecord* device) {
    char id[16];

    snprintf(id, sizeof id, "%u", (unsigned)device->TargetId);
    SetDlgItemTextA(dialog, IDC_SCSI_ADDRESS, id);
    SetDlgItemTextA(dialog, IDC_MANUFACTURER, device->Vendor);
    SetDlgItemTextA(dialog, IDC_VERSION, device->Revision);
    SetDlgItemTextA(dialog, IDC_DEVICE_TYPE, device->TypeText);
    SetDlgItemTextA(dialog, IDC_PRODUCT_NAME, device->Product);
}

void ShowStringInControl(HWND dialog, int controlId, UINT stringId) {
    char text[LONG_TEXT_SIZE];

    if (LoadStringA(AppInstance, stringId, text, sizeof text) == 0)
        text[0] = '\0';
    SetDlgItemTextA(dialog, controlId, text);
}

void PaintDevicePicture(HWND dialog, HBITMAP bitmap) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);

    DrawBitmapInControl(dialog, IDC_DEVICE_PICTURE, dc, bitmap);
    EndPaint(dialog, &paint);
}

void RepaintNow(HWND dialog) {
    RedrawWindow(dialog, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void EndDeviceDialog(HWND dialog) {
    EndDialog(dialog, 1);
    SetFocus(ListView);
}
