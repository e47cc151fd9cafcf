// The web panel's sessions and login limits, on a clock the test moves: a session ends when
// idle, past its lifetime, at logout or with its account's; its CSRF token is its own; logins
// wait longer after each failure past the free ones, per address and per account name.
#include "Fakes.h"
#include "LoginLimiter.h"
#include "WebSessions.h"

#include <QRegularExpression>
#include <QTest>

namespace {

constexpr std::int64_t kMinute = 60 * 1000;

bool IsRandomHex(const QByteArray& text) {
    return QRegularExpression("^[0-9a-f]{64}$").match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

class WebSessionsTest : public QObject {
    Q_OBJECT
private slots:
    void sessionsEndIdleAtLogoutOrPastTheirLifetime() {
        FakeClock clock;
        WebSessions sessions(clock);
        const QByteArray ada = sessions.open("ada", WebRole::Admin, "192.0.2.1");
        const QByteArray other = sessions.open("ada", WebRole::Admin, "192.0.2.2");
        QVERIFY(IsRandomHex(ada) && IsRandomHex(other) && ada != other);
        const WebSessions::Session* s = sessions.touch(ada);
        QVERIFY(s && s->account == "ada" && s->role == WebRole::Admin && s->from == "192.0.2.1");
        QVERIFY(IsRandomHex(s->csrfToken) && s->csrfToken != ada &&
                s->csrfToken != sessions.touch(other)->csrfToken);

        // Each use starts the idle time anew; 30 minutes unused end it.
        clock.advance(29 * kMinute);
        QVERIFY(sessions.touch(ada));
        clock.advance(29 * kMinute);
        QVERIFY(sessions.touch(ada));
        QVERIFY(!sessions.touch(other) && sessions.size() == 1);
        QVERIFY(!sessions.touch("not an id") && !sessions.touch(other));

        // However much it is used, a session ends 12 hours after its login.
        for (int i = 0; i < 33; ++i) { // to 11 h 58 min
            clock.advance(20 * kMinute);
            QVERIFY(sessions.touch(ada));
        }
        clock.advance(20 * kMinute);
        QVERIFY(!sessions.touch(ada));

        const QByteArray a1 = sessions.open("ada", WebRole::Admin, "a");
        const QByteArray a2 = sessions.open("ada", WebRole::Admin, "b");
        const QByteArray bob = sessions.open("bob", WebRole::Viewer, "c");
        QVERIFY(sessions.close(a1) && !sessions.close(a1) && !sessions.touch(a1));
        QCOMPARE(sessions.closeAll("ada"), 1);
        QVERIFY(!sessions.touch(a2) && sessions.touch(bob));
    }

    void aCsrfTokenIsItsSessionsOwn() {
        FakeClock clock;
        WebSessions sessions(clock);
        const QByteArray ada = sessions.open("ada", WebRole::Admin, "a");
        const QByteArray bob = sessions.open("bob", WebRole::Operator, "b");
        const QByteArray token = sessions.touch(ada)->csrfToken;
        QVERIFY(sessions.csrfMatches(ada, token));
        QVERIFY(!sessions.csrfMatches(bob, token));
        QVERIFY(!sessions.csrfMatches(ada, sessions.touch(bob)->csrfToken));
        QVERIFY(!sessions.csrfMatches(ada, token.left(63)));
        QVERIFY(!sessions.csrfMatches(ada, QByteArray()));
        QByteArray changed = token;
        changed[63] = changed[63] == '0' ? '1' : '0';
        QVERIFY(!sessions.csrfMatches(ada, changed));
        clock.advance(31 * kMinute); // a token outlives nothing of its session
        QVERIFY(!sessions.csrfMatches(ada, token));
    }

    void pastTheMostSessionsTheIdlestEnds() {
        FakeClock clock;
        WebSessions sessions(clock, {30 * kMinute, 12 * 60 * kMinute, 2});
        const QByteArray first = sessions.open("a", WebRole::Viewer, "x");
        clock.advance(kMinute);
        const QByteArray second = sessions.open("b", WebRole::Viewer, "x");
        clock.advance(kMinute);
        QVERIFY(sessions.touch(first));
        const QByteArray third = sessions.open("c", WebRole::Viewer, "x");
        QCOMPARE(sessions.size(), 2);
        QVERIFY(sessions.touch(first) && !sessions.touch(second) && sessions.touch(third));
    }

    // Tries that wait as they are told to.
    void loginsWaitLongerAfterEachFailurePastTheFreeOnes() {
        FakeClock clock;
        LoginLimiter limiter(clock);
        QList<std::int64_t> waits;
        for (int i = 0; i < 12; ++i) {
            const std::int64_t wait = limiter.waitMs("192.0.2.9", "ada");
            waits << wait;
            clock.advance(wait);
            QCOMPARE(limiter.waitMs("192.0.2.9", "ada"), 0);
            limiter.failed("192.0.2.9", "ada");
        }
        QCOMPARE(waits,
                 QList<std::int64_t>({0, 0, 0, 0, 0, 1000, 2000, 4000, 8000, 16000, 32000, 60000}));
        // The tenth try of a minute waits; a right password is taken once the wait is over.
        clock.advance(30000);
        QCOMPARE(limiter.waitMs("192.0.2.9", "ada"), 30000);
        clock.advance(30000);
        QCOMPARE(limiter.waitMs("192.0.2.9", "ada"), 0);
        limiter.succeeded("192.0.2.9", "ada");
        limiter.failed("192.0.2.9", "ada");
        QCOMPARE(limiter.waitMs("192.0.2.9", "ada"), 0);
    }

    void failuresCountPerAddressAndPerAccountName() {
        FakeClock clock;
        LoginLimiter limiter(clock);
        // Against one name from many addresses.
        for (int i = 0; i < LoginLimiter::kFreeFailures; ++i)
            limiter.failed(QString("198.51.100.%1").arg(i), "ada");
        QCOMPARE(limiter.waitMs("203.0.113.1", "ada"), 1000);
        QCOMPARE(limiter.waitMs("203.0.113.1", "bob"), 0);
        // From one address against many names, names without an account among them.
        for (int i = 0; i < LoginLimiter::kFreeFailures; ++i)
            limiter.failed("203.0.113.7", QString("guess%1").arg(i));
        QCOMPARE(limiter.waitMs("203.0.113.7", "bob"), 1000);
        QCOMPARE(limiter.waitMs("203.0.113.8", "bob"), 0);
        // A quarter of an hour without failures forgets them.
        clock.advance(LoginLimiter::kForgetMs);
        QCOMPARE(limiter.waitMs("203.0.113.1", "ada"), 0);
        QCOMPARE(limiter.waitMs("203.0.113.7", "bob"), 0);
        limiter.failed("203.0.113.7", "bob");
        QCOMPARE(limiter.waitMs("203.0.113.7", "bob"), 0); // counted from one again
    }
};

QTEST_GUILESS_MAIN(WebSessionsTest)
#include "tst_web_sessions.moc"
