#pragma once

#include <string>

// The benchmarks' output: one line per table row or footnote, tab-separated, which
// scripts/bench.sh gathers from every case into one table. Anything else a case prints is detail.
namespace report {

enum class Verdict { Pass, Fail, Info };

// One row: what was measured, the figure, what it is compared with, the ratio or target.
void Row(const std::string& what, const std::string& measured, const std::string& comparedWith,
         const std::string& ratioOrTarget, Verdict verdict);
void Note(const std::string& text);

inline Verdict PassIf(bool condition) {
    return condition ? Verdict::Pass : Verdict::Fail;
}

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace report
