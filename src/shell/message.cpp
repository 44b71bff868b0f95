// Message boxes with the program's caption and a text from the string table.
#include "message.h"
#include "resource.h"
#include "shell/strings.h"
#include "inventory/inventory.h"

int ShowProgramMessage(HWND owner, UINT stringId, UINT style) {
    char text[MESSAGE_TEXT_SIZE];
    char caption[SHORT_TEXT_SIZE];

    text[0] = '\0';
    LoadStringA(AppInstance != NULL ? AppInstance : GetModuleHandleA(NULL), stringId, text,
                sizeof text);
    // The caption is kept in memory from start-up; load it when a message
    // comes before the texts are (a failure very early in start-up).
    if (MessageCaption[0] != '\0')
        CopyText(caption, sizeof caption, MessageCaption);
    else if (LoadStringA(GetModuleHandleA(NULL), IDS_APP_STATUS_CAPTION, caption, sizeof caption) ==
             0)
        caption[0] = '\0';
    return MessageBoxA(owner, text, caption, style);
}
