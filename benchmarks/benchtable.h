// What the benchmark executables share: a clock, the median of a few rounds,
// and the one line per figure that scripts/bench gathers into its table.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qvx::bench {

inline double Seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return double(f.QuadPart);
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / frequency;
}

inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// How a figure is judged against its aim: a ratio that should reach `aim`,
// a time that should stay under `aim`, or a deviation whose size should
// stay within `aim`.
enum class Aim { AtLeast, AtMost, Within };

// One figure for scripts/bench: a tab-separated line starting "FIGURE".
//   FIGURE  id  label  value  unit  aim-kind  aim  detail
inline void PrintFigure(const std::string& id, const std::string& label, double value,
                        const std::string& unit, Aim kind, double aim, const std::string& detail) {
    const char* kinds[] = {"at-least", "at-most", "within"};
    std::printf("FIGURE\t%s\t%s\t%.4f\t%s\t%s\t%.4f\t%s\n", id.c_str(), label.c_str(), value,
                unit.c_str(), kinds[static_cast<int>(kind)], aim, detail.c_str());
    std::fflush(stdout);
}

} // namespace qvx::bench
