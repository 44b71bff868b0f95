// Message boxes of the program: texts from the string table, with the
// caption "Quorvex Diagnostics status:".
#ifndef MESSAGE_H
#define MESSAGE_H

#include <windows.h>

// Size of the buffer a message text is loaded into.
#define MESSAGE_TEXT_SIZE 2048

// Loads string `stringId` and shows it with the program's caption; returns
// the button the user chose.
int ShowProgramMessage(HWND owner, UINT stringId, UINT style);

#endif
