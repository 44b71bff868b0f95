// The examples in the machine file documentation are real machine files:
// every ```ini block of docs/emulated-machine.md must parse.
#include <gtest/gtest.h>

#include "machine/machine.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>

using namespace qvx::emu;

namespace {

TEST(MachineDocs, EveryExampleParses) {
    std::ifstream in(QVX_MACHINE_DOC, std::ios::binary);
    ASSERT_TRUE(in) << "cannot open " << QVX_MACHINE_DOC;
    std::string doc{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    doc.erase(std::remove(doc.begin(), doc.end(), '\r'), doc.end());
    std::vector<std::string> blocks;
    std::regex block("(^|\n)```ini\n([^`]*)```");
    for (std::sregex_iterator it(doc.begin(), doc.end(), block), end; it != end; ++it)
        blocks.push_back((*it)[2]);
    ASSERT_GE(blocks.size(), 2u);
    for (size_t i = 0; i < blocks.size(); ++i)
        EXPECT_NO_THROW(ParseMachine(blocks[i], "example " + std::to_string(i + 1))) << i + 1;
}

} // namespace
