#include "scenario.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <utility>

namespace e2e {
namespace {

// Statement name -> smallest and largest argument count.
const std::map<std::string, std::pair<size_t, size_t>>& Arities() {
    static const std::map<std::string, std::pair<size_t, size_t>> arities = {
        {"machine", {1, 1}},        {"language", {1, 1}},
        {"screen", {2, 2}},         {"start", {0, 0}},
        {"wait-exit", {0, 0}},      {"close", {0, 0}},
        {"expect-message", {2, 2}}, {"no-message", {0, 0}},
        {"answer", {1, 1}},         {"tree", {0, 0}},
        {"select", {1, 1}},         {"select-adapter", {1, 1}},
        {"list", {0, 0}},           {"row", {1, 1}},
        {"open-row", {1, 1}},       {"status", {0, 0}},
        {"title", {0, 0}},          {"window", {0, 0}},
        {"focus", {0, 0}},          {"minimize", {0, 0}},
        {"menu", {1, 1}},           {"key", {1, 1}},
        {"sort", {1, 1}},           {"context", {1, 1}},
        {"dialog", {1, 1}},         {"dump", {0, 0}},
        {"click", {1, 1}},          {"type", {2, 2}},
        {"page", {1, 1}},           {"wait-text", {3, 3}},
        {"save-as", {1, 1}},        {"open", {1, 1}},
        {"file", {1, 1}},           {"screenshot", {1, 2}},
        {"wait-main", {0, 0}},      {"text", {1, 16}},
        {"columns", {0, 0}},        {"geometry", {0, 0}},
        {"toolbar", {0, 0}},        {"checks", {0, 0}},
        {"rows", {0, 0}},           {"setup", {1, 1}},
        {"installed", {0, 0}},      {"start-installed", {0, 0}},
        {"uninstall", {0, 0}},      {"help-window", {0, 0}},
        {"close-help", {0, 0}},
    };
    return arities;
}

std::vector<std::string> SplitWords(const std::string& text, int line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            std::string word;
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char d = text[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\' && i < text.size() && (text[i] == '"' || text[i] == '\\')) {
                    word += text[i++];
                } else {
                    word += d;
                }
            }
            if (!closed)
                throw ScenarioError(line, "unterminated text");
            words.push_back(word);
        } else {
            size_t end = text.find_first_of(" \t\r", i);
            if (end == std::string::npos)
                end = text.size();
            words.push_back(text.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

} // namespace

std::vector<Statement> ParseScenario(const std::string& text) {
    std::vector<Statement> statements;
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        std::vector<std::string> words = SplitWords(raw, line);
        if (words.empty())
            continue;
        Statement s;
        s.line = line;
        s.name = words[0];
        s.args.assign(words.begin() + 1, words.end());
        auto arity = Arities().find(s.name);
        if (arity == Arities().end())
            throw ScenarioError(line, "unknown statement '" + s.name + "'");
        if (s.args.size() < arity->second.first || s.args.size() > arity->second.second)
            throw ScenarioError(line, "wrong number of arguments for '" + s.name + "'");
        if (s.name == "machine" && !statements.empty())
            throw ScenarioError(line, "'machine' must come first");
        statements.push_back(std::move(s));
    }
    return statements;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

} // namespace e2e
