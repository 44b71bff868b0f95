// Registry keys a test lays below HKEY_LOCAL_MACHINE. A tree the test takes
// over is saved first and put back as it was when the test ends, so keys
// that the machine's installer laid survive the test.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace qvx::test {

// Deletes a key with all its subkeys; a missing key is fine.
inline void DeleteKeyTree(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    char name[MAX_PATH];
    std::vector<std::string> children;
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; i++)
        children.push_back(name);
    RegCloseKey(key);
    for (const std::string& child : children)
        DeleteKeyTree(root, path + "\\" + child);
    RegDeleteKeyA(root, path.c_str());
}

// Creates a key and its missing parents; keys below "Hardware" must be volatile.
inline LONG CreateKey(const std::string& path, HKEY* key) {
    DWORD options = _strnicmp(path.c_str(), "Hardware\\", 9) == 0 ? REG_OPTION_VOLATILE
                                                                  : REG_OPTION_NON_VOLATILE;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                           nullptr, key, nullptr);
}

// A key with its values and subkeys, as read at one moment.
struct KeyImage {
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::vector<Value> values;
    std::vector<std::pair<std::string, std::unique_ptr<KeyImage>>> children;

    static std::unique_ptr<KeyImage> Read(const std::string& path) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return nullptr;
        auto image = std::make_unique<KeyImage>();
        for (DWORD i = 0;; i++) {
            char name[16384];
            DWORD nameLength = sizeof name, type = 0, size = 0;
            if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS)
                break;
            Value v{std::string(name, nameLength), type, std::vector<BYTE>(size)};
            DWORD dataSize = size;
            RegQueryValueExA(key, v.name.c_str(), nullptr, nullptr, v.data.data(), &dataSize);
            image->values.push_back(std::move(v));
        }
        char child[MAX_PATH];
        for (DWORD i = 0; RegEnumKeyA(key, i, child, sizeof child) == ERROR_SUCCESS; i++)
            image->children.emplace_back(child, nullptr);
        RegCloseKey(key);
        for (auto& [name, sub] : image->children)
            sub = Read(path + "\\" + name);
        return image;
    }

    void Write(const std::string& path) const {
        HKEY key;
        if (CreateKey(path, &key) != ERROR_SUCCESS)
            return;
        for (const Value& v : values)
            RegSetValueExA(key, v.name.c_str(), 0, v.type, v.data.data(), DWORD(v.data.size()));
        RegCloseKey(key);
        for (const auto& [name, sub] : children)
            if (sub)
                sub->Write(path + "\\" + name);
    }
};

// Trees taken over with Own() start empty and are put back as they were on
// destruction; keys created through it below "Hardware" are volatile.
class RegistryKeys {
  public:
    ~RegistryKeys() {
        for (auto it = owned_.rbegin(); it != owned_.rend(); ++it) {
            DeleteKeyTree(HKEY_LOCAL_MACHINE, it->first);
            if (it->second)
                it->second->Write(it->first);
        }
    }

    // Saves the tree at path and removes it for the test.
    void Own(const std::string& path) {
        owned_.emplace_back(path, KeyImage::Read(path));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
    }

    bool SetString(const std::string& path, const char* name, const std::string& value) {
        return Set(path, name, REG_SZ, value.c_str(), DWORD(value.size() + 1));
    }

    bool SetDword(const std::string& path, const char* name, DWORD value) {
        return Set(path, name, REG_DWORD, &value, sizeof value);
    }

  private:
    // Creates path and any missing parents, then sets the value.
    static bool Set(const std::string& path, const char* name, DWORD type, const void* data,
                    DWORD size) {
        HKEY key;
        if (CreateKey(path, &key) != ERROR_SUCCESS)
            return false;
        LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

    std::vector<std::pair<std::string, std::unique_ptr<KeyImage>>> owned_;
};

} // namespace qvx::test
