#include "../Platform.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

bool ReadSecretLine(const char* prompt, QByteArray* line) {
    line->clear();
    termios shown{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &shown) == 0;
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        termios hidden = shown;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        hidden.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    bool ended = true;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1) {
        if (c == '\n') {
            ended = false;
            break;
        }
        line->append(c);
        ended = false;
    }
    if (terminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
    if (line->endsWith('\r'))
        line->chop(1);
    return !ended;
}
