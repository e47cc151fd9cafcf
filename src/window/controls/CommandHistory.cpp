#include "CommandHistory.h"

void CommandHistory::add(const QString& line) {
    if (entries_.empty() || entries_.back() != line)
        entries_.push_back(line);
    if (entries_.size() > kMaxEntries)
        entries_.pop_front();
    shown_ = entries_.size();
    typed_.clear();
}

std::optional<QString> CommandHistory::older(const QString& typed) {
    if (shown_ == 0)
        return std::nullopt;
    if (shown_ == entries_.size())
        typed_ = typed;
    return entries_[--shown_];
}

std::optional<QString> CommandHistory::newer() {
    if (shown_ >= entries_.size())
        return std::nullopt;
    ++shown_;
    return shown_ == entries_.size() ? typed_ : entries_[shown_];
}
