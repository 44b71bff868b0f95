// A scenario: one statement a line, `#` starts a comment, texts in double
// quotes; inside them \" is a quote and \\ a backslash, any other
// backslash stays as it is (Windows paths need no doubling).
// `let NAME "text"` names a text for later arguments `$NAME`; `include
// "FILE"` reads the statements of another file, in the scenario's folder,
// in its place (scenarios that differ only in their texts share one body).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace e2e {

struct Statement {
    int line = 0;
    std::string name;
    std::vector<std::string> args;
};

class ScenarioError : public std::runtime_error {
  public:
    ScenarioError(int line, const std::string& what)
        : std::runtime_error("line " + std::to_string(line) + ": " + what) {}
};

// Reads an included file by name; throws ScenarioError when it cannot.
using FileReader = std::function<std::string(const std::string&)>;

// Splits a scenario text into statements; throws ScenarioError on an
// unterminated text, an unknown statement or name, or a wrong argument count.
std::vector<Statement> ParseScenario(const std::string& text, const FileReader& read);

// The text with control characters and quotes written as escapes, so that
// one observation stays on one transcript line.
std::string Quote(const std::string& text);

} // namespace e2e
