// Host adapter identification from the system registry, the I/O address of
// an NT SCSI port, and the version string of a driver file.
#ifndef ADAPTERID_H
#define ADAPTERID_H

#include <windows.h>
#include "inventory/inventory.h"

#define REGISTRY_PATH_SIZE 260
#define FILE_VERSION_TEXT_SIZE 256

// FindTextIgnoreCase's result when the part does not occur.
#define NotFoundOffset (-9999)

// Key below HKEY_LOCAL_MACHINE to which ReadRegistryString appends its subkey.
extern char RegistryBasePath[REGISTRY_PATH_SIZE];

// Result of the last GetFileVersionText; empty when the file has none.
extern char FileVersionText[FILE_VERSION_TEXT_SIZE];

// Fills the identity fields of HostAdapterTable[recordIndex] from the
// registry of the running Windows family (PlatformKind). On NT the adapter
// number is taken to be the SCSI port number.
void IdentifyHostAdapter(int adapterNumber, int recordIndex);
void IdentifyNtAdapter(int portNumber, int recordIndex);
void IdentifyWin95Adapter(int recordIndex);

// Windows 95: turns the description found in the registry into the label of
// the adapter's tree item.
void DescribeAdapter(HostAdapterRecord* record);

// Low 16 bits of the "IOAddress" value of NT SCSI port `portNumber`; 0 when
// it cannot be read.
int GetPortIoAddress(int portNumber);

// Sets FileVersionText to the "FileVersion" string of the file's first
// translation, or to empty.
void GetFileVersionText(const char* path);

// Reads a value of RegistryBasePath + subkey into dest (size bytes, cut to
// fit). dest is empty when the key or value cannot be read. Returns 1 when
// the value was read, else 0.
int ReadRegistryString(const char* subkey, const char* valueName, char* dest, size_t size);

// Offset of the first occurrence of part in text, ignoring the case of a-z;
// NotFoundOffset when it does not occur. An empty part is found at 0.
int FindTextIgnoreCase(const char* text, const char* part);

// Ends the text at its first white-space character.
void CutAtFirstBlank(char* text);

#endif
