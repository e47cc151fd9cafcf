#pragma once

#include "WebAccounts.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>

class Clock;

// The web panel's sessions, in memory only: who is logged in behind a cookie's session id. An
// id is 256 random bits; each session has a CSRF token of its own for every request that changes
// anything. A session ends when it has been idle too long, when it is past its lifetime, at
// logout, or with every other session of its account ("log out everywhere", a password changed,
// the account removed).
class WebSessions {
public:
    struct Limits {
        std::int64_t idleMs = 30 * 60 * 1000;          // unused this long: ended
        std::int64_t lifetimeMs = 12 * 60 * 60 * 1000; // this long after the login: ended
        int most = 1000; // sessions at once; a login past it ends the longest idle one
    };
    struct Session {
        QString account;
        WebRole role = WebRole::Viewer;
        QByteArray csrfToken; // 64 hexadecimal digits
        QString from;         // the address the login came from
        std::int64_t startedMs = 0, lastSeenMs = 0;
    };

    explicit WebSessions(Clock& clock) : WebSessions(clock, Limits()) {}
    WebSessions(Clock& clock, Limits limits);

    // A new session of the account; its id, 64 hexadecimal digits, for the cookie. Empty when no
    // random numbers can be had: then nobody can log in.
    QByteArray open(const QString& account, WebRole role, const QString& from);
    // The live session of that id, seen now: its idle time starts anew. Null when there is none,
    // or it has just ended (idle too long, past its lifetime).
    const Session* touch(const QByteArray& id);
    // The live session of that id, without counting as a use of it: for a panel that only
    // watches. Null when there is none.
    const Session* find(const QByteArray& id) const;
    // Whether the token is the CSRF token of the live session of that id; compared in constant
    // time. Does not count as a use of the session.
    bool csrfMatches(const QByteArray& id, const QByteArray& token) const;
    // Logout. False when there was no such session.
    bool close(const QByteArray& id);
    // Every session of the account; how many there were.
    int closeAll(const QString& account);
    int size() const { return int(sessions_.size()); }

private:
    bool live(const Session& s, std::int64_t now) const;

    Clock& clock_;
    Limits limits_;
    QHash<QByteArray, Session> sessions_;
};
