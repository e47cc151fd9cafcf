#include "Report.h"

#include <cstdarg>
#include <cstdio>

namespace report {

namespace {

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::Info:
        break;
    }
    return "-";
}

} // namespace

void Row(const std::string& what, const std::string& measured, const std::string& comparedWith,
         const std::string& ratioOrTarget, Verdict verdict) {
    std::printf("ROW\t%s\t%s\t%s\t%s\t%s\n", what.c_str(), measured.c_str(), comparedWith.c_str(),
                ratioOrTarget.c_str(), VerdictText(verdict));
    std::fflush(stdout);
}

void Note(const std::string& text) {
    std::printf("NOTE\t%s\n", text.c_str());
    std::fflush(stdout);
}

std::string Format(const char* format, ...) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

} // namespace report
