// qvxmachine.exe: lays an emulated machine into the Wine prefix it runs in.
//
//   qvxmachine.exe MACHINE.ini   remove what the last machine laid, lay this one
//   qvxmachine.exe /remove       only remove what the last machine laid
//
// What a machine lays: the machine file as %windir%\qvxmachine.ini (read by
// the emulated wnaspi32.dll), the library itself and Wine's load rule for
// it, the Windows version and screen size Wine gives quorvex.exe, the
// registry keys of the machine's Windows family that identify its SCSI host
// adapters, and driver files with version records. Keys under
// HKLM\Hardware are volatile and vanish when the wineserver stops, so the
// installer runs after every server start. Every key and file laid is listed
// in %windir%\qvxmachine.laid, which the next run removes first.
#include "scsibus/hostpath.h"
#include "machine/machine.h"
#include "versionres.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

using qvx::emu::AdapterConfig;
using qvx::emu::AspiState;
using qvx::emu::DeviceConfig;
using qvx::emu::Family;
using qvx::emu::Machine;

const char kScsiMap[] = "Hardware\\DeviceMap\\Scsi";
const char kAppPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quorvex Diagnostics.EXE";
const char kAspiVersion[] = "4.60 (1021)";
const char kWin95Version[] = "4.00.950";

struct Failure : std::exception {
    explicit Failure(std::string m) : message(std::move(m)) {}
    const char* what() const noexcept override {
        return message.c_str();
    }
    std::string message;
};

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string ErrorText(LONG code) {
    return " (error " + std::to_string(code) + ")";
}

class Key {
  public:
    Key() = default;
    explicit Key(HKEY h) : h_(h) {}
    ~Key() {
        if (h_)
            RegCloseKey(h_);
    }
    Key(Key&& o) noexcept : h_(o.h_) {
        o.h_ = nullptr;
    }
    Key& operator=(Key&& o) noexcept {
        std::swap(h_, o.h_);
        return *this;
    }
    HKEY get() const {
        return h_;
    }

  private:
    HKEY h_ = nullptr;
};

// Deletes a key with everything below it; false when some of it stays.
bool DeleteTree(HKEY parent, const std::string& path) {
    HKEY h;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS)
        return false;
    char name[256];
    for (;;) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(h, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (!DeleteTree(h, name))
            break;
    }
    RegCloseKey(h);
    return RegDeleteKeyA(parent, path.c_str()) == ERROR_SUCCESS;
}

HKEY RootOf(const std::string& name) {
    return name == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// The list of what has been laid, one entry a line:
//   key ROOT\path          a key tree created here (removed whole)
//   value ROOT\path|name   a value set in a key that was there before
//   file path              a file laid here
//   dir path               a directory made here (removed when empty)
//   restore path|saved     a file that was there before, moved aside
class Manifest {
  public:
    void Key(const std::string& root, const std::string& path) {
        // A key below one already listed goes with it.
        std::string line = "key " + root + "\\" + path;
        for (const auto& l : lines_)
            if (l.rfind("key ", 0) == 0 && line.size() > l.size() && line[l.size()] == '\\' &&
                _strnicmp(l.c_str(), line.c_str(), l.size()) == 0)
                return;
        Add(line);
    }
    void Value(const std::string& root, const std::string& path, const std::string& name) {
        Add("value " + root + "\\" + path + "|" + name);
    }
    void File(const std::string& path) {
        Add("file " + path);
    }
    void Directory(const std::string& path) {
        Add("dir " + path);
    }
    void Restore(const std::string& path, const std::string& saved) {
        Add("restore " + path + "|" + saved);
    }
    const std::vector<std::string>& lines() const {
        return lines_;
    }

  private:
    void Add(const std::string& line) {
        for (const auto& l : lines_)
            if (_stricmp(l.c_str(), line.c_str()) == 0)
                return;
        lines_.push_back(line);
    }
    std::vector<std::string> lines_;
};

// Creates a key path component by component; the first component that did
// not exist before is recorded, so removing it removes all this run made.
// Values set in a key that existed before are recorded one by one.
class RegistryWriter {
  public:
    explicit RegistryWriter(Manifest& manifest) : manifest_(manifest) {}

    struct Opened {
        ::Key key;
        bool ours = false;
        std::string root, path;
    };

    Opened Create(const std::string& root, const std::string& path, bool isVolatile = false) {
        Opened o;
        o.root = root;
        o.path = path;
        std::string sofar;
        HKEY parent = RootOf(root);
        ::Key current;
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find('\\', start);
            if (end == std::string::npos)
                end = path.size();
            std::string part = path.substr(start, end - start);
            sofar += (sofar.empty() ? "" : "\\") + part;
            HKEY h;
            DWORD disposition = 0;
            LONG rc = RegCreateKeyExA(parent, part.c_str(), 0, nullptr,
                                      isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &h, &disposition);
            if (rc != ERROR_SUCCESS)
                throw Failure("cannot create " + root + "\\" + sofar + ErrorText(rc));
            if (disposition == REG_CREATED_NEW_KEY && !o.ours) {
                manifest_.Key(root, sofar);
                o.ours = true;
            }
            current = ::Key(h);
            parent = h;
            start = end + 1;
        }
        o.key = std::move(current);
        return o;
    }

    void SetString(Opened& k, const char* name, const std::string& value) {
        Set(k, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
            static_cast<DWORD>(value.size() + 1));
    }
    void SetDword(Opened& k, const char* name, DWORD value) {
        Set(k, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }

  private:
    void Set(Opened& k, const char* name, DWORD type, const BYTE* data, DWORD size) {
        LONG rc = RegSetValueExA(k.key.get(), name, 0, type, data, size);
        if (rc != ERROR_SUCCESS)
            throw Failure("cannot write " + k.root + "\\" + k.path + " " + name + ErrorText(rc));
        if (!k.ours)
            manifest_.Value(k.root, k.path, name);
    }
    Manifest& manifest_;
};

struct Paths {
    std::string windows, system, here;
    std::string manifest() const {
        return windows + "\\qvxmachine.laid";
    }
};

Paths FindPaths() {
    char buffer[MAX_PATH];
    Paths p;
    GetWindowsDirectoryA(buffer, MAX_PATH);
    p.windows = buffer;
    GetSystemDirectoryA(buffer, MAX_PATH);
    p.system = buffer;
    GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    p.here = buffer;
    p.here = p.here.substr(0, p.here.find_last_of("\\/"));
    return p;
}

// Removes everything the manifest lists, newest first.
void RemovePrevious(const Paths& paths) {
    std::ifstream in(paths.manifest());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    in.close();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        const std::string& line = *it;
        size_t space = line.find(' ');
        std::string kind = line.substr(0, space), rest = line.substr(space + 1);
        if (kind == "key" || kind == "value") {
            size_t slash = rest.find('\\');
            HKEY root = RootOf(rest.substr(0, slash));
            std::string path = rest.substr(slash + 1);
            if (kind == "key") {
                DeleteTree(root, path);
            } else {
                size_t bar = path.rfind('|');
                HKEY h;
                if (RegOpenKeyExA(root, path.substr(0, bar).c_str(), 0, KEY_SET_VALUE, &h) ==
                    ERROR_SUCCESS) {
                    RegDeleteValueA(h, path.substr(bar + 1).c_str());
                    RegCloseKey(h);
                }
            }
        } else if (kind == "dir") {
            RemoveDirectoryA(rest.c_str());
        } else if (kind == "file") {
            DeleteFileA(rest.c_str());
        } else if (kind == "restore") {
            size_t bar = rest.find('|');
            MoveFileExA(rest.substr(bar + 1).c_str(), rest.substr(0, bar).c_str(),
                        MOVEFILE_REPLACE_EXISTING);
        }
    }
    DeleteFileA(paths.manifest().c_str());
}

// The machine describes the whole SCSI device map: port keys that Wine made
// for its own drives would stand beside the machine's adapters.
void ClearScsiPorts() {
    HKEY map;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScsiMap, 0, KEY_ALL_ACCESS, &map) != ERROR_SUCCESS)
        return;
    char name[256];
    std::vector<std::string> ports;
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(map, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        ports.push_back(name);
    }
    for (const auto& p : ports)
        DeleteTree(map, p);
    RegCloseKey(map);
}

class Installer {
  public:
    Installer(const Machine& m, const Paths& p) : m_(m), paths_(p), reg_(manifest_) {}

    // `machineText` is the machine file as read before anything was removed
    // (it may be the installed copy itself).
    void Run(const std::string& machineText) {
        std::string installed = paths_.windows + "\\qvxmachine.ini";
        PrepareTarget(installed, true);
        std::ofstream out(installed, std::ios::binary | std::ios::trunc);
        out << machineText;
        out.close();
        if (!out)
            throw Failure("cannot write " + installed);
        LayAspiLibrary();
        LayWineSettings();
        LayHelpPath();
        if (m_.family == Family::Nt40)
            LayNt();
        else
            LayWin95();
        WriteManifest();
        CheckFileLists();
    }

    void WriteManifest() {
        std::ofstream out(paths_.manifest(), std::ios::trunc);
        for (const auto& l : manifest_.lines())
            out << l << "\n";
        if (!out)
            throw Failure("cannot write " + paths_.manifest());
    }

  private:
    // Makes room for a file: one that was there before this machine (Wine's
    // own, for example) is moved aside and put back on removal.
    // A file of our own name (the machine file) is simply replaced.
    void PrepareTarget(const std::string& to, bool ours = false) {
        if (ours)
            DeleteFileA(to.c_str());
        if (GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
            std::string saved = to + ".qvxsaved";
            if (!MoveFileExA(to.c_str(), saved.c_str(), MOVEFILE_REPLACE_EXISTING))
                throw Failure("cannot move aside " + to + ErrorText(GetLastError()));
            manifest_.Restore(to, saved);
        }
        manifest_.File(to);
    }

    void CopyTo(const std::string& from, const std::string& to) {
        PrepareTarget(to);
        if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
            throw Failure("cannot copy " + from + " to " + to + ErrorText(GetLastError()));
    }

    void MakeDirectory(const std::string& dir) {
        if (CreateDirectoryA(dir.c_str(), nullptr))
            manifest_.Directory(dir);
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw Failure("cannot create " + dir + ErrorText(GetLastError()));
    }

    // Whether the machine's list names the file; a name found counts as used.
    bool Lists(const std::vector<std::string>& names, const std::string& file) {
        for (const std::string& n : names) {
            if (_stricmp(n.c_str(), file.c_str()) == 0) {
                used_.insert(Upper(n));
                return true;
            }
        }
        return false;
    }

    // A name in the machine's file lists that met no file is a mistake in
    // the machine file: it would silently change nothing.
    void CheckFileLists() const {
        for (const auto* list : {&m_.absentFiles, &m_.unversionedFiles})
            for (const std::string& n : *list)
                if (used_.count(Upper(n)) == 0)
                    throw Failure("the machine lists " + n + ", a file it does not lay");
    }

    // Takes every resource, and with them the version record, out of a laid file.
    static void RemoveResources(const std::string& to) {
        HANDLE update = BeginUpdateResourceA(to.c_str(), TRUE);
        if (!update || !EndUpdateResourceA(update, FALSE))
            throw Failure("cannot take the version record out of " + to +
                          ErrorText(GetLastError()));
    }

    // A driver file: the stub library with a version record of its own, or
    // none for a file the machine lists as unversioned.
    void LayDriverFile(const std::string& dir, const std::string& name,
                       qvx::emu::VersionStrings v) {
        if (name.empty() || Lists(m_.absentFiles, name))
            return;
        MakeDirectory(dir);
        std::string to = dir + "\\" + name;
        CopyTo(paths_.here + "\\qvxdriverstub.dll", to);
        if (Lists(m_.unversionedFiles, name)) {
            RemoveResources(to);
            return;
        }
        v.originalName = Upper(name);
        std::vector<uint8_t> record = qvx::emu::BuildVersionResource(v);
        HANDLE update = BeginUpdateResourceA(to.c_str(), TRUE);
        if (!update ||
            !UpdateResourceA(update, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(VS_VERSION_INFO),
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), record.data(),
                             static_cast<DWORD>(record.size())) ||
            !EndUpdateResourceA(update, FALSE))
            throw Failure("cannot give " + to + " its version record" + ErrorText(GetLastError()));
    }

    void LayAspiLibrary() {
        RegistryWriter::Opened overrides = reg_.Create("HKCU", "Software\\Wine\\DllOverrides");
        std::string dll = paths_.system + "\\wnaspi32.dll";
        if (m_.aspi == AspiState::Absent) {
            // No ASPI at all: the load fails (error 126) and the program
            // takes the NT port path.
            reg_.SetString(overrides, "wnaspi32", "");
            return;
        }
        reg_.SetString(overrides, "wnaspi32", "native");
        if (Lists(m_.absentFiles, "wnaspi32.dll"))
            return;
        CopyTo(paths_.here + "\\wnaspi32.dll", dll);
        if (Lists(m_.unversionedFiles, "wnaspi32.dll"))
            RemoveResources(dll);
    }

    void LayWineSettings() {
        auto app = reg_.Create("HKCU", "Software\\Wine\\AppDefaults\\quorvex.exe");
        reg_.SetString(app, "Version", m_.family == Family::Nt40 ? "nt40" : "win95");
        // A virtual desktop of the machine's screen size. Its name is its
        // own, with the size in it: Wine's "Default" desktop already exists
        // by the time this runs, and a desktop's size is fixed when Wine
        // makes it, so a machine of another size needs another desktop.
        std::string size = std::to_string(m_.screenWidth) + "x" + std::to_string(m_.screenHeight);
        std::string desktop = "Quorvex-" + size;
        auto explorer = reg_.Create("HKCU", "Software\\Wine\\Explorer");
        reg_.SetString(explorer, "Desktop", desktop);
        auto desktops = reg_.Create("HKCU", "Software\\Wine\\Explorer\\Desktops");
        reg_.SetString(desktops, desktop.c_str(), size);
    }

    void LayHelpPath() {
        if (m_.helpPath.empty())
            return;
        auto key = reg_.Create("HKLM", kAppPath);
        reg_.SetString(key, "HelpPath", m_.helpPath);
    }

    static const char* PeripheralName(uint8_t type) {
        switch (type) {
        case 0x00:
            return "DiskPeripheral";
        case 0x01:
            return "TapePeripheral";
        case 0x02:
            return "PrinterPeripheral";
        case 0x03:
            return "ProcessorPeripheral";
        case 0x04:
            return "WormPeripheral";
        case 0x05:
            return "CdRomPeripheral";
        case 0x06:
            return "ScannerPeripheral";
        case 0x07:
            return "OpticalDiskPeripheral";
        case 0x08:
            return "MediumChangerPeripheral";
        case 0x09:
            return "CommunicationsPeripheral";
        default:
            return "OtherPeripheral";
        }
    }

    static std::string Padded(const std::string& s, size_t width) {
        std::string r = s.substr(0, width);
        r.resize(width, ' ');
        return r;
    }

    // NT: the SCSI device map (volatile), the legacy enumeration keys of the
    // miniport drivers, and the driver files in system32\drivers.
    void LayNt() {
        ClearScsiPorts();
        std::string drivers = paths_.system + "\\drivers";
        for (const AdapterConfig& a : m_.adapters) {
            std::string port = std::string(kScsiMap) + "\\Scsi Port " + std::to_string(a.ntPort);
            auto portKey = reg_.Create("HKLM", port, true);
            if (!a.ntDriver.empty())
                reg_.SetString(portKey, "Driver", a.ntDriver);
            if (a.ioAddress)
                reg_.SetDword(portKey, "IOAddress", a.ioAddress);
            for (int bus = 0; bus < a.buses; ++bus) {
                std::string busKey = port + "\\Scsi Bus " + std::to_string(bus);
                reg_.Create("HKLM", busKey + "\\Initiator Id " + std::to_string(a.hostId), true);
                for (const DeviceConfig& d : a.devices) {
                    if (d.bus != bus)
                        continue;
                    auto lu = reg_.Create("HKLM",
                                          busKey + "\\Target Id " + std::to_string(d.target) +
                                              "\\Logical Unit Id " + std::to_string(d.lun),
                                          true);
                    reg_.SetString(lu, "Identifier",
                                   Padded(d.vendor, 8) + Padded(d.product, 16) +
                                       Padded(d.revision, 4));
                    reg_.SetString(lu, "Type", PeripheralName(d.peripheralType));
                    if (!d.classDevice.empty())
                        reg_.SetString(lu, "DeviceName", d.classDevice);
                }
            }
            if (!a.ntDriver.empty()) {
                auto legacy = reg_.Create("HKLM", "System\\CurrentControlSet\\Enum\\Root\\LEGACY_" +
                                                      Upper(a.ntDriver) + "\\0000");
                reg_.SetString(legacy, "Mfg", a.mfg);
                reg_.SetString(legacy, "DeviceDesc", a.deviceDesc);
                reg_.SetString(legacy, "Service", a.service);
            }
            if (!a.service.empty() && !a.driverVersion.empty())
                LayDriverFile(
                    drivers, a.service + ".sys",
                    {a.driverVersion, a.deviceDesc, a.mfg, "", a.deviceDesc, false, false});
        }
        if (m_.aspi == AspiState::Installed) {
            qvx::emu::VersionStrings aspi{kAspiVersion,
                                          "ASPI for Win32 (NT) kernel driver",
                                          "Veltrane",
                                          "",
                                          "ASPI for Win32",
                                          false,
                                          false};
            LayDriverFile(drivers, "Aspi32.sys", aspi);
            aspi.description = "ASPI for Win32 (NT) port layer";
            LayDriverFile(drivers, "AspiXNT.sys", aspi);
        }
    }

    // Windows 95: the SCSIAdapter class entries and PCI device keys, and the
    // drivers of the I/O subsystem in system32\IOSUBSYS.
    void LayWin95() {
        std::string iosubsys = paths_.system + "\\IOSUBSYS";
        bool kestrail = false;
        for (size_t i = 0; i < m_.adapters.size(); ++i) {
            const AdapterConfig& a = m_.adapters[i];
            kestrail = kestrail || Upper(a.identifier).find("KESTRAIL") != std::string::npos;
            // The class entry's number is the one the device key's "Driver"
            // names ("SCSIAdapter\0001"), else the adapter's position.
            char number[8];
            snprintf(number, sizeof number, "%04u", static_cast<unsigned>(i));
            std::string entry = number;
            size_t slash = a.pciDriver.rfind('\\');
            if (slash != std::string::npos && slash + 1 < a.pciDriver.size())
                entry = a.pciDriver.substr(slash + 1);
            if (!a.portDriver.empty()) {
                auto cls = reg_.Create(
                    "HKLM", "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\" + entry);
                reg_.SetString(cls, "PortDriver", a.portDriver);
                if (!a.driverDate.empty())
                    reg_.SetString(cls, "DriverDate", a.driverDate);
                reg_.SetString(cls, "DriverDesc", a.deviceDesc);
                reg_.SetString(cls, "Mfg", a.mfg);
            }
            if (!a.pciClass.empty()) {
                char device[64];
                snprintf(device, sizeof device,
                         "Enum\\PCI\\VEN_1D5C&DEV_%04X\\BUS_00&DEV_%02X&FUNC_00",
                         0x8100u + static_cast<unsigned>(i), 0x0Bu + static_cast<unsigned>(i));
                auto dev = reg_.Create("HKLM", device);
                reg_.SetString(dev, "Class", a.pciClass);
                reg_.SetString(dev, "Driver", a.pciDriver);
                reg_.SetString(dev, "Mfg", a.mfg);
                reg_.SetString(dev, "HWRevision", a.hwRevision);
                reg_.SetString(dev, "DeviceDesc", a.deviceDesc);
            }
            if (!a.driverVersion.empty())
                LayDriverFile(
                    iosubsys, a.portDriver,
                    {a.driverVersion, a.deviceDesc, a.mfg, "", a.deviceDesc, true, false});
        }
        if (kestrail)
            LayDriverFile(iosubsys, "KVXHBA.VxD",
                          {"2.10", "Kestrail host adapter virtual device", "Veltrane", "",
                           "Veltrane Kestrail", true, true});
        const qvx::emu::VersionStrings platform{kWin95Version,
                                                "",
                                                "Microsoft Corporation",
                                                "",
                                                "Microsoft(R) Windows(R) Operating System",
                                                true,
                                                true};
        auto file = platform;
        file.description = "SCSI 1 helper";
        LayDriverFile(iosubsys, "SCSI1HLP.VxD", file);
        file.description = "SCSI port driver";
        file.vxd = false;
        LayDriverFile(iosubsys, "SCSIPORT.PDR", file);
        if (m_.aspi == AspiState::Installed)
            LayDriverFile(iosubsys, "APIX.VxD",
                          {kAspiVersion, "ASPI for Win32 (95) virtual device", "Veltrane", "",
                           "ASPI for Win32", true, true});
    }

    const Machine& m_;
    const Paths& paths_;
    Manifest manifest_;
    RegistryWriter reg_;
    std::set<std::string> used_; // listed file names that met a file, in capitals
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: qvxmachine MACHINE.ini | qvxmachine /remove\n");
        return 2;
    }
    Paths paths = FindPaths();
    std::string arg = argv[1];
    try {
        if (arg == "/remove" || arg == "--remove") {
            RemovePrevious(paths);
            printf("qvxmachine: removed the installed machine\n");
            return 0;
        }
        std::string file = qvx::emu::ToWindowsPath(arg);
        Machine machine = qvx::emu::LoadMachine(file);
        std::string text;
        {
            std::ifstream in(file, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        RemovePrevious(paths);
        Installer installer(machine, paths);
        try {
            installer.Run(text);
        } catch (...) {
            // Leave a list of what was laid so far, so the next run removes it.
            installer.WriteManifest();
            throw;
        }
        printf("qvxmachine: installed \"%s\"\n", machine.name.c_str());
        return 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "qvxmachine: %s\n", e.what());
        return 1;
    }
}
