// The examples in the machine file documentation are real machine files:
// every ```ini block of docs/emulated-machine.md must parse.
#include <gtest/gtest.h>

#include "machine/machine.h"

#include <fstream>
#include <sstream>

using namespace qvx::emu;

namespace {

std::vector<std::string> IniBlocks(const std::string& markdown) {
    std::vector<std::string> blocks;
    std::istringstream in(markdown);
    std::string line, block;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!inside && line == "```ini") {
            inside = true;
            block.clear();
        } else if (inside && line == "```") {
            inside = false;
            blocks.push_back(block);
        } else if (inside) {
            block += line + "\n";
        }
    }
    return blocks;
}

TEST(MachineDocs, EveryExampleParses) {
    std::ifstream in(QVX_MACHINE_DOC, std::ios::binary);
    ASSERT_TRUE(in) << "cannot open " << QVX_MACHINE_DOC;
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> blocks = IniBlocks(text.str());
    ASSERT_GE(blocks.size(), 2u);
    for (size_t i = 0; i < blocks.size(); ++i) {
        std::string name = "example " + std::to_string(i + 1);
        EXPECT_NO_THROW(ParseMachine(blocks[i], name)) << name;
    }

    // The first example is the workstation the text describes.
    Machine m = ParseMachine(blocks[0], "example 1");
    EXPECT_EQ(m.name, "Default NT 4.0 workstation");
    ASSERT_EQ(m.adapters.size(), 2u);
    EXPECT_EQ(m.adapters[0].identifier, "KESTRAIL");
    EXPECT_EQ(m.adapters[0].devices.size(), 4u);
    EXPECT_FALSE(m.adapters[1].aspiVisible);
    EXPECT_EQ(*m.adapters[0].devices[1].faults.notReadyAsc, 0x3A); // the tape, comment and all
}

} // namespace
