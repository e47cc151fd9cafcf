#pragma once

#include <QString>
#include <deque>
#include <optional>

// What was sent to one console, newest last, for the operator to walk with Up and Down. Kept for
// the session only and bounded; a line sent twice in a row is kept once.
class CommandHistory {
public:
    static constexpr std::size_t kMaxEntries = 300;

    // Keeps line and ends any walk.
    void add(const QString& line);
    // The entry before the one shown; typed is what the input holds, given back after the newest
    // entry. Nothing when there is no older entry.
    std::optional<QString> older(const QString& typed);
    // The entry after the one shown, or the text typed before the walk; nothing when not walking.
    std::optional<QString> newer();

private:
    std::deque<QString> entries_;
    std::size_t shown_ = 0; // entries_.size() while not walking
    QString typed_;
};
