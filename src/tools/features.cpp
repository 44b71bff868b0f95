// Asks every device for its features through the command facade after a
// bus scan and keeps what it answered as texts in its DeviceRecord. Each
// step has its own list of device types it leaves alone; a failed command
// leaves the field as the step says and never stops the step.
#include "tools/features.h"
#include <stdio.h>
#include <string.h>
#include "inventory/inventory.h"
#include "scsi/facade/scsifacade.h"
#include "shell/strings.h"
#include "tools/capacity.h"

#define MAX_SKIPPED_TYPES 8
#define VALUE_TEXT_SIZE 64

// Capacities of 1000 MB and more are shown in gigabytes.
#define MEGABYTES_PER_GIGABYTE 1000
// Buffers below 1023 x 1024 bytes are shown in kilobytes counted as 1023
// bytes (so the largest reads 1023 KB); larger ones in megabytes.
#define KILOBYTE_DIVISOR 1023
#define KILOBYTE_LIMIT (1023UL * 1024UL)
#define MEGABYTE 1048576ULL

typedef void (*DeviceStep)(DeviceRecord* device);

typedef struct {
    DeviceStep Ask;  // asks one device and stores what it answered
    DeviceStep Skip; // what a skipped device's fields get; NULL: unchanged
    const char* SkippedTypes[MAX_SKIPPED_TYPES]; // type texts never asked, NULL-ended
} FeatureStep;

// READ CAPACITY data are written here; the facade fills 8 bytes.
static BYTE CapacityBuffer[CAPACITY_DATA_SIZE];

// MODE SENSE caching bits (bit 0 RCD, bit 2 WCE) and the cache texts they mean.
typedef struct {
    BYTE Bits;
    const char* ReadCache;
    const char* WriteCache;
} CacheState;

static const CacheState CacheStates[] = {
    {0x00, TextEnabled, TextDisabled},
    {0x01, TextDisabled, TextDisabled},
    {0x04, TextEnabled, TextEnabled},
    {0x05, TextDisabled, TextEnabled},
};

static void AskSerialNumber(DeviceRecord* device) {
    if (device->AnsiVersion >= 2 &&
        ScsiInquirySerialNumber(device->AdapterNumber, device->TargetId, device->SerialNumber))
        return;
    CopyText(device->SerialNumber, sizeof device->SerialNumber, TextNotAvailable);
}

// "542 MB" below 1000 MB; "2.047 GB" from there, the thousandths padded
// with zeros so they cannot read as a number of their own.
static void FormatCapacity(ULONGLONG megabytes, char* text, size_t size) {
    if (megabytes < MEGABYTES_PER_GIGABYTE)
        snprintf(text, size, "%u MB", (unsigned)megabytes);
    else
        snprintf(text, size, "%llu.%03u GB", megabytes / MEGABYTES_PER_GIGABYTE,
                 (unsigned)(megabytes % MEGABYTES_PER_GIGABYTE));
}

static void AskCapacity(DeviceRecord* device) {
    char text[VALUE_TEXT_SIZE];
    DWORD lastBlock, blockLength;

    memset(CapacityBuffer, 0, sizeof CapacityBuffer);
    if (!ScsiTestUnitReady(device->AdapterNumber, device->TargetId))
        return;
    // Give a medium that has just come ready time to settle.
    Sleep(CAPACITY_SETTLE_MS);
    if (!ScsiReadCapacity(device->AdapterNumber, device->TargetId, CapacityBuffer))
        return;
    DecodeReadCapacity(CapacityBuffer, &lastBlock, &blockLength);
    // Either value 0 describes no medium that can be measured.
    if (lastBlock == 0 || blockLength == 0)
        return;
    snprintf(text, sizeof text, "%lu Bytes", (unsigned long)blockLength);
    CopyText(device->BlockSizeText, sizeof device->BlockSizeText, text);
    FormatCapacity(CapacityMegabytes(lastBlock, blockLength), text, sizeof text);
    CopyText(device->CapacityText, sizeof device->CapacityText, text);
}

static void AskCacheState(DeviceRecord* device) {
    BYTE bits = ScsiModeSenseCaching(device->AdapterNumber, device->TargetId);
    const char* readCache = TextNotAvailable;
    const char* writeCache = TextNotAvailable;
    size_t i;

    for (i = 0; i < sizeof CacheStates / sizeof CacheStates[0]; i++) {
        if (CacheStates[i].Bits == bits) {
            readCache = CacheStates[i].ReadCache;
            writeCache = CacheStates[i].WriteCache;
        }
    }
    CopyText(device->ReadCacheText, sizeof device->ReadCacheText, readCache);
    CopyText(device->WriteCacheText, sizeof device->WriteCacheText, writeCache);
}

static void MarkCacheUnknown(DeviceRecord* device) {
    CopyText(device->ReadCacheText, sizeof device->ReadCacheText, TextNotAvailable);
    CopyText(device->WriteCacheText, sizeof device->WriteCacheText, TextNotAvailable);
}

static void AskRotationRate(DeviceRecord* device) {
    char text[VALUE_TEXT_SIZE];
    WORD rate = ScsiModeSenseRigidDisk(device->AdapterNumber, device->TargetId);

    if (rate == 0) {
        CopyText(device->MediaSpeedText, sizeof device->MediaSpeedText, TextNotAvailable);
        return;
    }
    snprintf(text, sizeof text, "%u RPM", (unsigned)rate);
    CopyText(device->MediaSpeedText, sizeof device->MediaSpeedText, text);
}

static void MarkRotationUnknown(DeviceRecord* device) {
    CopyText(device->MediaSpeedText, sizeof device->MediaSpeedText, TextNotAvailable);
}

// "512 KB" below the kilobyte limit; above it megabytes of 1,048,576 bytes
// rounded to the nearest tenth, "1.5 MB".
static void FormatBufferSize(DWORD bytes, char* text, size_t size) {
    ULONGLONG tenths;

    if (bytes < KILOBYTE_LIMIT) {
        snprintf(text, size, "%lu KB", (unsigned long)(bytes / KILOBYTE_DIVISOR));
        return;
    }
    tenths = ((ULONGLONG)bytes * 10 + MEGABYTE / 2) / MEGABYTE;
    snprintf(text, size, "%llu.%u MB", tenths / 10, (unsigned)(tenths % 10));
}

static void AskBufferSize(DeviceRecord* device) {
    char text[VALUE_TEXT_SIZE];
    DWORD bytes = ScsiReadBufferDescriptor(device->AdapterNumber, device->TargetId);

    if (bytes == 0)
        return;
    FormatBufferSize(bytes, text, sizeof text);
    CopyText(device->BufferSizeText, sizeof device->BufferSizeText, text);
}

static const FeatureStep SerialNumberStep = {
    AskSerialNumber, NULL, {TextNoDevice, TextHostAdapter, NULL}};
static const FeatureStep CapacityStep = {
    AskCapacity, NULL, {TextNoDevice, TextHostAdapter, TextScanner, TextTape, NULL}};
static const FeatureStep CacheStateStep = {
    AskCacheState, MarkCacheUnknown, {TextNoDevice, TextHostAdapter, TextScanner, TextTape, NULL}};
static const FeatureStep RotationRateStep = {
    AskRotationRate,
    MarkRotationUnknown,
    {TextNoDevice, TextHostAdapter, TextScanner, TextTape, TextWorm, TextCdRom, TextUnknown, NULL}};
static const FeatureStep BufferSizeStep = {AskBufferSize, NULL, {TextScanner, TextUnknown, NULL}};

static int IsSkipped(const FeatureStep* step, const char* typeText) {
    int i;

    for (i = 0; step->SkippedTypes[i] != NULL; i++)
        if (strcmp(typeText, step->SkippedTypes[i]) == 0)
            return 1;
    return 0;
}

// Every slot a scan filled has its type text; empty slots (the unused half
// of a narrow adapter's block among them) are not devices and are passed.
static void RunFeatureStep(const FeatureStep* step) {
    int slot;

    for (slot = 0; slot < MAX_DEVICE_SLOTS; slot++) {
        DeviceRecord* device = &DeviceTable[slot];
        if (device->TypeText[0] == '\0')
            continue;
        if (!IsSkipped(step, device->TypeText))
            step->Ask(device);
        else if (step->Skip != NULL)
            step->Skip(device);
    }
}

void CollectSerialNumbers(void) {
    RunFeatureStep(&SerialNumberStep);
}

void CollectCapacities(void) {
    RunFeatureStep(&CapacityStep);
}

void CollectCacheStates(void) {
    RunFeatureStep(&CacheStateStep);
}

void CollectRotationRates(void) {
    RunFeatureStep(&RotationRateStep);
}

void CollectBufferSizes(void) {
    RunFeatureStep(&BufferSizeStep);
}

void CollectDeviceFeatures(void) {
    CollectSerialNumbers();
    CollectCapacities();
    CollectCacheStates();
    CollectRotationRates();
    CollectBufferSizes();
}
