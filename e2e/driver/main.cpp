// e2e driver: runs a scenario against the program as a user would and
// prints a transcript, one line per observation.
//   driver [--program EXE] [--nt-program EXE] [--installer EXE] [--main-class NAME]
//          [--out DIR] SCENARIO
// The program is quorvex.exe beside the driver, or on a machine of the NT
// family without ASPI the build over the NT port stand-in, ntemu\quorvex.exe
// beside it; --program names one for every machine, --nt-program the other.
// Exit code 0 when every statement was met, 1 at the first unmet one (after
// printing what was seen), 2 for a malformed scenario or command line.
#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <io.h>
#include <iostream>
#include <iterator>

#include "scenario.h"
#include "session.h"

namespace {

std::string OwnFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p = path;
    return p.substr(0, p.find_last_of("\\/"));
}

int Usage() {
    std::cerr << "usage: driver [--program EXE] [--nt-program EXE] [--installer EXE] "
                 "[--main-class NAME] [--out DIR] SCENARIO\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // The transcript is compared byte for byte: plain \n line ends.
    _setmode(_fileno(stdout), _O_BINARY);
    e2e::SessionOptions options;
    options.program = OwnFolder() + "\\quorvex.exe";
    options.ntProgram = OwnFolder() + "\\ntemu\\quorvex.exe";
    options.installer = OwnFolder() + "\\qvxmachine.exe";
    std::string scenarioPath;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--program" && hasValue) {
            options.program = argv[++i];
            options.ntProgram.clear();
        } else if (arg == "--nt-program" && hasValue)
            options.ntProgram = argv[++i];
        else if (arg == "--installer" && hasValue)
            options.installer = argv[++i];
        else if (arg == "--main-class" && hasValue)
            options.mainClass = argv[++i];
        else if (arg == "--out" && hasValue)
            options.outDir = argv[++i];
        else if (scenarioPath.empty() && arg.rfind("--", 0) != 0)
            scenarioPath = arg;
        else
            return Usage();
    }
    if (scenarioPath.empty())
        return Usage();
    std::ifstream in(scenarioPath, std::ios::binary);
    if (!in) {
        std::cerr << "cannot read " << scenarioPath << "\n";
        return 2;
    }
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::vector<e2e::Statement> statements;
    try {
        statements = e2e::ParseScenario(text);
    } catch (const e2e::ScenarioError& e) {
        std::cerr << scenarioPath << ": " << e.what() << "\n";
        return 2;
    }
    e2e::Session session(options, std::cout);
    try {
        session.Run(statements);
    } catch (const e2e::Unmet& e) {
        std::cout << "UNMET " << e.what() << "\n";
        std::cout.flush();
        return 1;
    }
    return 0;
}
