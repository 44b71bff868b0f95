// Builds the binary version record (VS_VERSIONINFO) of a driver file, so
// that each file laid into a prefix carries its own version strings.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvx::emu {

struct VersionStrings {
    std::string fileVersion;  // e.g. "2.10.0.0" or "4.60 (1021)"
    std::string description;  // FileDescription
    std::string company;      // CompanyName
    std::string originalName; // OriginalFilename and InternalName
    std::string productName;  // ProductName
    bool windows95 = false;   // file made for the Windows 95 family
    bool vxd = false;         // a virtual device driver rather than a .sys/.mpd driver
};

// US English, code page 1252: the translation every record carries.
constexpr uint16_t kVersionLanguage = 0x0409;
constexpr uint16_t kVersionCodePage = 0x04E4;

// The first four groups of digits of a version text, e.g. 4.60 (1021) ->
// 4, 60, 1021, 0.
void ParseVersionNumbers(const std::string& text, uint16_t out[4]);

std::vector<uint8_t> BuildVersionResource(const VersionStrings& v);

} // namespace qvx::emu
