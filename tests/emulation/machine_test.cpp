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
        {"[adapter.0]\n[device.0.0]\ntype=tape\nwce=1\n", "4: key 'wce': the device has no"}};
    for (const auto& b : bad)
        EXPECT_THAT(ErrorOf([&] { ParseMachine(b[0], "bad.ini"); }),
                    testing::StartsWith(std::string("bad.ini:") + b[1]));
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
