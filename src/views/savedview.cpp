// The device list as the main window creates it: in the view mode saved
// with the window position.
#include "shell/mainwindow.h"
#include "views/devicelist.h"

HWND CreateDeviceList(HWND parent) {
    return CreateDeviceListInMode(parent, (int)WindowPosRecord.ViewMode);
}
