// Host adapter identification from the system registry. Windows NT keeps the
// SCSI port's driver under the hardware device map and the driver's identity
// under its legacy enumeration key; Windows 95 keeps the adapter's driver in
// the SCSIAdapter device class and its identity under the PCI enumeration.
// Every key opened here is closed on every path out.
#include "inventory/adapterid.h"
#include <stdio.h>
#include <string.h>

char RegistryBasePath[REGISTRY_PATH_SIZE];
char FileVersionText[FILE_VERSION_TEXT_SIZE];

#define SCSI_PORT_KEY "Hardware\\DeviceMap\\SCSI\\SCSI PORT "
#define LEGACY_KEY "System\\CurrentControlSet\\Enum\\Root\\LEGACY_"
#define SCSI_CLASS_KEY "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter"
#define PCI_ENUM_KEY "Enum\\PCI\\"
#define KESTRAIL_DESCRIPTION "Veltrane Kestrail PCI SCSI Host Adapter"
#define KESTRAIL_DRIVER_FILE "kestrail.mpd"
#define CONTROLLER_SUFFIX " PCI SCSI Controller"
#define MAX_CLASS_ENTRIES 65535

// Longest value text read from the registry; longer values are cut.
#define VALUE_TEXT_SIZE 1024

// Field limits: the characters each field keeps, plus its terminator.
#define IDENTIFIER_LIMIT 16
#define MANUFACTURER_LIMIT 8
#define NAME_LIMIT 16
#define VERSION_LIMIT 4
#define DESCRIPTION_LIMIT 64
#define NT_DRIVER_FILE_LIMIT 16
#define DRIVER_FILE_LIMIT 18
#define DRIVER_DATE_LIMIT 18
// Class entry values are read into 20 bytes.
#define CLASS_VALUE_SIZE 20

static void MakeUpperCase(char* text) {
    for (; *text != '\0'; text++)
        if (*text >= 'a' && *text <= 'z')
            *text = (char)(*text - 'a' + 'A');
}

static void FormatPortKey(char* path, size_t size, int portNumber) {
    snprintf(path, size, "%s%d", SCSI_PORT_KEY, portNumber);
}

// Reads a value of an open key as text, whatever type it is stored as: at
// most size - 1 bytes are kept and the result is always terminated. Returns
// 1 when the value was read.
static int QueryValueText(HKEY key, const char* valueName, char* dest, size_t size) {
    char value[VALUE_TEXT_SIZE];
    DWORD length = sizeof(value) - 1;
    dest[0] = '\0';
    if (RegQueryValueExA(key, valueName, NULL, NULL, (BYTE*)value, &length) != ERROR_SUCCESS)
        return 0;
    value[length < sizeof(value) ? length : sizeof(value) - 1] = '\0';
    CopyText(dest, size, value);
    return 1;
}

int ReadRegistryString(const char* subkey, const char* valueName, char* dest, size_t size) {
    char path[REGISTRY_PATH_SIZE * 2];
    HKEY key;
    if (dest == NULL || size == 0)
        return 0;
    dest[0] = '\0';
    snprintf(path, sizeof(path), "%s%s", RegistryBasePath, subkey);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    int result = QueryValueText(key, valueName, dest, size);
    RegCloseKey(key);
    return result;
}

int FindTextIgnoreCase(const char* text, const char* part) {
    char upperText[260];
    char upperPart[260];
    CopyText(upperText, sizeof(upperText), text);
    CopyText(upperPart, sizeof(upperPart), part);
    MakeUpperCase(upperText);
    MakeUpperCase(upperPart);
    const char* found = strstr(upperText, upperPart);
    if (found == NULL)
        return NotFoundOffset;
    return (int)(found - upperText);
}

void CutAtFirstBlank(char* text) {
    text[strcspn(text, " \t\n\r\v\f")] = '\0';
}

void IdentifyNtAdapter(int portNumber, int recordIndex) {
    HostAdapterRecord* record = &HostAdapterTable[recordIndex];
    char driver[260];
    char service[VALUE_TEXT_SIZE];
    HKEY key;

    FormatPortKey(RegistryBasePath, sizeof(RegistryBasePath), portNumber);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RegistryBasePath, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return;
    int haveDriver = QueryValueText(key, "Driver", driver, sizeof(driver));
    RegCloseKey(key);
    // Without a driver name the adapter keeps what the enumeration gave it:
    // an empty Identifier would mark the record as unused.
    if (!haveDriver || driver[0] == '\0')
        return;
    CopyText(record->Identifier, IDENTIFIER_LIMIT, driver);
    CopyText(record->AdapterName, NAME_LIMIT, record->Identifier);
    MakeUpperCase(record->AdapterName);

    snprintf(RegistryBasePath, sizeof(RegistryBasePath), "%s%s", LEGACY_KEY, driver);
    ReadRegistryString("\\0000", "Mfg", record->Manufacturer, MANUFACTURER_LIMIT);
    CopyText(record->Version, sizeof(record->Version), "N/A");
    ReadRegistryString("\\0000", "DeviceDesc", record->Description, DESCRIPTION_LIMIT);
    ReadRegistryString("\\0000", "Service", service, sizeof(service) - 4);
    strcat(service, ".sys");
    CopyText(record->DriverFile, NT_DRIVER_FILE_LIMIT, service);
}

// Reads a class entry's "PortDriver" as the search does: into 20 bytes, so a
// longer value cannot be read. The text is always terminated. Returns 1 when
// the value was read.
static int QueryPortDriver(HKEY entryKey, char* portDriver) {
    DWORD length = CLASS_VALUE_SIZE;

    if (RegQueryValueExA(entryKey, "PortDriver", NULL, NULL, (BYTE*)portDriver, &length) !=
        ERROR_SUCCESS)
        return 0;
    portDriver[length < CLASS_VALUE_SIZE ? length : CLASS_VALUE_SIZE] = '\0';
    return 1;
}

// Looks through the PCI enumeration for the SCSI adapter whose "Driver"
// value names the class entry `driverKey` ("SCSIAdapter\0000"). On success
// `deviceKey` holds "device\instance" below Enum\PCI and the result is 1.
static int FindPciDeviceKey(const char* driverKey, char* deviceKey, size_t size) {
    HKEY pciKey;
    char device[MAX_PATH];
    char path[REGISTRY_PATH_SIZE * 2];
    int found = 0;

    CopyText(RegistryBasePath, sizeof(RegistryBasePath), PCI_ENUM_KEY);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_ALL_ACCESS, &pciKey) != ERROR_SUCCESS)
        return 0;
    for (DWORD d = 0; !found && RegEnumKeyA(pciKey, d, device, sizeof(device)) == ERROR_SUCCESS;
         d++) {
        HKEY deviceRegKey;
        char instance[MAX_PATH];
        char text[260];
        snprintf(path, sizeof(path), "%s%s", PCI_ENUM_KEY, device);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &deviceRegKey) != ERROR_SUCCESS)
            break;
        LONG status = RegEnumKeyA(deviceRegKey, 0, instance, sizeof(instance));
        RegCloseKey(deviceRegKey);
        if (status != ERROR_SUCCESS)
            continue;
        snprintf(path, sizeof(path), "%s\\%s", device, instance);
        ReadRegistryString(path, "Class", text, sizeof(text));
        if (strcmp(text, "SCSIAdapter") != 0)
            continue;
        // A missing or empty "Driver" value is contained in every driver key.
        ReadRegistryString(path, "Driver", text, sizeof(text));
        if (FindTextIgnoreCase(driverKey, text) != NotFoundOffset) {
            CopyText(deviceKey, size, path);
            found = 1;
        }
    }
    RegCloseKey(pciKey);
    return found;
}

// Fills the record from the PCI device key and the class entry `entry`.
// A value that cannot be read ends the filling there.
static void FillFromPciDevice(HostAdapterRecord* record, const char* deviceKey, const char* entry) {
    char classPath[REGISTRY_PATH_SIZE];
    char value[CLASS_VALUE_SIZE];

    CopyText(record->AdapterName, NAME_LIMIT, record->Identifier);
    MakeUpperCase(record->AdapterName);
    CopyText(RegistryBasePath, sizeof(RegistryBasePath), PCI_ENUM_KEY);
    if (!ReadRegistryString(deviceKey, "Mfg", record->Manufacturer, MANUFACTURER_LIMIT))
        return;
    if (!ReadRegistryString(deviceKey, "HWRevision", record->Version, VERSION_LIMIT))
        return;
    if (!ReadRegistryString(deviceKey, "DeviceDesc", record->Description, DESCRIPTION_LIMIT))
        return;

    snprintf(classPath, sizeof(classPath), "%s\\", SCSI_CLASS_KEY);
    CopyText(RegistryBasePath, sizeof(RegistryBasePath), classPath);
    if (!ReadRegistryString(entry, "PortDriver", value, sizeof(value)))
        return;
    CopyText(record->DriverFile, DRIVER_FILE_LIMIT, value);
    if (!ReadRegistryString(entry, "DriverDate", value, sizeof(value)))
        return;
    CopyText(record->DriverDate, DRIVER_DATE_LIMIT, value);
}

void IdentifyWin95Adapter(int recordIndex) {
    HostAdapterRecord* record = &HostAdapterTable[recordIndex];
    HKEY classKey;
    char entry[MAX_PATH];
    char path[REGISTRY_PATH_SIZE * 2];

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SCSI_CLASS_KEY, 0, KEY_ALL_ACCESS, &classKey) !=
        ERROR_SUCCESS)
        return;
    for (DWORD k = 0; k < MAX_CLASS_ENTRIES; k++) {
        HKEY entryKey;
        char portDriver[CLASS_VALUE_SIZE + 1] = " ";
        char driverKey[MAX_PATH + 16];
        char deviceKey[REGISTRY_PATH_SIZE];

        if (RegEnumKeyA(classKey, k, entry, sizeof(entry)) != ERROR_SUCCESS)
            break;
        snprintf(path, sizeof(path), "%s\\%s", SCSI_CLASS_KEY, entry);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &entryKey) != ERROR_SUCCESS)
            break;
        int haveDriver = QueryPortDriver(entryKey, portDriver);
        RegCloseKey(entryKey);
        if (!haveDriver)
            continue;
        // A class entry whose port driver does not name this adapter belongs
        // to another one.
        if (FindTextIgnoreCase(portDriver, record->Identifier) == NotFoundOffset)
            continue;
        snprintf(driverKey, sizeof(driverKey), "SCSIAdapter\\%s", entry);
        // A class entry that leads to no PCI device ends the search.
        if (!FindPciDeviceKey(driverKey, deviceKey, sizeof(deviceKey)))
            break;
        // A later matching class entry overwrites what an earlier one wrote.
        FillFromPciDevice(record, deviceKey, entry);
    }
    RegCloseKey(classKey);
}

void IdentifyHostAdapter(int adapterNumber, int recordIndex) {
    if (recordIndex < 0 || recordIndex >= MAX_ADAPTERS)
        return;
    if (PlatformKind == PLATFORM_NT)
        IdentifyNtAdapter(adapterNumber, recordIndex);
    else if (PlatformKind == PLATFORM_WIN95)
        IdentifyWin95Adapter(recordIndex);
}

void DescribeAdapter(HostAdapterRecord* record) {
    char description[DESCRIPTION_LIMIT + sizeof(CONTROLLER_SUFFIX)];
    if (FindTextIgnoreCase(record->Identifier, "KESTRAIL") != NotFoundOffset) {
        CopyText(record->Description, DESCRIPTION_LIMIT, KESTRAIL_DESCRIPTION);
        if (record->DriverFile[0] == '\0')
            CopyText(record->DriverFile, DRIVER_FILE_LIMIT, KESTRAIL_DRIVER_FILE);
        return;
    }
    if (record->Description[0] == '\0') {
        CopyText(record->Description, DESCRIPTION_LIMIT, CONTROLLER_SUFFIX + 1);
        return;
    }
    CopyText(description, sizeof(description), record->Description);
    CutAtFirstBlank(description);
    strcat(description, CONTROLLER_SUFFIX);
    CopyText(record->Description, DESCRIPTION_LIMIT, description);
}

int GetPortIoAddress(int portNumber) {
    char path[REGISTRY_PATH_SIZE];
    BYTE value[16];
    DWORD length = sizeof(value);
    HKEY key;
    int address = 0;

    FormatPortKey(path, sizeof(path), portNumber);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    if (RegQueryValueExA(key, "IOAddress", NULL, NULL, value, &length) == ERROR_SUCCESS &&
        length >= 2)
        address = value[0] | (value[1] << 8);
    RegCloseKey(key);
    return address;
}

void GetFileVersionText(const char* path) {
    DWORD handle = 0;
    FileVersionText[0] = '\0';
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (block == NULL)
        return;
    void* data = (void*)block;
    WORD* translation = NULL;
    UINT length = 0;
    if (GetFileVersionInfoA(path, 0, size, data) &&
        VerQueryValueA(data, "\\VarFileInfo\\Translation", (void**)&translation, &length) &&
        translation != NULL && length >= 2 * sizeof(WORD)) {
        char query[64];
        char* version = NULL;
        snprintf(query, sizeof(query), "\\StringFileInfo\\%04x%04x\\FileVersion", translation[0],
                 translation[1]);
        if (VerQueryValueA(data, query, (void**)&version, &length) && version != NULL) {
            size_t count = length < FILE_VERSION_TEXT_SIZE ? length : FILE_VERSION_TEXT_SIZE - 1;
            CopyTextField(FileVersionText, sizeof(FileVersionText), version, count);
        }
    }
    GlobalFree(block);
}
