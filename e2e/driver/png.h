// Screenshots as PNG files: an encoder for 8-bit RGB pictures (stored,
// uncompressed deflate blocks, which every PNG reader accepts) and a
// capture of a screen rectangle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size);

// rgb holds width * height pixels, 3 bytes each, rows top to bottom.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgb);

// Reads a rectangle of the screen as RGB pixels; false when it cannot.
bool CaptureScreen(const RECT& area, std::vector<uint8_t>& rgb);

} // namespace e2e
