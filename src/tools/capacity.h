// READ CAPACITY data as the device tools read it: the last logical block
// address and the block length, and the medium size they give.
#ifndef CAPACITY_H
#define CAPACITY_H

#include <windows.h>

// Bytes of READ CAPACITY data; callers pass a zeroed buffer at least this big.
#define CAPACITY_DATA_SIZE 8

// Bytes 0-3 (last logical block address) and 4-7 (block length), both
// big-endian and read whole, so media above 8 GB and block lengths above
// 64 KB keep their true values.
void DecodeReadCapacity(const BYTE* data, DWORD* lastBlock, DWORD* blockLength);

// Whole megabytes of a medium: (block length / 16) x last block address,
// divided by 65536. The last block address itself counts as the number of
// blocks (one block is left out, as the program always has). Computed in
// 64 bits, so no medium overflows it.
ULONGLONG CapacityMegabytes(DWORD lastBlock, DWORD blockLength);

#endif
