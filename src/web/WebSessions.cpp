#include "WebSessions.h"

#include "Clock.h"
#include "Sodium.h"

namespace {

// 256 random bits as 64 hexadecimal digits.
QByteArray RandomHex() {
    unsigned char bits[32];
    randombytes_buf(bits, sizeof bits);
    return QByteArray(reinterpret_cast<const char*>(bits), sizeof bits).toHex();
}

} // namespace

WebSessions::WebSessions(Clock& clock, Limits limits) : clock_(clock), limits_(limits) {}

QByteArray WebSessions::open(const QString& account, WebRole role, const QString& from) {
    if (!SodiumReady())
        return QByteArray();
    const std::int64_t now = clock_.NowMs();
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = live(*it, now) ? std::next(it) : sessions_.erase(it);
    if (sessions_.size() >= limits_.most) {
        auto idlest = sessions_.begin();
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
            if (it->lastSeenMs < idlest->lastSeenMs)
                idlest = it;
        sessions_.erase(idlest);
    }
    QByteArray id = RandomHex();
    sessions_.insert(id, Session{account, role, RandomHex(), from, now, now});
    return id;
}

const WebSessions::Session* WebSessions::touch(const QByteArray& id) {
    const auto it = sessions_.find(id);
    if (it == sessions_.end())
        return nullptr;
    const std::int64_t now = clock_.NowMs();
    if (!live(*it, now)) {
        sessions_.erase(it);
        return nullptr;
    }
    it->lastSeenMs = now;
    return &*it;
}

const WebSessions::Session* WebSessions::find(const QByteArray& id) const {
    const auto it = sessions_.constFind(id);
    return it == sessions_.constEnd() || !live(*it, clock_.NowMs()) ? nullptr : &*it;
}

bool WebSessions::csrfMatches(const QByteArray& id, const QByteArray& token) const {
    const auto it = sessions_.constFind(id);
    if (it == sessions_.constEnd() || !live(*it, clock_.NowMs()) ||
        token.size() != it->csrfToken.size())
        return false;
    return sodium_memcmp(token.constData(), it->csrfToken.constData(), size_t(token.size())) == 0;
}

bool WebSessions::close(const QByteArray& id) {
    return sessions_.remove(id) > 0;
}

int WebSessions::closeAll(const QString& account) {
    int closed = 0;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        const bool mine = it->account == account;
        closed += mine;
        it = mine ? sessions_.erase(it) : std::next(it);
    }
    return closed;
}

bool WebSessions::live(const Session& s, std::int64_t now) const {
    return now - s.lastSeenMs < limits_.idleMs && now - s.startedMs < limits_.lifetimeMs;
}
