// What a console prints, made into the lines of its log file: terminal control sequences (colours,
// cursor moves, window titles) and other control bytes go, terminal line ends ("\r\n") become
// "\n", a return that overwrites the line starts a new one, and each line starts with the local
// time its first character arrived.
//
// The input comes in pieces that may end anywhere, inside a sequence too: what a piece leaves
// unfinished is carried into the next.
#pragma once

#include <ctime>
#include <string>

class LogLines {
public:
    // Appends to `out` what the piece adds to the file; `now` stamps the lines the piece begins.
    void add(const char* in, std::size_t size, std::time_t now, std::string& out);
    // Ends the last line, when the input ended inside one.
    void finish(std::string& out);

    static constexpr std::size_t kStampSize = 20; // "2026-12-09 05:21:21 "

private:
    enum class State {
        Text,
        Escape,       // after ESC
        Intermediate, // ESC followed by bytes 0x20-0x2F, up to the final byte
        Csi,          // ESC [ parameters, up to the final byte 0x40-0x7E
        String,       // ESC ] / P / X / ^ / _ text, up to BEL or ESC backslash
        StringEscape, // an ESC inside such a string
    };

    void put(char c, std::time_t now, std::string& out);

    State state_ = State::Text;
    bool heldReturn_ = false;
    bool atLineStart_ = true;
};
