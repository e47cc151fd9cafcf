#include "LogLines.h"

namespace {

void Stamp(std::time_t now, std::string& out) {
    std::tm local{};
    char text[32];
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S ", &local) != LogLines::kStampSize)
        out.append(LogLines::kStampSize - 1, '?').push_back(' ');
    else
        out.append(text, LogLines::kStampSize);
}

} // namespace

void LogLines::put(char c, std::time_t now, std::string& out) {
    if (atLineStart_)
        Stamp(now, out);
    out.push_back(c);
    atLineStart_ = c == '\n';
}

void LogLines::add(const char* in, std::size_t size, std::time_t now, std::string& out) {
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        switch (state_) {
        case State::Text:
            break;
        case State::Escape:
            if (c == '[')
                state_ = State::Csi;
            else if (c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_')
                state_ = State::String;
            else if (c >= 0x20 && c <= 0x2f)
                state_ = State::Intermediate;
            else
                state_ = c == 0x1b ? State::Escape : State::Text;
            continue;
        case State::Intermediate:
            if (c < 0x20 || c > 0x2f)
                state_ = State::Text;
            continue;
        case State::Csi:
            if (c >= 0x40 && c <= 0x7e)
                state_ = State::Text;
            else if (c == 0x1b)
                state_ = State::Escape; // a sequence cut short by the next
            continue;
        case State::String:
            if (c == 0x07)
                state_ = State::Text;
            else if (c == 0x1b)
                state_ = State::StringEscape;
            continue;
        case State::StringEscape:
            state_ = c == '\\' ? State::Text : State::String;
            continue;
        }
        // A '\r' that no '\n' follows sends the cursor back over the line, for the next text to
        // overwrite (progress counters do that): in a file, that text goes on a line of its own.
        if (heldReturn_ && c != '\n' && !atLineStart_)
            put('\n', now, out);
        heldReturn_ = c == '\r';
        if (c == 0x1b)
            state_ = State::Escape;
        else if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7f))
            put(static_cast<char>(c), now, out);
        // Other control bytes (bell, backspace, ...) say nothing in a file.
    }
}

void LogLines::finish(std::string& out) {
    if (!atLineStart_)
        out.push_back('\n');
    atLineStart_ = true;
    heldReturn_ = false;
}
