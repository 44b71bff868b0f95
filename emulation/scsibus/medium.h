// The contents of an emulated medium: every block is computed from its
// logical block address, so nothing is stored and a reader can check what
// it got without a copy of the medium.
#pragma once

#include <cstdint>

namespace qvx::emu {

// Byte `offset` of block `lba`: bytes 0-3 hold the address big-endian, the
// rest a pattern mixed from the address and the offset.
uint8_t MediumByte(uint32_t lba, uint32_t offset);

// Fills `out` with `blockSize` bytes of block `lba`.
void FillMediumBlock(uint32_t lba, uint32_t blockSize, uint8_t* out);

} // namespace qvx::emu
