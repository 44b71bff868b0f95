#include "scsibus/medium.h"

namespace qvx::emu {

uint8_t MediumByte(uint32_t lba, uint32_t offset) {
    if (offset < 4)
        return static_cast<uint8_t>(lba >> (8 * (3 - offset)));
    uint32_t x = lba * 2654435761u + offset * 40503u;
    return static_cast<uint8_t>((x >> 16) ^ (x >> 24) ^ offset);
}

void FillMediumBlock(uint32_t lba, uint32_t blockSize, uint8_t* out) {
    for (uint32_t i = 0; i < blockSize; ++i)
        out[i] = MediumByte(lba, i);
}

} // namespace qvx::emu
