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
