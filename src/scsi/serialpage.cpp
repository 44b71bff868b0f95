#include "serialpage.h"

#include <string.h>

int CopySerialNumber(const BYTE* page, DWORD received, char* text) {
    BYTE first = page[4];
    DWORD length;

    if (!((first >= '0' && first <= '9') || (first >= 'A' && first <= 'Z') ||
          (first >= 'a' && first <= 'z')))
        return 0;
    length = page[3];
    if (length > received - 4)
        length = received - 4;
    memcpy(text, page + 4, length);
    text[length] = '\0';
    return 1;
}
