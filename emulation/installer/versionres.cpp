#include "versionres.h"

#include <windows.h>

#include <cstring>

namespace qvx::emu {
namespace {

// One block of the record: a header (length, value length, type), a key,
// a value and child blocks, every part starting on a 4-byte boundary.
struct Block {
    std::wstring key;
    bool text = true; // wType 1: text value, counted in characters
    std::vector<uint8_t> value;
    uint16_t valueLength = 0; // characters for text values, bytes otherwise
    std::vector<Block> children;
};

void Align(std::vector<uint8_t>& out) {
    while (out.size() % 4)
        out.push_back(0);
}

void PutWord(std::vector<uint8_t>& out, size_t at, uint16_t w) {
    out[at] = static_cast<uint8_t>(w);
    out[at + 1] = static_cast<uint8_t>(w >> 8);
}

void Write(const Block& b, std::vector<uint8_t>& out) {
    Align(out);
    size_t start = out.size();
    out.resize(start + 6);
    PutWord(out, start + 2, b.valueLength);
    PutWord(out, start + 4, b.text ? 1 : 0);
    for (wchar_t c : b.key) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    Align(out);
    out.insert(out.end(), b.value.begin(), b.value.end());
    for (const Block& child : b.children)
        Write(child, out);
    PutWord(out, start, static_cast<uint16_t>(out.size() - start));
}

std::wstring Widen(const std::string& s) {
    std::wstring w;
    for (unsigned char c : s)
        w.push_back(static_cast<wchar_t>(c));
    return w;
}

Block StringEntry(const wchar_t* name, const std::string& value) {
    Block b;
    b.key = name;
    std::wstring w = Widen(value);
    for (wchar_t c : w) {
        b.value.push_back(static_cast<uint8_t>(c));
        b.value.push_back(static_cast<uint8_t>(c >> 8));
    }
    b.value.push_back(0);
    b.value.push_back(0);
    b.valueLength = static_cast<uint16_t>(w.size() + 1);
    return b;
}

} // namespace

void ParseVersionNumbers(const std::string& text, uint16_t out[4]) {
    int n = 0;
    for (size_t i = 0; i < text.size() && n < 4;) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        unsigned v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            if (v > 0xFFFF)
                v = 0xFFFF;
            ++i;
        }
        out[n++] = static_cast<uint16_t>(v);
    }
    while (n < 4)
        out[n++] = 0;
}

std::vector<uint8_t> BuildVersionResource(const VersionStrings& v) {
    uint16_t n[4];
    ParseVersionNumbers(v.fileVersion, n);
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = fixed.dwProductVersionMS = MAKELONG(n[1], n[0]);
    fixed.dwFileVersionLS = fixed.dwProductVersionLS = MAKELONG(n[3], n[2]);
    fixed.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    fixed.dwFileOS = v.windows95 ? VOS_DOS_WINDOWS32 : VOS_NT_WINDOWS32;
    fixed.dwFileType = v.vxd ? VFT_VXD : VFT_DRV;
    fixed.dwFileSubtype = v.vxd ? 0 : VFT2_DRV_SYSTEM;

    Block table;
    table.key = L"040904E4";
    table.children.push_back(StringEntry(L"CompanyName", v.company));
    table.children.push_back(StringEntry(L"FileDescription", v.description));
    table.children.push_back(StringEntry(L"FileVersion", v.fileVersion));
    table.children.push_back(StringEntry(L"InternalName", v.originalName));
    table.children.push_back(StringEntry(L"OriginalFilename", v.originalName));
    table.children.push_back(StringEntry(L"ProductName", v.productName));
    table.children.push_back(StringEntry(L"ProductVersion", v.fileVersion));
    Block strings;
    strings.key = L"StringFileInfo";
    strings.children.push_back(table);

    Block translation;
    translation.key = L"Translation";
    translation.text = false;
    translation.value = {static_cast<uint8_t>(kVersionLanguage), kVersionLanguage >> 8,
                         static_cast<uint8_t>(kVersionCodePage), kVersionCodePage >> 8};
    translation.valueLength = 4;
    Block vars;
    vars.key = L"VarFileInfo";
    vars.children.push_back(translation);

    Block root;
    root.key = L"VS_VERSION_INFO";
    root.text = false;
    root.value.resize(sizeof fixed);
    memcpy(root.value.data(), &fixed, sizeof fixed);
    root.valueLength = sizeof fixed;
    root.children.push_back(strings);
    root.children.push_back(vars);

    std::vector<uint8_t> out;
    Write(root, out);
    return out;
}

} // namespace qvx::emu
