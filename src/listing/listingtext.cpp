// The listing text: reading it into the adapter and device tables (looking
// only at the bytes given, whatever they hold) and building it from them.
#include "listing/listing.h"
#include <stdio.h>
#include <string.h>
#include "inventory/inventory.h"
#include "resource.h"
#include "shell/frame.h"
#include "shell/strings.h"
#include "views/devicelist.h"
#include "views/devicetree.h"

// Longest token read for a count line and for a number in a device line.
#define COUNT_TOKEN_LENGTH 259
#define NUMBER_TOKEN_LENGTH 11
// Type texts are kept to 15 characters, as the scans keep them.
#define TYPE_TEXT_SIZE 16
#define LINE_WORK_SIZE 260
// Room for any one text field of a record.
#define FIELD_WORK_SIZE 64
#define NARROW_TARGETS 8

char* ListingBuffer = NULL;
DWORD ListingLength = 0;

// A stretch of the listing's bytes; nothing at or past Stop is read.
typedef struct {
    const char* Next;
    const char* Stop;
} TextSpan;

// The device lines as read, before each is given its slot.
static DeviceRecord ListingLines[MAX_DEVICE_SLOTS];
static int ListingLineAdapter[MAX_DEVICE_SLOTS];

static int IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The next line of `text` (without its line feed, or a carriage return
// before it); `text` moves past the line feed. At the end: an empty line.
static TextSpan TakeLine(TextSpan* text) {
    TextSpan line = {text->Next, text->Stop};
    const char* feed = NULL;
    if (text->Next < text->Stop)
        feed = (const char*)memchr(text->Next, '\n', (size_t)(text->Stop - text->Next));
    if (feed != NULL) {
        line.Stop = feed;
        text->Next = feed + 1;
    } else {
        text->Next = text->Stop;
    }
    if (line.Stop > line.Next && line.Stop[-1] == '\r')
        line.Stop--;
    return line;
}

// The number a token starts with: blanks passed over, then a sign and
// decimal digits within `length` characters; anything after them is
// ignored, a token without digits reads as 0, and the value stays within
// 32 bits.
static LONG ReadNumber(const char* p, const char* stop, int length) {
    LONGLONG value = 0;
    int negative = 0;
    while (p < stop && IsBlank(*p))
        p++;
    if (stop - p > length)
        stop = p + length;
    if (p < stop && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        p++;
    }
    for (; p < stop && *p >= '0' && *p <= '9'; p++)
        if (value <= 0x7FFFFFFF)
            value = value * 10 + (*p - '0');
    if (value > 0x7FFFFFFF)
        value = negative ? 0x80000000LL : 0x7FFFFFFF;
    return (LONG)(negative ? -value : value);
}

// Copies bytes into a text field, cut to the field's size - 1.
static void CopyBytes(char* dest, size_t size, const char* start, const char* stop) {
    size_t length = (size_t)(stop - start);
    if (length > size - 1)
        length = size - 1;
    memcpy(dest, start, length);
    dest[length] = '\0';
}

// Moves `line` past the next comma, or to its end.
static void SkipPastComma(TextSpan* line) {
    while (line->Next < line->Stop && *line->Next != ',')
        line->Next++;
    if (line->Next < line->Stop)
        line->Next++;
}

// The next number field of a device line; a missing field reads as 0.
static LONG TakeNumberField(TextSpan* line) {
    LONG value = ReadNumber(line->Next, line->Stop, NUMBER_TOKEN_LENGTH);
    SkipPastComma(line);
    return value;
}

// The next text field of a device line: it ends at a comma, an apostrophe
// or the line's end; after an apostrophe the rest up to the next comma is
// passed over, so the fields after it keep their places.
static void TakeTextField(TextSpan* line, char* dest, size_t size) {
    const char* end = line->Next;
    while (end < line->Stop && *end != ',' && *end != '\'')
        end++;
    CopyBytes(dest, size, line->Next, end);
    line->Next = end;
    SkipPastComma(line);
}

static void ReadDeviceLine(TextSpan line, DeviceRecord* device) {
    device->TargetId = (BYTE)TakeNumberField(&line);
    TakeTextField(&line, device->TypeText, TYPE_TEXT_SIZE);
    TakeTextField(&line, device->Vendor, sizeof device->Vendor);
    TakeTextField(&line, device->Product, sizeof device->Product);
    TakeTextField(&line, device->Revision, sizeof device->Revision);
    TakeTextField(&line, device->AdapterIdentifier, sizeof device->AdapterIdentifier);
    device->AnsiVersion = TakeNumberField(&line);
}

// Index of the first listed adapter with this identifier, or -1.
static int FindListedAdapter(const char* identifier) {
    for (int i = 0; i < AdapterCount; i++)
        if (strcmp(HostAdapterTable[i].Identifier, identifier) == 0)
            return i;
    return -1;
}

static void ReadAdapterLine(TextSpan line, int index) {
    HostAdapterRecord* adapter = &HostAdapterTable[index];
    CopyBytes(adapter->Identifier, sizeof adapter->Identifier, line.Next, line.Stop);
    CopyText(adapter->Description, sizeof adapter->Description, adapter->Identifier);
    adapter->AdapterNumber = (BYTE)index;
    adapter->MaxTargets = NARROW_TARGETS;
    adapter->DeviceCount = 0;
}

// What a device line tells about its adapter: a device counts unless it is
// an empty target or the adapter itself, whose target id is the adapter's
// own SCSI ID; a target id above 7 makes the adapter wide.
static void NoteAdapterDevice(int index, const DeviceRecord* device, int* hostSeen) {
    HostAdapterRecord* adapter = &HostAdapterTable[index];
    int isHost = strcmp(device->TypeText, TextHostAdapter) == 0;
    if (!isHost && strcmp(device->TypeText, TextNoDevice) != 0)
        adapter->DeviceCount++;
    if (isHost && !hostSeen[index]) {
        adapter->HostScsiId = device->TargetId;
        hostSeen[index] = 1;
    }
    if (device->TargetId >= NARROW_TARGETS)
        adapter->MaxTargets = SLOTS_PER_ADAPTER;
}

// Slot of a device in its adapter's block, or -1 when it has none there.
static int HomeSlot(int adapter, const DeviceRecord* device, const BYTE* taken) {
    int slot = adapter * SLOTS_PER_ADAPTER + device->TargetId;
    if (adapter < 0 || device->TargetId >= SLOTS_PER_ADAPTER || slot >= MAX_DEVICE_SLOTS ||
        taken[slot])
        return -1;
    return slot;
}

// The first free slot after the listed adapters' blocks, else any free one.
static int FreeSlot(const BYTE* taken) {
    int first = AdapterCount * SLOTS_PER_ADAPTER;
    if (first >= MAX_DEVICE_SLOTS)
        first = 0;
    for (int i = 0; i < MAX_DEVICE_SLOTS; i++) {
        int slot = (first + i) % MAX_DEVICE_SLOTS;
        if (!taken[slot])
            return slot;
    }
    return -1;
}

static void PlaceDevice(int slot, const DeviceRecord* device, BYTE adapterNumber, BYTE* taken) {
    if (slot < 0 || slot >= MAX_DEVICE_SLOTS)
        return;
    DeviceTable[slot] = *device;
    DeviceTable[slot].AdapterNumber = adapterNumber;
    taken[slot] = 1;
}

// Gives every device line its slot: first those that fit their adapter's
// block, in file order, then the others.
static void PlaceDevices(int count) {
    BYTE taken[MAX_DEVICE_SLOTS] = {0};
    int placed[MAX_DEVICE_SLOTS] = {0};
    for (int i = 0; i < count; i++) {
        int slot = HomeSlot(ListingLineAdapter[i], &ListingLines[i], taken);
        if (slot >= 0) {
            PlaceDevice(slot, &ListingLines[i], (BYTE)ListingLineAdapter[i], taken);
            placed[i] = 1;
        }
    }
    for (int i = 0; i < count; i++)
        if (!placed[i])
            PlaceDevice(FreeSlot(taken), &ListingLines[i], NO_ADAPTER_NUMBER, taken);
}

int ReadListingTables(const char* data, DWORD size) {
    TextSpan text = {data, data + size};
    int hostSeen[MAX_ADAPTERS] = {0};

    if (data == NULL)
        text.Next = text.Stop = "";
    ReleaseDeviceBitmaps();
    ClearInventoryTables();
    AdapterCount = 0;
    TotalDeviceCount = 0;

    TextSpan line = TakeLine(&text);
    LONG adapters = ReadNumber(line.Next, line.Stop, COUNT_TOKEN_LENGTH);
    if (adapters < 1 || adapters > MAX_ADAPTERS)
        return LISTING_BAD_ADAPTER_COUNT;
    AdapterCount = adapters;
    for (int i = 0; i < adapters; i++)
        ReadAdapterLine(TakeLine(&text), i);

    line = TakeLine(&text);
    LONG devices = ReadNumber(line.Next, line.Stop, COUNT_TOKEN_LENGTH);
    if (devices < 1 || devices > MAX_DEVICE_SLOTS)
        return LISTING_BAD_DEVICE_COUNT;
    TotalDeviceCount = devices;
    for (int i = 0; i < devices; i++) {
        memset(&ListingLines[i], 0, sizeof ListingLines[i]);
        ReadDeviceLine(TakeLine(&text), &ListingLines[i]);
        ListingLineAdapter[i] = FindListedAdapter(ListingLines[i].AdapterIdentifier);
        if (ListingLineAdapter[i] >= 0)
            NoteAdapterDevice(ListingLineAdapter[i], &ListingLines[i], hostSeen);
    }
    PlaceDevices(devices);
    return LISTING_READ;
}

void ReleaseListingBuffer(void) {
    if (ListingBuffer != NULL)
        GlobalFree(ListingBuffer);
    ListingBuffer = NULL;
    ListingLength = 0;
}

int ParseListing(void) {
    ResetViews();
    int result = ReadListingTables(ListingBuffer, ListingLength);
    for (int i = 0; i < AdapterCount; i++)
        HostAdapterTable[i].TreeItem = AddTreeItem(HostAdapterTable[i].Identifier, TreeView, i);
    // The adapters are in view, none of them selected.
    if (TreeRootItem != NULL)
        TreeView_Expand(TreeView, TreeRootItem, TVE_EXPAND);
    ShowAdapterInStatusBar(AppInstance, StatusBar, -1);
    if (result != LISTING_READ) {
        ShowListingMessage(NULL, result == LISTING_BAD_ADAPTER_COUNT ? IDS_MSG_BAD_ADAPTER_COUNT
                                                                     : IDS_MSG_BAD_DEVICE_COUNT);
        ReleaseListingBuffer();
        PostMessageA(MainWindow, WM_COMMAND, IDM_RESCAN, 0);
        return 0;
    }
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++)
        SetDeviceImage(&DeviceTable[slot]);
    ReleaseListingBuffer();
    return 1;
}

// ---- Writing ----

// A record's text as a listing field: at most the field's own width, with a
// blank for each character that would end the field or its line when read
// back.
static void ListingField(char* dest, const char* src, size_t srcSize) {
    size_t i = 0;
    for (; i < srcSize - 1 && src[i] != '\0'; i++)
        dest[i] = strchr(",'\r\n", src[i]) != NULL ? ' ' : src[i];
    dest[i] = '\0';
}

// Appends text to the listing being built; with no buffer it only counts.
static void AppendText(DWORD* length, const char* text, DWORD capacity) {
    size_t size = strlen(text);
    if (ListingBuffer != NULL && *length + size <= capacity)
        memcpy(ListingBuffer + *length, text, size);
    *length += (DWORD)size;
}

static int SlotIsFilled(int slot) {
    return DeviceTable[slot].TypeText[0] != '\0';
}

static int ListedAdapters(void) {
    return AdapterCount < 0 ? 0 : AdapterCount > MAX_ADAPTERS ? MAX_ADAPTERS : (int)AdapterCount;
}

static int FilledSlots(void) {
    int filled = 0;
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++)
        filled += SlotIsFilled(slot);
    return filled;
}

// The listing of the tables: its length, and its bytes when ListingBuffer
// holds `capacity` bytes.
static DWORD BuildListing(DWORD capacity) {
    char line[LINE_WORK_SIZE];
    char fields[5][FIELD_WORK_SIZE];
    DWORD length = 0;
    int adapters = ListedAdapters();

    snprintf(line, sizeof line, "%d\n", adapters);
    AppendText(&length, line, capacity);
    for (int i = 0; i < adapters; i++) {
        ListingField(fields[0], HostAdapterTable[i].Identifier,
                     sizeof HostAdapterTable[i].Identifier);
        snprintf(line, sizeof line, "%s\n", fields[0]);
        AppendText(&length, line, capacity);
    }
    snprintf(line, sizeof line, "%d\n", FilledSlots());
    AppendText(&length, line, capacity);
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++) {
        const DeviceRecord* device = &DeviceTable[slot];
        if (!SlotIsFilled(slot))
            continue;
        ListingField(fields[0], device->TypeText, sizeof device->TypeText);
        ListingField(fields[1], device->Vendor, sizeof device->Vendor);
        ListingField(fields[2], device->Product, sizeof device->Product);
        ListingField(fields[3], device->Revision, sizeof device->Revision);
        ListingField(fields[4], device->AdapterIdentifier, sizeof device->AdapterIdentifier);
        snprintf(line, sizeof line, "%d,%s,%s,%s,%s,%s,%d\n", (int)device->TargetId, fields[0],
                 fields[1], fields[2], fields[3], fields[4], (int)device->AnsiVersion);
        AppendText(&length, line, capacity);
    }
    return length;
}

DWORD GetDataBufferAndSize(void) {
    DWORD adapters = (DWORD)ListedAdapters();
    DWORD devices = (DWORD)FilledSlots();

    ReleaseListingBuffer();
    DWORD capacity = devices * adapters + 540 * devices + 200 * adapters;
    DWORD length = BuildListing(0);
    if (capacity < length)
        capacity = length;
    ListingBuffer = (char*)GlobalAlloc(GMEM_FIXED, capacity);
    if (ListingBuffer == NULL) {
        ShowListingMessage(NULL, IDS_MSG_NO_GLOBAL_MEMORY);
        return 0;
    }
    ListingLength = BuildListing(capacity);
    return ListingLength;
}
