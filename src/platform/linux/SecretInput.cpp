#include "../Platform.h"

#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

termios g_shown{};

// Shows the typing again before an interrupt ends the program.
void RestoreAndEnd(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_shown);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

bool ReadSecretLine(const char* prompt, QByteArray* line, bool* typed) {
    line->clear();
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &g_shown) == 0;
    if (typed)
        *typed = terminal;
    using Handler = void (*)(int);
    Handler before[3] = {};
    constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    if (terminal) {
        for (int i = 0; i < 3; ++i)
            before[i] = std::signal(kSignals[i], RestoreAndEnd);
        termios hidden = g_shown;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        hidden.c_lflag |= ECHONL;
        // Hidden before the prompt shows: what is typed at once after it is not shown either.
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
        std::fputs(prompt, stderr);
        std::fflush(stderr);
    }
    bool ended = true;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1) {
        ended = false;
        if (c == '\n')
            break;
        line->append(c);
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_shown);
        for (int i = 0; i < 3; ++i)
            std::signal(kSignals[i], before[i]);
    }
    if (line->endsWith('\r'))
        line->chop(1);
    return !ended;
}
