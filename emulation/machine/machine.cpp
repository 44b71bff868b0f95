// Reads a machine description from its INI text. Strict: an unknown
// section or key, a repeated one, or a value out of range is an error that
// names the file and the line, so a typing mistake in a test machine never
// passes silently as a default.
#include "machine/machine.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace qvx::emu {
namespace {

[[noreturn]] void Fail(const std::string& file, int line, const std::string& message) {
    throw std::runtime_error(file + ":" + std::to_string(line) + ": " + message);
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// Parses all of `text` as an unsigned number in the given base; false on
// anything else (empty, signs, trailing characters, overflow).
bool ParseDigits(const std::string& text, int base, uint64_t& out) {
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (d >= base || v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
            return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    out = v;
    return true;
}

bool HasHexPrefix(const std::string& s) {
    return s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

// One key=value line with what is needed to report an error about it.
struct Entry {
    std::string key;
    std::string value;
    int line = 0;
};

class Reader {
  public:
    Reader(const std::string& file, const Entry& e) : file_(file), e_(e) {}

    [[noreturn]] void Bad(const std::string& what) const {
        Fail(file_, e_.line, "key '" + e_.key + "': " + what + " (got '" + e_.value + "')");
    }

    // Decimal or 0x-hex number within [lo, hi].
    uint64_t Number(uint64_t lo, uint64_t hi) const {
        uint64_t v = 0;
        bool ok = HasHexPrefix(e_.value) ? ParseDigits(e_.value.substr(2), 16, v)
                                         : ParseDigits(e_.value, 10, v);
        if (!ok)
            Bad("expected a decimal or 0x-hexadecimal number");
        if (v < lo || v > hi)
            Bad("out of range " + std::to_string(lo) + "-" + std::to_string(hi));
        return v;
    }

    // A byte written in hexadecimal, with or without 0x.
    static bool HexByte(const std::string& text, uint8_t& out) {
        std::string t = HasHexPrefix(text) ? text.substr(2) : text;
        uint64_t v = 0;
        if (t.size() > 2 || !ParseDigits(t, 16, v))
            return false;
        out = static_cast<uint8_t>(v);
        return true;
    }

    uint8_t Hex() const {
        uint8_t v = 0;
        if (!HexByte(e_.value, v))
            Bad("expected a hexadecimal byte");
        return v;
    }

    // One number or a range FIRST-LAST, each decimal or 0x-hexadecimal.
    std::pair<uint32_t, uint32_t> Range(const char* expected) const {
        auto parts = Split(e_.value, '-');
        uint64_t first = 0, last = 0;
        auto number = [](const std::string& t, uint64_t& v) {
            return HasHexPrefix(t) ? ParseDigits(t.substr(2), 16, v) : ParseDigits(t, 10, v);
        };
        bool ok = (parts.size() == 1 || parts.size() == 2) && number(Trim(parts[0]), first);
        last = first;
        if (ok && parts.size() == 2)
            ok = number(Trim(parts[1]), last);
        if (!ok || first > last || last > UINT32_MAX)
            Bad(expected);
        return {static_cast<uint32_t>(first), static_cast<uint32_t>(last)};
    }

    // "ASC/ASCQ" in hexadecimal.
    std::pair<uint8_t, uint8_t> HexPair() const {
        auto parts = Split(e_.value, '/');
        std::pair<uint8_t, uint8_t> v;
        if (parts.size() != 2 || !HexByte(Trim(parts[0]), v.first) ||
            !HexByte(Trim(parts[1]), v.second))
            Bad("expected ASC/ASCQ in hexadecimal, like 04/01");
        return v;
    }

    bool Bool() const {
        if (e_.value == "0")
            return false;
        if (e_.value == "1")
            return true;
        Bad("expected 0 or 1");
    }

    std::string Text(size_t maxLength) const {
        if (e_.value.size() > maxLength)
            Bad("longer than " + std::to_string(maxLength) + " characters");
        for (char c : e_.value)
            if (static_cast<unsigned char>(c) < 0x20)
                Bad("contains a control character");
        return e_.value;
    }

    // One of the listed words (case-insensitive); returns its index.
    size_t Choice(std::initializer_list<const char*> words) const {
        std::string v = Lower(e_.value);
        size_t i = 0;
        std::string list;
        for (const char* w : words) {
            if (v == w)
                return i;
            list += (i ? " | " : "") + std::string(w);
            ++i;
        }
        Bad("expected one of " + list);
    }

    // "HOST:PORT", the port a number 1-65535 or ${NAME} (an environment
    // variable read when a request is sent).
    std::string Portal() const {
        const std::string& v = e_.value;
        size_t colon = v.rfind(':');
        bool ok =
            colon != std::string::npos && colon > 0 && v.find_first_of(" \t") == std::string::npos;
        if (ok) {
            std::string port = v.substr(colon + 1);
            uint64_t n = 0;
            if (port.size() > 3 && port.compare(0, 2, "${") == 0 && port.back() == '}') {
                for (char c : port.substr(2, port.size() - 3))
                    ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
            } else {
                ok = ParseDigits(port, 10, n) && n >= 1 && n <= 65535;
            }
        }
        if (!ok)
            Bad("expected HOST:PORT, the port a number or ${NAME}, like 127.0.0.1:3260");
        return Text(255);
    }

    // An iSCSI target name, like iqn.2026-12.com.example:disks.
    std::string TargetName() const {
        if (e_.value.empty() || e_.value.find_first_of(" \t") != std::string::npos)
            Bad("expected an iSCSI target name without blanks");
        return Text(223);
    }

    const std::string& value() const {
        return e_.value;
    }

  private:
    const std::string& file_;
    const Entry& e_;
};

struct Section {
    enum Kind { MachineSection, AdapterSection, DeviceSection } kind = MachineSection;
    int line = 0;
    unsigned adapter = 0;
    unsigned target = 0;
    unsigned lun = 0;
    std::vector<Entry> entries;
};

// Parses the decimal parts of a section name like "device.0.3.1".
bool SectionNumbers(const std::vector<std::string>& parts, std::vector<unsigned>& out) {
    for (size_t i = 1; i < parts.size(); ++i) {
        uint64_t v = 0;
        if (!ParseDigits(parts[i], 10, v) || v > 255)
            return false;
        out.push_back(static_cast<unsigned>(v));
    }
    return true;
}

void ApplyMachine(const std::string& file, const Section& s, Machine& m) {
    for (const Entry& e : s.entries) {
        Reader r(file, e);
        if (e.key == "name") {
            m.name = r.Text(255);
        } else if (e.key == "family") {
            m.family = r.Choice({"nt40", "win95"}) == 0 ? Family::Nt40 : Family::Win95;
        } else if (e.key == "aspi") {
            static const AspiState states[] = {AspiState::Installed, AspiState::NotAvailable,
                                               AspiState::Absent};
            m.aspi = states[r.Choice({"installed", "not-available", "absent"})];
        } else if (e.key == "aspi_zero_adapters") {
            m.reportZeroAdapters = r.Bool();
        } else if (e.key == "screen") {
            auto parts = Split(Lower(e.value), 'x');
            uint64_t w = 0, h = 0;
            if (parts.size() != 2 || !ParseDigits(Trim(parts[0]), 10, w) ||
                !ParseDigits(Trim(parts[1]), 10, h) || w < 320 || h < 200 || w > 8192 || h > 8192)
                r.Bad("expected WIDTHxHEIGHT, like 800x600 (320x200 to 8192x8192)");
            m.screenWidth = static_cast<int>(w);
            m.screenHeight = static_cast<int>(h);
        } else if (e.key == "help_path") {
            m.helpPath = r.Text(259);
        } else if (e.key == "other_drives") {
            // LETTER:TYPE, comma-separated, like A:removable, Y:remote.
            static const char* const types[] = {"unknown", "no-root-dir", "removable", "fixed",
                                                "remote",  "cdrom",       "ramdisk"};
            for (const std::string& part : Split(r.Text(1023), ',')) {
                auto lt = Split(Trim(part), ':');
                std::string word = lt.size() == 2 ? Lower(Trim(lt[1])) : "";
                auto type = std::find(std::begin(types), std::end(types), word);
                if (lt.size() != 2 || Trim(lt[0]).size() != 1 ||
                    !std::isalpha(static_cast<unsigned char>(Trim(lt[0])[0])) ||
                    type == std::end(types))
                    r.Bad("expected LETTER:TYPE pairs separated by commas, TYPE one of unknown | "
                          "no-root-dir | removable | fixed | remote | cdrom | ramdisk");
                OtherDrive d;
                d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(lt[0][0])));
                d.driveType = static_cast<unsigned>(type - std::begin(types));
                m.otherDrives.push_back(d);
            }
        } else if (e.key == "absent_files" || e.key == "unversioned_files") {
            std::vector<std::string> names;
            for (const std::string& part : Split(r.Text(1023), ',')) {
                std::string name = Trim(part);
                if (name.empty() || name.find_first_of("\\/:") != std::string::npos)
                    r.Bad("expected file names without folders, separated by commas");
                names.push_back(name);
            }
            (e.key == "absent_files" ? m.absentFiles : m.unversionedFiles) = names;
        } else {
            Fail(file, e.line, "unknown key '" + e.key + "' in [machine]");
        }
    }
}

// The line of a key in a section, or 0 when the section does not give it.
int LineOf(const Section& s, const char* key) {
    for (const Entry& e : s.entries)
        if (e.key == key)
            return e.line;
    return 0;
}

// iscsi_portal and iscsi_target come together or not at all.
void SettleIscsi(const std::string& file, const Section& s, std::optional<IscsiTarget>& iscsi,
                 const std::string& portal, const std::string& name) {
    int portalLine = LineOf(s, "iscsi_portal"), nameLine = LineOf(s, "iscsi_target");
    if (!portalLine && !nameLine)
        return;
    if (!portalLine || !nameLine)
        Fail(file, portalLine ? portalLine : nameLine, "iscsi_portal and iscsi_target go together");
    iscsi = IscsiTarget{portal, name};
}

void ApplyAdapter(const std::string& file, const Section& s, AdapterConfig& a) {
    std::string portal, name;
    for (const Entry& e : s.entries) {
        Reader r(file, e);
        const std::string& k = e.key;
        if (k == "identifier")
            a.identifier = r.Text(16);
        else if (k == "manager")
            a.managerId = r.Text(16);
        else if (k == "host_id")
            a.hostId = static_cast<uint8_t>(r.Number(0, 31));
        else if (k == "max_targets")
            a.maxTargets = static_cast<uint8_t>(r.Number(0, 32));
        else if (k == "missing")
            a.missing = r.Choice({"no-device", "selection-timeout"}) == 0
                            ? MissingTarget::NoDevice
                            : MissingTarget::SelectionTimeout;
        else if (k == "missing_lun")
            a.missingLun = r.Choice({"not-supported", "no-device"}) == 0 ? MissingLun::NotSupported
                                                                         : MissingLun::NoDevice;
        else if (k == "short_transfer")
            a.shortTransfer = r.Choice({"residual", "underrun"}) == 0 ? ShortTransfer::Residual
                                                                      : ShortTransfer::Underrun;
        else if (k == "aspi_visible")
            a.aspiVisible = r.Bool();
        else if (k == "nt_port")
            a.ntPort = static_cast<int>(r.Number(0, 255));
        else if (k == "io_address")
            a.ioAddress = static_cast<uint32_t>(r.Number(0, UINT32_MAX));
        else if (k == "buses")
            a.buses = static_cast<int>(r.Number(1, 8));
        else if (k == "nt_open_error")
            a.ntOpenError = static_cast<uint32_t>(r.Number(1, 0xFFFF));
        else if (k == "nt_inquiry_error")
            a.ntInquiryError = static_cast<uint32_t>(r.Number(1, 0xFFFF));
        else if (k == "nt_driver")
            a.ntDriver = r.Text(255);
        else if (k == "mfg")
            a.mfg = r.Text(255);
        else if (k == "device_desc")
            a.deviceDesc = r.Text(255);
        else if (k == "service")
            a.service = r.Text(255);
        else if (k == "port_driver")
            a.portDriver = r.Text(255);
        else if (k == "driver_date")
            a.driverDate = r.Text(255);
        else if (k == "pci_class")
            a.pciClass = r.Text(255);
        else if (k == "pci_driver")
            a.pciDriver = r.Text(255);
        else if (k == "hw_revision")
            a.hwRevision = r.Text(255);
        else if (k == "driver_version") {
            // Four dot-separated numbers of 16 bits, as a version resource holds them.
            auto parts = Split(e.value, '.');
            uint64_t v = 0;
            bool ok = parts.size() == 4;
            for (const auto& p : parts)
                ok = ok && ParseDigits(p, 10, v) && v <= 65535;
            if (!ok)
                r.Bad("expected a version like 2.10.0.0");
            a.driverVersion = e.value;
        } else if (k == "iscsi_portal")
            portal = r.Portal();
        else if (k == "iscsi_target")
            name = r.TargetName();
        else
            Fail(file, e.line, "unknown key '" + k + "' in [adapter.N]");
    }
    SettleIscsi(file, s, a.iscsi, portal, name);
}

// Hexadecimal operation codes separated by commas, like 12,1A.
std::vector<uint8_t> Opcodes(const Reader& r) {
    std::vector<uint8_t> codes;
    for (const std::string& p : Split(r.value(), ',')) {
        uint8_t op = 0;
        if (!Reader::HexByte(Trim(p), op))
            r.Bad("expected hexadecimal operation codes separated by commas, like 12,1A");
        codes.push_back(op);
    }
    return codes;
}

uint8_t DeviceType(const Reader& r) {
    static const std::pair<const char*, uint8_t> names[] = {
        {"disk", 0x00},    {"tape", 0x01},  {"printer", 0x02}, {"processor", 0x03},
        {"worm", 0x04},    {"cdrom", 0x05}, {"scanner", 0x06}, {"optical", 0x07},
        {"changer", 0x08}, {"comm", 0x09},  {"unknown", 0x1F}};
    std::string v = Lower(r.value());
    for (const auto& n : names)
        if (v == n.first)
            return n.second;
    uint64_t number = 0;
    bool ok = HasHexPrefix(v) ? ParseDigits(v.substr(2), 16, number) : ParseDigits(v, 10, number);
    if (!ok || number > 0x1F)
        r.Bad("expected disk|tape|printer|processor|worm|cdrom|scanner|optical|changer|comm|"
              "unknown or a number 0x00-0x1F");
    return static_cast<uint8_t>(number);
}

// Settings that depend on each other, checked once the whole section is read.
void SettleDevice(const std::string& file, const Section& s, DeviceConfig& d) {
    if (d.iscsi) {
        // The target answers for itself: only what names the unit to the
        // system (its type and identity for the device map and the class
        // drivers) may be given beside its address.
        static const char* const kept[] = {"type",         "vendor",       "product",
                                           "revision",     "drive_letter", "class_device",
                                           "iscsi_portal", "iscsi_target", "iscsi_lun"};
        for (const Entry& e : s.entries)
            if (std::find(std::begin(kept), std::end(kept), e.key) == std::end(kept))
                Fail(file, e.line,
                     "key '" + e.key +
                         "': an iSCSI unit answers for itself (only type, vendor, "
                         "product, revision, drive_letter and class_device go with it)");
        return;
    }
    if (int line = LineOf(s, "iscsi_lun"))
        Fail(file, line, "key 'iscsi_lun': needs iscsi_portal and iscsi_target");
    // The caching and rigid disk geometry pages belong to direct-access
    // devices; other types have them only when the file says so.
    const bool directAccess = d.peripheralType == 0x00;
    if (!LineOf(s, "caching_page"))
        d.hasCachingPage = directAccess;
    if (!LineOf(s, "geometry_page"))
        d.hasGeometryPage = directAccess;
    // A page's fields need the page: otherwise they would change nothing.
    const struct {
        const char* key;
        bool pagePresent;
        const char* page;
    } fields[] = {{"rcd", d.hasCachingPage, "caching_page"},
                  {"wce", d.hasCachingPage, "caching_page"},
                  {"rpm", d.hasGeometryPage, "geometry_page"}};
    for (const auto& field : fields)
        if (int line = LineOf(s, field.key); line && !field.pagePresent)
            Fail(file, line,
                 std::string("key '") + field.key + "': the device has no such page (set " +
                     field.page + "=1)");
    std::string serial = d.faults.serialLeadingBlank ? " " + d.serial : d.serial;
    if (int line = LineOf(s, "serial_justify"); line && !d.serialWidth)
        Fail(file, line, "key 'serial_justify': needs serial_width");
    if (d.serialWidth && serial.size() > d.serialWidth)
        Fail(file, LineOf(s, "serial_width"),
             "key 'serial_width': the serial number is longer (" + std::to_string(serial.size()) +
                 " characters)");
}

void ApplyDevice(const std::string& file, const Section& s, DeviceConfig& d) {
    d.target = static_cast<uint8_t>(s.target);
    d.lun = static_cast<uint8_t>(s.lun);
    bool hardware = false, protect = false;
    std::string portal, name;
    for (const Entry& e : s.entries) {
        Reader r(file, e);
        const std::string& k = e.key;
        Faults& f = d.faults;
        if (k == "type")
            d.peripheralType = DeviceType(r);
        else if (k == "qualifier")
            d.peripheralQualifier = static_cast<uint8_t>(r.Number(0, 7));
        else if (k == "removable")
            d.removable = r.Bool();
        else if (k == "ansi")
            d.ansiVersion = static_cast<uint8_t>(r.Number(0, 7));
        else if (k == "sync")
            d.sync = r.Bool();
        else if (k == "wide16")
            d.wide16 = r.Bool();
        else if (k == "wide32")
            d.wide32 = r.Bool();
        else if (k == "vendor")
            d.vendor = r.Text(8);
        else if (k == "product")
            d.product = r.Text(16);
        else if (k == "revision")
            d.revision = r.Text(4);
        else if (k == "serial")
            d.serial = r.Text(255);
        else if (k == "serial_width")
            d.serialWidth = static_cast<uint8_t>(r.Number(1, 255));
        else if (k == "serial_justify")
            d.serialJustify =
                r.Choice({"left", "right"}) == 0 ? SerialJustify::Left : SerialJustify::Right;
        else if (k == "inquiry_length")
            d.inquiryLength = static_cast<uint8_t>(r.Number(5, 255));
        else if (k == "blocks")
            d.blocks = static_cast<uint32_t>(r.Number(0, UINT32_MAX));
        else if (k == "block_size")
            d.blockSize = static_cast<uint32_t>(r.Number(1, 0xFFFFFF));
        else if (k == "caching_page")
            d.hasCachingPage = r.Bool();
        else if (k == "rcd")
            d.readCacheDisabled = r.Bool();
        else if (k == "wce")
            d.writeCacheEnabled = r.Bool();
        else if (k == "geometry_page")
            d.hasGeometryPage = r.Bool();
        else if (k == "rpm")
            d.rotationRate = static_cast<uint16_t>(r.Number(0, 65535));
        else if (k == "buffer")
            d.bufferBytes = static_cast<uint32_t>(r.Number(0, 0xFFFFFF));
        else if (k == "latency_us")
            d.latencyUs = static_cast<uint32_t>(r.Number(0, 60000000));
        else if (k == "bandwidth_kbs")
            d.bandwidthKBs = static_cast<uint32_t>(r.Number(0, 10000000));
        else if (k == "drive_letter") {
            // One letter, or several separated by commas (partitions).
            d.driveLetters.clear();
            for (const std::string& part : Split(e.value, ',')) {
                std::string v = Trim(part);
                if (v.size() != 1 || !std::isalpha(static_cast<unsigned char>(v[0])))
                    r.Bad("expected drive letters A-Z separated by commas");
                d.driveLetters += static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
            }
        } else if (k == "class_device")
            d.classDevice = r.Text(63);
        else if (k == "bus")
            d.bus = static_cast<uint8_t>(r.Number(0, 7));
        else if (k == "claimed")
            d.claimed = r.Bool();
        else if (k == "nt_open_error")
            f.ntOpenError = static_cast<uint32_t>(r.Number(1, 0xFFFF));
        else if (k == "nt_rejects_pass_through")
            f.ntRejectsPassThrough = r.Bool();
        else if (k == "not_ready") {
            auto v = r.HexPair();
            f.notReadyAsc = v.first;
            f.notReadyAscq = v.second;
        } else if (k == "ready_after_tur")
            f.readyAfterTur = static_cast<unsigned>(r.Number(0, 1000000));
        else if (k == "unit_attention")
            f.unitAttentionAsc = r.Hex();
        else if (k == "hardware_error" || k == "data_protect") {
            if ((k == "hardware_error" ? protect : hardware))
                Fail(file, e.line, "hardware_error and data_protect exclude each other");
            auto v = r.HexPair();
            (k == "hardware_error" ? hardware : protect) = true;
            f.hardwareError = hardware;
            f.dataProtect = protect;
            f.errorAsc = v.first;
            f.errorAscq = v.second;
        } else if (k == "buffer_mismatch_at")
            f.bufferMismatchAt = static_cast<uint32_t>(r.Number(0, 0xFFFFFF));
        else if (k == "descriptor_ff")
            f.descriptorCapacityFF = r.Bool();
        else if (k == "serial_unsupported")
            f.serialUnsupported = r.Bool();
        else if (k == "serial_leading_blank")
            f.serialLeadingBlank = r.Bool();
        else if (k == "hang")
            f.hangOpcodes = Opcodes(r);
        else if (k == "busy")
            f.busyOpcodes = Opcodes(r);
        else if (k == "reservation_conflict")
            f.reservationConflict = r.Bool();
        else if (k == "abort_accepted")
            f.abortAccepted = r.Bool();
        else if (k == "underrun")
            f.underrunStatus = r.Bool();
        else if (k == "unit_attention_turs") {
            auto range = r.Range("expected a command number or a range FIRST-LAST");
            f.unitAttentionTurFirst = range.first;
            f.unitAttentionTurLast = range.second;
        } else if (k == "read_errors") {
            auto range = r.Range("expected a block address or a range FIRST-LAST");
            f.readErrorFirst = range.first;
            f.readErrorLast = range.second;
        } else if (k == "sense_valid")
            f.senseValidBit = r.Bool();
        else if (k == "nt_zero_bytes")
            f.ntZeroBytes = r.Bool();
        else if (k == "nt_zero_bytes_ops")
            f.ntZeroBytesOpcodes = Opcodes(r);
        else if (k == "capacity_block_length")
            f.capacityBlockLength = static_cast<uint32_t>(r.Number(0, UINT32_MAX));
        else if (k == "iscsi_portal")
            portal = r.Portal();
        else if (k == "iscsi_target")
            name = r.TargetName();
        else if (k == "iscsi_lun")
            d.iscsiLun = static_cast<uint32_t>(r.Number(0, 16383));
        else
            Fail(file, e.line, "unknown key '" + k + "' in [device.A.T]");
    }
    SettleIscsi(file, s, d.iscsi, portal, name);
    SettleDevice(file, s, d);
}

} // namespace

Machine ParseMachine(const std::string& text, const std::string& nameForErrors) {
    const std::string& file = nameForErrors;
    std::vector<Section> sections;
    std::set<std::string> seenSections;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (lineNo == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
            raw.erase(0, 3);
        std::string line = Trim(raw.substr(0, raw.find(';')));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                Fail(file, lineNo, "section header without ']'");
            std::string name = Lower(Trim(line.substr(1, line.size() - 2)));
            // Devices on different buses of one adapter share a section name;
            // their addresses (with `bus`) are checked once all are read.
            if (name.rfind("device.", 0) != 0 && !seenSections.insert(name).second)
                Fail(file, lineNo, "section [" + name + "] appears twice");
            Section s;
            s.line = lineNo;
            auto parts = Split(name, '.');
            std::vector<unsigned> n;
            if (name == "machine") {
                s.kind = Section::MachineSection;
            } else if (parts[0] == "adapter" && parts.size() == 2 && SectionNumbers(parts, n) &&
                       n[0] <= 63) {
                s.kind = Section::AdapterSection;
                s.adapter = n[0];
            } else if (parts[0] == "device" && (parts.size() == 3 || parts.size() == 4) &&
                       SectionNumbers(parts, n)) {
                s.kind = Section::DeviceSection;
                s.adapter = n[0];
                s.target = n[1];
                s.lun = n.size() == 3 ? n[2] : 0;
                if (s.target > 31 || s.lun > 7)
                    Fail(file, lineNo, "device target must be 0-31 and lun 0-7 in [" + name + "]");
            } else {
                Fail(file, lineNo,
                     "unknown section [" + name +
                         "] (expected [machine], [adapter.N], [device.A.T] or [device.A.T.L])");
            }
            sections.push_back(std::move(s));
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            Fail(file, lineNo, "expected key=value or [section]");
        if (sections.empty())
            Fail(file, lineNo, "key outside of any section");
        Entry e{Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1)), lineNo};
        if (e.key.empty())
            Fail(file, lineNo, "empty key");
        for (const Entry& other : sections.back().entries)
            if (other.key == e.key)
                Fail(file, lineNo,
                     "key '" + e.key + "' repeated (first on line " + std::to_string(other.line) +
                         ")");
        sections.back().entries.push_back(std::move(e));
    }

    Machine machine;
    std::map<unsigned, AdapterConfig> adapters;
    std::set<char> lettersUsed;
    for (const Section& s : sections) {
        if (s.kind == Section::MachineSection) {
            ApplyMachine(file, s, machine);
            for (const OtherDrive& d : machine.otherDrives)
                if (!lettersUsed.insert(d.letter).second)
                    Fail(file, LineOf(s, "other_drives"),
                         std::string("drive letter ") + d.letter + " is given twice");
        } else if (s.kind == Section::AdapterSection) {
            ApplyAdapter(file, s, adapters[s.adapter]);
        }
    }
    for (const Section& s : sections) {
        if (s.kind != Section::DeviceSection)
            continue;
        auto it = adapters.find(s.adapter);
        if (it == adapters.end())
            Fail(file, s.line,
                 "device on adapter " + std::to_string(s.adapter) + ", which has no [adapter." +
                     std::to_string(s.adapter) + "] section");
        if (it->second.iscsi)
            Fail(file, s.line,
                 "device on adapter " + std::to_string(s.adapter) +
                     ", whose units are those of its iSCSI target");
        DeviceConfig d;
        ApplyDevice(file, s, d);
        if (d.bus >= it->second.buses)
            Fail(file, LineOf(s, "bus"),
                 "key 'bus': adapter " + std::to_string(s.adapter) + " has " +
                     std::to_string(it->second.buses) + " bus(es)");
        for (const DeviceConfig& other : it->second.devices)
            if (other.bus == d.bus && other.target == s.target && other.lun == s.lun)
                Fail(file, s.line,
                     "a device at adapter " + std::to_string(s.adapter) + ", bus " +
                         std::to_string(d.bus) + ", target " + std::to_string(s.target) + ", lun " +
                         std::to_string(s.lun) + " is already described");
        for (char letter : d.driveLetters)
            if (!lettersUsed.insert(letter).second)
                Fail(file, LineOf(s, "drive_letter"),
                     std::string("drive letter ") + letter + " is given twice");
        it->second.devices.push_back(std::move(d));
    }
    for (auto& [number, adapter] : adapters) {
        (void)number;
        std::sort(adapter.devices.begin(), adapter.devices.end(),
                  [](const DeviceConfig& a, const DeviceConfig& b) {
                      if (a.bus != b.bus)
                          return a.bus < b.bus;
                      return a.target != b.target ? a.target < b.target : a.lun < b.lun;
                  });
        machine.adapters.push_back(std::move(adapter));
    }
    return machine;
}

Machine LoadMachine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot open the machine file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw std::runtime_error(path + ": cannot read the machine file");
    return ParseMachine(text.str(), path);
}

} // namespace qvx::emu
