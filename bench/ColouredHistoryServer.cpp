// A server for the coloured-console benchmark: 2,000 lines of history, each with a few colours
// (16-colour bold tag, 256-colour, 24-bit, underline), then one such line a second until it is
// stopped. With CORVANE_BENCH_PLAIN set it prints the same text without colours.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void Line(bool plain, long n) {
    const auto c = [plain](const char* code) { return plain ? "" : code; };
    std::printf("%s[Status]%s %sline %06ld%s of the history, %sserver tick%s and %sunderlined "
                "words%s, then plain text to the end\n",
                c("\033[1;32m"), c("\033[0m"), c("\033[38;5;208m"), n, c("\033[0m"),
                c("\033[38;2;10;120;230m"), c("\033[0m"), c("\033[4m"), c("\033[0m"));
    std::fflush(stdout);
}

} // namespace

int main() {
    const bool plain = std::getenv("CORVANE_BENCH_PLAIN") != nullptr;
    long n = 0;
    while (n < 2000)
        Line(plain, ++n);
    for (;;) {
        sleep(1);
        Line(plain, ++n);
    }
}
