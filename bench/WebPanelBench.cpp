// The web panel's live pages on a launcher online (the real window, backend and stand-ins), the
// pages on a thread of their own in this process, as a browser's would be elsewhere:
// - how soon a line in the map server's console reaches a page that watches it: a word typed into
//   the console, which its terminal echoes, timed from the typing to the page's message;
// - what 50 open pages cost the launcher while the servers are quiet (CORVANE_STANDIN_QUIET=1) or
//   print a line a second each, beside no page;
// - (flood) the map server printing about 10,000 lines a second to a watched console: the
//   window's event latency, and what each page is sent.

#include "BenchLauncher.h"
#include "Cases.h"
#include "CheckedFolder.h"
#include "LatencyProbe.h"
#include "Measure.h"
#include "Report.h"
#include "WebAccounts.h"
#include "WebConfig.h"
#include "WebPanel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QWebSocket>
#include <atomic>
#include <cstdlib>
#include <sodium.h>
#include <thread>
#include <tuple>

namespace {

constexpr double kLatencyTargetMs = 100;
constexpr double kPagesTargetPercent = 2;
constexpr int kPages = 50;
constexpr char kOrigin[] = "http://bench.test";
constexpr char kHost[] = "bench.test";

// The session of an account, logged in by hand: its cookie and CSRF token.
struct Session {
    QByteArray cookie, csrf;
};

Session LogIn(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    const QByteArray body = R"({"name":"bench","password":"bench-password"})";
    socket.write("POST /api/login HTTP/1.0\r\nHost: " + QByteArray(kHost) +
                 "\r\nOrigin: " + kOrigin + "\r\nContent-Type: application/json\r\n" +
                 "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray answer;
    while (socket.waitForReadyRead(5000))
        answer += socket.readAll();
    const qsizetype at = answer.indexOf("corvane_session=");
    const QJsonObject json =
        QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
    if (at < 0)
        return {};
    return {answer.mid(at + 16, 64), json.value(QStringLiteral("csrf")).toString().toLatin1()};
}

// The open pages, each watching the map server's console; on their own thread.
class Pages : public QObject {
public:
    Pages(quint16 port, Session session) : port_(port), session_(std::move(session)) {}

    void open(int count) {
        for (int i = 0; i < count; ++i) {
            auto* page = new QWebSocket(QString::fromLatin1(kOrigin),
                                        QWebSocketProtocol::VersionLatest, this);
            connect(page, &QWebSocket::connected, page, [this, page] {
                page->sendTextMessage(
                    QJsonDocument(QJsonObject{{"csrf", QString::fromLatin1(session_.csrf)}})
                        .toJson());
                page->sendTextMessage(R"({"type":"watch","server":"map"})");
                ++opened_;
            });
            connect(page, &QWebSocket::textMessageReceived, page,
                    [this](const QString& message) { received(message); });
            QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port_)));
            request.setRawHeader("Host", kHost);
            request.setRawHeader("Cookie", "corvane_session=" + session_.cookie);
            page->open(request);
        }
    }
    int opened() const { return opened_; }
    // Bytes and console lines received since the last ask.
    std::pair<qint64, qint64> takeReceived() { return {bytes_.exchange(0), lines_.exchange(0)}; }
    // Messages of each kind received since the last ask: state, console, log.
    std::tuple<qint64, qint64, qint64> takeMessages() {
        return {statuses_.exchange(0), consoles_.exchange(0), logs_.exchange(0)};
    }
    // The word the pages are to look for in the console lines they are sent; seen() once one has.
    void expect(const QString& word) {
        const QMutexLocker lock(&mutex_);
        expected_ = word;
        seen_ = false;
    }
    bool seen() {
        const QMutexLocker lock(&mutex_);
        return seen_;
    }
    double cpuMs() const { return cpuMs_; }
    void noteCpu() { cpuMs_ = measure::ThreadCpuMs(); }

private:
    void received(const QString& message) {
        bytes_ += message.size();
        const QJsonObject json = QJsonDocument::fromJson(message.toUtf8()).object();
        const QString type = json.value(QStringLiteral("type")).toString();
        ++(type == QLatin1String("status") ? statuses_
           : type == QLatin1String("log")  ? logs_
                                           : consoles_);
        if (type != QLatin1String("console"))
            return;
        const QJsonArray lines = json.value(QStringLiteral("lines")).toArray();
        lines_ += lines.size();
        const QMutexLocker lock(&mutex_);
        if (expected_.isEmpty() || seen_)
            return;
        for (const QJsonValue& line : lines)
            if (line.toArray().first().toString().contains(expected_))
                seen_ = true;
    }

    quint16 port_;
    Session session_;
    std::atomic_int opened_{0};
    std::atomic<qint64> bytes_{0}, lines_{0}, statuses_{0}, consoles_{0}, logs_{0};
    std::atomic<double> cpuMs_{0};
    QMutex mutex_;
    QString expected_;
    bool seen_ = false;
};

// What the launcher's process used over ms, the pages' thread left out, in % of one core; the
// tmux server's beside it.
std::pair<double, double> LauncherCpu(BenchWorld& world, Pages& pages, int ms) {
    const auto note = [&] {
        QMetaObject::invokeMethod(
            &pages, [&pages] { pages.noteCpu(); }, Qt::BlockingQueuedConnection);
        return std::tuple(measure::SelfCpuMs() - pages.cpuMs(),
                          measure::ProcessCpuMs(world.tmuxServerPid()));
    };
    const auto [selfBefore, tmuxBefore] = note();
    BenchLauncher::runEventsFor(ms);
    const auto [selfAfter, tmuxAfter] = note();
    return {(selfAfter - selfBefore) * 100 / ms, (tmuxAfter - tmuxBefore) * 100 / ms};
}

} // namespace

int RunWebPanelBench(int argc, char** argv, const BenchOptions& options, bool flood) {
    if (flood) {
        // The map server floods from its start: its knobs are read as it starts.
        qputenv("CORVANE_STANDIN_KNOBS_FOR", "map-server");
        qputenv("CORVANE_STANDIN_FLOOD", "1000000");
    }
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid())
        return 1;
    BenchLauncher launcher(world);
    launcher.selectTab(3);
    if (launcher.startServers() < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    QTemporaryDir state;
    WebAccounts accounts;
    QString why;
    accounts.setHashCost(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
    const auto folder = CheckedFolder::Open(state.path(), false, &why);
    if (!folder || !accounts.add("bench", WebRole::Admin, "bench-password", &why) ||
        !accounts.save(*folder, "users", &why)) {
        std::fprintf(stderr, "no account: %s\n", qPrintable(why));
        return 1;
    }
    WebConfig config;
    config.on = true;
    config.port = 0;
    config.origin = QString::fromLatin1(kOrigin);
    WebPanel panel(launcher.core(), *launcher.core().services().clock);
    if (!panel.open(config, state.path(), "users", &why)) {
        std::fprintf(stderr, "no panel: %s\n", qPrintable(why));
        return 1;
    }
    // Logged in from a thread of its own: the panel's audit is taken on this one meanwhile.
    Session session;
    std::atomic_bool answered{false};
    std::thread login([&] {
        session = LogIn(panel.port());
        answered = true;
    });
    for (int i = 0; i < 200 && !answered; ++i)
        BenchLauncher::runEventsFor(50);
    login.join();
    if (session.cookie.isEmpty()) {
        std::fprintf(stderr, "the login failed\n");
        return 1;
    }
    QThread pagesThread;
    Pages pages(panel.port(), session);
    pages.moveToThread(&pagesThread);
    pagesThread.start();
    const auto finish = qScopeGuard([&] {
        QMetaObject::invokeMethod(
            &pages,
            [&pages] {
                for (QWebSocket* page : pages.findChildren<QWebSocket*>())
                    delete page;
            },
            Qt::BlockingQueuedConnection);
        pagesThread.quit();
        pagesThread.wait();
    });
    const int seconds = options.quick ? 5 : 20;
    const auto openPages = [&] {
        QMetaObject::invokeMethod(&pages, [&pages] { pages.open(kPages); });
        for (int i = 0; i < 100 && pages.opened() < kPages; ++i)
            BenchLauncher::runEventsFor(100);
        BenchLauncher::runEventsFor(2000); // the first messages: the whole console, the state
        pages.takeReceived();
    };
    if (flood) {
        openPages();
        LatencyProbe probe(10);
        probe.start();
        const auto [floodSelf, floodTmux] = LauncherCpu(world, pages, seconds * 1000);
        probe.stop();
        const auto [floodBytes, floodLines] = pages.takeReceived();
        const double eventsP99 = measure::Percentile(probe.latenciesMs(), 99);
        report::Row(
            report::Format("web panel: %d pages watching a console printing 1 MB/s", kPages),
            report::Format("window events p99 %.1f ms; launcher %.1f %% + tmux %.1f %% of a core; "
                           "each page sent %.0f console lines/s, %.0f KB/s",
                           eventsP99, floodSelf, floodTmux, double(floodLines) / kPages / seconds,
                           double(floodBytes) / kPages / seconds / 1024),
            "target: events p99 60 ms", report::Format("p99 %.2f of target", eventsP99 / 60.0),
            report::PassIf(pages.opened() == kPages && eventsP99 <= 60.0));
        return 0;
    }

    // No page: the launcher's own idle cost, as the baseline.
    const auto [idleSelf, idleTmux] = LauncherCpu(world, pages, seconds * 1000);
    openPages();
    pages.takeMessages();
    const auto [pagesSelf, pagesTmux] = LauncherCpu(world, pages, seconds * 1000);
    const double pagesCost = pagesSelf + pagesTmux - idleSelf - idleTmux;
    const auto [quietBytes, quietLines] = pages.takeReceived();
    const auto [statuses, consoleMessages, logMessages] = pages.takeMessages();
    // The stand-ins print a line a second each unless told to be quiet.
    const bool quiet = qEnvironmentVariableIntValue("CORVANE_STANDIN_QUIET") != 0;
    report::Row(report::Format("web panel: %d open pages, %s", pages.opened(),
                               quiet ? "servers quiet" : "servers printing a line a second each"),
                report::Format(
                    "launcher %.2f %% + tmux %.2f %% of a core (no page: %.2f %% + %.2f %%); "
                    "each page sent %.0f bytes/s in %.1f state, %.1f console and %.1f log "
                    "messages a second",
                    pagesSelf, pagesTmux, idleSelf, idleTmux, double(quietBytes) / kPages / seconds,
                    double(statuses) / kPages / seconds, double(consoleMessages) / kPages / seconds,
                    double(logMessages) / kPages / seconds),
                "target: the pages under 2 % of a core",
                report::Format("%.2f %% of a core", pagesCost),
                report::PassIf(pages.opened() == kPages && pagesCost < kPagesTargetPercent));

    // A word typed, echoed by the console's terminal, to the pages.
    std::vector<double> latencies;
    const int words = options.quick ? 20 : 60;
    for (int i = 0; i < words; ++i) {
        const QString word = QStringLiteral("mark%1x").arg(i);
        pages.expect(word);
        const auto typed = measure::SteadyClock::now();
        launcher.core().mirror().SendCommandTo(2, word);
        while (!pages.seen() && measure::MsSince(typed) < 2000)
            BenchLauncher::runEventsFor(2);
        latencies.push_back(measure::MsSince(typed));
        BenchLauncher::runEventsFor(100 + std::rand() % 250); // not in step with the ticks
    }
    const double p95 = measure::Percentile(latencies, 95);
    report::Row("web panel: a console line to a page watching it",
                report::Format("p50 %.0f ms, p95 %.0f ms, max %.0f ms (%zu lines typed and echoed)",
                               measure::Percentile(latencies, 50), p95,
                               measure::Percentile(latencies, 100), latencies.size()),
                "target: p95 100 ms", report::Format("p95 %.2f of target", p95 / kLatencyTargetMs),
                report::PassIf(p95 <= kLatencyTargetMs));

    launcher.stopServers();
    return 0;
}
