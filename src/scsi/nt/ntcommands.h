// The NT pass-through implementations of the facade's commands.
#ifndef NTCOMMANDS_H
#define NTCOMMANDS_H

#include <windows.h>

int PassThroughTestUnitReady(BYTE adapter, BYTE target);
int PassThroughWriteBuffer(BYTE adapter, BYTE target);
int PassThroughReadBuffer(BYTE adapter, BYTE target);
DWORD PassThroughReadBufferDescriptor(BYTE adapter, BYTE target);
int PassThroughSeek(BYTE adapter, BYTE target, DWORD address);
int PassThroughRead10(BYTE adapter, BYTE target, DWORD address, DWORD blockLength, DWORD blockCount,
                      BYTE* buffer);
int PassThroughInquirySerialNumber(BYTE adapter, BYTE target, char* text);
int PassThroughReadCapacity(BYTE adapter, BYTE target, BYTE* data);
BYTE PassThroughModeSenseCaching(BYTE adapter, BYTE target);
WORD PassThroughModeSenseRigidDisk(BYTE adapter, BYTE target);

#endif
