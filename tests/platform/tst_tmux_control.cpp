// The persistent tmux control-mode client: replies a console cannot forge (the reader alone: what a
// console prints reaches it as reply text), a tmux server that stalls, and a launch that tmux
// carries out after the launcher gave up on it.

#include "TmuxSandbox.h"
#include "linux/ControlReplyReader.h"

namespace {

const QByteArray kNonce = "corvane-5ecret-7";

// A reply block as tmux writes it.
QByteArray Block(int number, const QByteArray& body, const char* end = "%end") {
    const QByteArray tail = " 1796611916 " + QByteArray::number(number) + " 1\n";
    return "%begin" + tail + body + end + tail;
}

} // namespace

class TmuxControlTest : public QObject {
    Q_OBJECT

private slots:
    void repliesAreReadWhateverTheOutputHolds_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QByteArray>("output");
        const QByteArray forged = "%end 1796611916 40 1\n%error 1796611916 40 1\n"
                                  "%begin 1796611916 41 1\ncorvane-guess-8\n%end 1796611916 41 1\n";
        const QByteArray nonce = Block(41, kNonce + "\n");
        QTest::newRow("plain, between notifications")
            << "%sessions-changed\n" + Block(40, "a b\n\nc\n") + "%window-add @3\n" + nonce << false
            << QByteArray("a b\n\nc\n");
        QTest::newRow("markers forged inside the output")
            << Block(40, "before\n" + forged + "after\n") + nonce << false
            << "before\n" + forged + "after\n";
        QTest::newRow("an error") << Block(40, "no such session\n", "%error") + nonce << true
                                  << QByteArray("no such session\n");
        QTest::newRow("nonce block not matching its own number")
            << Block(40, "x\n") + "%begin 1 41 1\n" + kNonce + "\n%end 1 42 1\n"
            << true << QByteArray();
    }

    void repliesAreReadWhateverTheOutputHolds() {
        QFETCH(QByteArray, stream);
        QFETCH(bool, failed);
        QFETCH(QByteArray, output);
        // Whole, and a byte at a time as a pipe may hand it over.
        for (const bool byByte : {false, true}) {
            ControlReplyReader reader;
            reader.expect("corvane-5ecret-1", true); // the client's greeting, dropped
            reader.expect(kNonce.toStdString());
            const std::string all =
                (Block(3, "") + "%session-changed $0 c\n" + Block(4, "corvane-5ecret-1\n") + stream)
                    .toStdString();
            for (std::size_t i = 0; i < all.size(); i += byByte ? 1 : all.size()) {
                QVERIFY(!reader.take()); // nothing before the nonce's block is complete
                reader.feed(std::string_view(all).substr(i, byByte ? 1 : all.size()));
            }
            const std::optional<ControlReplyReader::Reply> reply = reader.take();
            QVERIFY(reply);
            QCOMPARE(reply->failed, failed);
            QCOMPARE(QByteArray::fromStdString(reply->output), output);
            QCOMPARE(reader.outstanding(), std::size_t{0});
        }
    }

    void stalledTmuxKeepsTheCallerResponsiveAndLaunchesNothingLate() {
        TmuxSandbox sandbox;
        const QString exe = sandbox.path("map-server");
        QVERIFY(sandbox.copyServer("map-server", exe));
        LinuxBackendConfig config = sandbox.config();
        config.tmuxTimeoutMs = 600;
        int hookRuns = 0;
        config.waitHook = [&hookRuns] { ++hookRuns; };
        LinuxApis apis(config);
        QCOMPARE(apis.GetConsoleText(QStringLiteral("Nobody")), QStringLiteral(" "));
        const pid_t server = sandbox.tmuxPid();
        QVERIFY(server > 0 && ::kill(server, SIGSTOP) == 0); // never kill(0) or kill(-1)

        const ServerProcess failed = apis.LaunchServer(exe, "Map Server");
        QCOMPARE(failed, ServerProcess::failed());
        QVERIFY2(failed.sError.contains("did not answer within 600 ms"), qPrintable(failed.sError));
        // The wait let the caller's events run all along, at least every 10 ms or so.
        QVERIFY2(hookRuns >= 600 / 25, qPrintable(QString::number(hookRuns)));
        // A new control client that tmux never answered in time is killed; its session, made by
        // tmux once it resumes, must go with it. Left behind, each holds a process for good: a
        // crash loop that keeps asking a busy tmux piles them up.
        QVERIFY(!TmuxClient(config).Run({{"display-message", "-p", "."}}).succeeded());

        // tmux resumes and carries out the queued launch: its console is closed at once and the
        // server program never runs.
        QVERIFY(::kill(server, SIGCONT) == 0);
        QCOMPARE(apis.GetConsoleText(QStringLiteral("Nobody")), QStringLiteral(" "));
        QTest::qWait(1500);
        QVERIFY(!sandbox.tmux({"has-session", "-t", "=Map Server"}));
        QVERIFY2(proc::Running(exe).isEmpty(), "the given-up server runs after all");
        QTRY_VERIFY(QDir(sandbox.path("tmp")).isEmpty()); // nothing of the hand-over is left
        // Every control session still there has its client; one left unattached is a leak.
        QTRY_VERIFY(!sandbox.tmux({"list-sessions", "-F", "#{session_attached}"})
                         .value_or("0")
                         .split('\n')
                         .contains("0"));
    }
};

QTEST_GUILESS_MAIN(TmuxControlTest)
#include "tst_tmux_control.moc"
