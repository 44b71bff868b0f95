// Decoding of READ CAPACITY data and the medium size in megabytes.
#include "capacity.h"

static DWORD ReadBigEndian32(const BYTE* p) {
    return ((DWORD)p[0] << 24) | ((DWORD)p[1] << 16) | ((DWORD)p[2] << 8) | p[3];
}

void DecodeReadCapacity(const BYTE* data, DWORD* lastBlock, DWORD* blockLength) {
    *lastBlock = ReadBigEndian32(data);
    *blockLength = ReadBigEndian32(data + 4);
}

ULONGLONG CapacityMegabytes(DWORD lastBlock, DWORD blockLength) {
    return ((ULONGLONG)(blockLength / 16) * lastBlock) >> 16;
}
