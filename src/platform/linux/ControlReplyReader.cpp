#include "ControlReplyReader.h"

#include <utility>

namespace {

// The part of a marker line after "<marker> <time> ", which a matching line repeats:
// "<number> <flags>". Empty when the line is not that marker.
std::string_view MarkerTail(std::string_view line, std::string_view marker) {
    if (!line.starts_with(marker))
        return {};
    line.remove_prefix(marker.size());
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 0)
        return {};
    return line.substr(space + 1);
}

// The line of text that starts at pos, without its '\n'.
std::string_view LineAt(std::string_view text, std::size_t pos) {
    const std::size_t end = text.find('\n', pos);
    return text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
}

// The one block of a command's reply in region. Its end is the last "%end" or "%error" line of
// region: tmux writes it after all of the command's output, and only notifications follow it
// before the nonce's block. Its start is the first "%begin" line with the same number: tmux may
// put blocks of its own before it (the block of the command that started the client can arrive
// after the first commands were sent), and the command's output, which may hold lines that look
// like markers, only comes after it.
ControlReplyReader::Reply ReadBlock(std::string_view region) {
    ControlReplyReader::Reply reply;
    std::string_view tail;
    std::size_t bodyEnd = std::string_view::npos;
    for (std::size_t pos = 0; pos < region.size();) {
        const std::string_view line = LineAt(region, pos);
        const std::string_view end = MarkerTail(line, "%end ");
        const std::string_view error = MarkerTail(line, "%error ");
        if (!end.empty() || !error.empty()) {
            tail = end.empty() ? error : end;
            bodyEnd = pos;
            reply.failed = end.empty();
        }
        pos += line.size() + 1;
    }
    if (bodyEnd == std::string_view::npos) {
        reply.failed = true;
        return reply;
    }
    for (std::size_t pos = 0; pos < bodyEnd;) {
        const std::string_view line = LineAt(region, pos);
        pos += line.size() + 1;
        if (MarkerTail(line, "%begin ") == tail) {
            reply.output.assign(region.substr(pos, bodyEnd - pos));
            return reply;
        }
    }
    reply.failed = true;
    return reply;
}

} // namespace

void ControlReplyReader::expect(std::string nonce, bool discard) {
    expected_.push_back({std::move(nonce), discard});
}

void ControlReplyReader::feed(std::string_view bytes) {
    buffer_.append(bytes);
    while (!expected_.empty() && completeFront()) {
    }
}

std::optional<ControlReplyReader::Reply> ControlReplyReader::take() {
    if (ready_.empty())
        return std::nullopt;
    Reply reply = std::move(ready_.front());
    ready_.pop_front();
    return reply;
}

void ControlReplyReader::reset() {
    expected_.clear();
    ready_.clear();
    buffer_.clear();
    searchedUpTo_ = 0;
}

// Looks for the front nonce's block: "%begin ..." / nonce / "%end ..." with the same number.
bool ControlReplyReader::completeFront() {
    const std::string needle = "\n" + expected_.front().nonce + "\n";
    std::size_t at = buffer_.find(needle, searchedUpTo_);
    if (at == std::string::npos) {
        if (buffer_.size() >= needle.size())
            searchedUpTo_ = buffer_.size() - needle.size() + 1;
        return false;
    }
    const std::string_view text(buffer_);
    const std::size_t previous = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
    const std::size_t beginStart = previous == std::string_view::npos ? 0 : previous + 1;
    const std::size_t endStart = at + needle.size();
    const std::size_t endEnd = text.find('\n', endStart);
    if (endEnd == std::string_view::npos)
        return false; // the nonce's "%end" line has not fully arrived
    const std::string_view nonceTail =
        MarkerTail(text.substr(beginStart, at - beginStart), "%begin ");
    const bool sound = !nonceTail.empty() &&
                       MarkerTail(text.substr(endStart, endEnd - endStart), "%end ") == nonceTail;

    Reply reply = sound ? ReadBlock(text.substr(0, beginStart)) : Reply{};
    if (!expected_.front().discard)
        ready_.push_back(std::move(reply));
    expected_.pop_front();
    buffer_.erase(0, endEnd + 1);
    searchedUpTo_ = 0;
    return true;
}
