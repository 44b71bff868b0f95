// The SCSI commands the program sends through ASPI for Win32, one routine
// per command; all address logical unit 0.
#ifndef ASPICOMMANDS_H
#define ASPICOMMANDS_H

#include <windows.h>

#define BUFFER_TEST_SIZE 512
#define SERIAL_NUMBER_SIZE 256
#define READ_CAPACITY_SIZE 8
// Value of the caching page query when the page could not be read.
#define CACHING_UNKNOWN 0xFF
#define CACHING_RCD 0x01
#define CACHING_WCE 0x04

// AAh at even offsets, 55h at odd ones: what WRITE BUFFER sends and
// READ BUFFER expects back.
extern BYTE BufferTestPattern[BUFFER_TEST_SIZE];

int AspiTestUnitReady(BYTE adapter, BYTE target);
int AspiWriteBuffer(BYTE adapter, BYTE target);
int AspiReadBuffer(BYTE adapter, BYTE target);
DWORD AspiReadBufferDescriptor(BYTE adapter, BYTE target);
int AspiInquirySerialNumber(BYTE adapter, BYTE target, char* text);
int AspiReadCapacity(BYTE adapter, BYTE target, BYTE* data);
BYTE AspiModeSenseCaching(BYTE adapter, BYTE target);
WORD AspiModeSenseRigidDisk(BYTE adapter, BYTE target);
int AspiSeek(BYTE adapter, BYTE target, DWORD address);
int AspiRead10(BYTE adapter, BYTE target, DWORD address, DWORD blockLength, DWORD blockCount,
               BYTE* buffer);

#endif
