#pragma once

#include <QString>
#include <sys/types.h>

// An Xvfb of its own, on the first free display number (Xvfb -displayfd), ended when this goes.
// It does not reset when its last client leaves, so that one client after another can connect.
class PrivateXServer {
public:
    PrivateXServer();
    ~PrivateXServer();
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    bool isRunning() const { return pid_ > 0 && !display_.isEmpty(); }
    // ":N"
    QString display() const { return display_; }

private:
    pid_t pid_ = -1;
    QString display_;
};
