// NT pass-through commands. Placeholders until the NT transport replaces
// them: each returns its command's failure value.
#include "ntcommands.h"

int PassThroughTestUnitReady(BYTE, BYTE) {
    return 0;
}

int PassThroughWriteBuffer(BYTE, BYTE) {
    return 0;
}

int PassThroughReadBuffer(BYTE, BYTE) {
    return 0;
}

DWORD PassThroughReadBufferDescriptor(BYTE, BYTE) {
    return 0;
}

int PassThroughSeek(BYTE, BYTE, DWORD) {
    return 0;
}

int PassThroughRead10(BYTE, BYTE, DWORD, DWORD, DWORD, BYTE*) {
    return 0;
}

int PassThroughInquirySerialNumber(BYTE, BYTE, char*) {
    return 0;
}

int PassThroughReadCapacity(BYTE, BYTE, BYTE*) {
    return 0;
}

BYTE PassThroughModeSenseCaching(BYTE, BYTE) {
    return 0xFF;
}

WORD PassThroughModeSenseRigidDisk(BYTE, BYTE) {
    return 0;
}
