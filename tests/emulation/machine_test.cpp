// The machine file reader: a mistake is reported with the file and the line,
// and every example in the machine file documentation is a real machine file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "machine/machine.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

using namespace qvx::emu;

namespace {

// The message of the runtime_error `f` throws.
template <typename F> std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<accepted>";
}

TEST(MachineFile, ErrorsNameFileAndLine) {
    const char* const bad[][2] = {
        {"[machine]\n\n[screen]\n", "3: unknown section [screen]"},
        {"[machine]\ncolour=blue\n", "2: unknown key 'colour' in [machine]"},
        {"[machine]\nname=a\nname=b\n", "3: key 'name' repeated (first on line 2)"},
        {"[adapter.0]\nhost_id=32\n", "2: key 'host_id': out of range 0-31"},
        {"[adapter.0]\n[device.0.0]\nnot_ready=04\n", "3: key 'not_ready': expected ASC/ASCQ"},
        {"[adapter.0]\n[device.0.0]\ntype=tape\nwce=1\n", "4: key 'wce': the device has no"},
        {"[adapter.0]\n[device.0.1]\nbus=1\n", "3: key 'bus': adapter 0 has 1 bus"},
        {"[adapter.0]\nbuses=2\n[device.0.1]\nbus=1\n[device.0.1]\nbus=1\n",
         "5: a device at adapter 0, bus 1, target 1, lun 0 is already described"},
        {"[adapter.0]\n[device.0.1]\ndrive_letter=C,d\n[device.0.2]\ndrive_letter=D\n",
         "5: drive letter D is given twice"},
        {"[machine]\nother_drives=A:floppy\n", "2: key 'other_drives': expected LETTER:TYPE"}};
    for (const auto& b : bad)
        EXPECT_THAT(ErrorOf([&] { ParseMachine(b[0], "bad.ini"); }),
                    testing::StartsWith(std::string("bad.ini:") + b[1]));
    // Devices on two buses of one adapter may share a section name.
    EXPECT_EQ(2u,
              ParseMachine("[adapter.0]\nbuses=2\n[device.0.1]\n[device.0.1]\nbus=1\n", "ok.ini")
                  .adapters[0]
                  .devices.size());
    EXPECT_THAT(ErrorOf([] { LoadMachine("C:\\no\\such.ini"); }),
                testing::StartsWith("C:\\no\\such.ini: cannot open"));
}

TEST(MachineFile, IscsiUnitsAreNamedByPortalTargetAndUnit) {
    const char kAt[] = "iscsi_portal=127.0.0.1:3260\niscsi_target=iqn.2026-12.com.example:a\n";
    // Accepted: where each way of naming a unit leads.
    Machine m = ParseMachine(std::string("[adapter.0]\n") + kAt +
                                 "[adapter.1]\n[device.1.2]\ntype=cdrom\nvendor=IET\n"
                                 "iscsi_portal=localhost:${QVX_TGT_PORT}\n"
                                 "iscsi_target=iqn.2026-12.com.example:b\niscsi_lun=16383\n",
                             "ok.ini");
    ASSERT_EQ(m.adapters.size(), 2u);
    ASSERT_TRUE(m.adapters[0].iscsi && !m.adapters[1].iscsi);
    EXPECT_EQ(m.adapters[0].iscsi->portal + " " + m.adapters[0].iscsi->name,
              "127.0.0.1:3260 iqn.2026-12.com.example:a");
    const DeviceConfig& d = m.adapters[1].devices.at(0);
    ASSERT_TRUE(d.iscsi);
    EXPECT_EQ(d.iscsi->portal + " " + d.iscsi->name + " " + std::to_string(d.iscsiLun) + " " +
                  std::to_string(d.peripheralType),
              "localhost:${QVX_TGT_PORT} iqn.2026-12.com.example:b 16383 5");
    const char* const bad[][2] = {
        {"[adapter.0]\niscsi_portal=127.0.0.1:3260\n", "2: iscsi_portal and iscsi_target go"},
        {"[adapter.0]\niscsi_target=iqn.x\n", "2: iscsi_portal and iscsi_target go"},
        {"[adapter.0]\niscsi_portal=127.0.0.1\n", "2: key 'iscsi_portal': expected HOST:PORT"},
        {"[adapter.0]\niscsi_portal=:3260\n", "2: key 'iscsi_portal': expected HOST:PORT"},
        {"[adapter.0]\niscsi_portal=h:65536\n", "2: key 'iscsi_portal': expected HOST:PORT"},
        {"[adapter.0]\niscsi_portal=h:${A-B}\n", "2: key 'iscsi_portal': expected HOST:PORT"},
        {"[adapter.0]\niscsi_portal=h:${}\n", "2: key 'iscsi_portal': expected HOST:PORT"},
        {"[adapter.0]\niscsi_target=iqn.a b\n", "2: key 'iscsi_target': expected an iSCSI"},
        {"[adapter.0]\niscsi_portal=h:1\niscsi_target=t\n[device.0.1]\n",
         "4: device on adapter 0, whose units are those of its iSCSI target"},
        {"[adapter.0]\n[device.0.1]\niscsi_portal=h:1\niscsi_target=t\nblocks=9\n",
         "5: key 'blocks': an iSCSI unit answers for itself"},
        {"[adapter.0]\n[device.0.1]\niscsi_lun=1\n",
         "3: key 'iscsi_lun': needs iscsi_portal and iscsi_target"},
        {"[adapter.0]\n[device.0.1]\niscsi_lun=16384\n", "3: key 'iscsi_lun': out of range"}};
    for (const auto& b : bad)
        EXPECT_THAT(ErrorOf([&] { ParseMachine(b[0], "bad.ini"); }),
                    testing::StartsWith(std::string("bad.ini:") + b[1]));
}

TEST(MachineFile, EveryDocumentedExampleParses) {
    std::ifstream in(QVX_MACHINE_DOC, std::ios::binary);
    ASSERT_TRUE(in) << "cannot open " << QVX_MACHINE_DOC;
    std::string doc{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    doc.erase(std::remove(doc.begin(), doc.end(), '\r'), doc.end());
    std::regex block("(^|\n)```ini\n([^`]*)```");
    int n = 0;
    for (std::sregex_iterator it(doc.begin(), doc.end(), block), end; it != end; ++it, ++n)
        EXPECT_NO_THROW(ParseMachine((*it)[2], "example " + std::to_string(n + 1))) << n + 1;
    EXPECT_GE(n, 2);
}

} // namespace
