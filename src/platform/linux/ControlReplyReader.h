#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

// Reads the replies of a tmux control-mode client (tmux -C) to commands sent one per line.
//
// tmux answers each command between a "%begin <time> <number> <flags>" line and a matching
// "%end" or "%error" line, but copies the command's output in between unescaped: a console's text
// captured with capture-pane may hold lines that look like those markers. So every command is
// followed by a second one that prints a secret nonce (display-message -p), and a reply is
// complete only when the nonce's own block has arrived. Nothing a console holds can carry the
// nonce, so the real end of the command's block is the last matching "%end"/"%error" line before
// the nonce's block. Lines outside blocks (notifications such as %sessions-changed) are skipped.
class ControlReplyReader {
public:
    struct Reply {
        bool failed = true; // %error, or no block could be found
        std::string output; // the lines of the command's block, each ending in '\n'
    };

    // The next command's nonce, in the order the commands were sent. A discarded reply (the
    // greeting that starts a client) is read and dropped without being handed out.
    void expect(std::string nonce, bool discard = false);

    void feed(std::string_view bytes);

    // The next complete reply, in the order expected.
    std::optional<Reply> take();

    // Replies expected and not yet taken.
    std::size_t outstanding() const { return expected_.size() + ready_.size(); }

    void reset();

private:
    struct Expected {
        std::string nonce;
        bool discard;
    };
    bool completeFront();

    std::deque<Expected> expected_;
    std::deque<Reply> ready_;
    std::string buffer_;
    std::size_t searchedUpTo_ = 0; // buffer_ before this holds no line with the front nonce
};
