// A map server printing 10,000 lines a second, its console logged to disk and not: whether the
// log loses a line, and whether logging slows the server down (its rate of printed lines, side by
// side in the same run).

#include "BenchWorld.h"
#include "Cases.h"
#include "Report.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <set>

namespace {

constexpr long kLinesPerSecond = 10000;
constexpr long kLineBytes = 100; // each flood line, with its line end

struct Run {
    double linesPerSecond = 0;
    long printed = 0; // the last line number the server wrote
    long missing = 0; // of those, how many the log lacks (logged runs only)
    bool valid = false;
};

// The numbers of the "flood N" lines in a file.
std::set<long> FloodNumbers(const QString& path) {
    std::set<long> numbers;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return numbers;
    static const QRegularExpression flood(QStringLiteral("flood (\\d{10}) x"));
    const QString text = QString::fromUtf8(file.readAll());
    for (auto it = flood.globalMatch(text); it.hasNext();)
        numbers.insert(it.next().captured(1).toLong());
    return numbers;
}

Run Measure(bool logged, int seconds) {
    Run run;
    BenchWorld world;
    if (!world.isValid())
        return run;
    const QString printedCopy = world.launcherFolder() + QStringLiteral("/printed.txt");
    const QString log = world.launcherFolder() + QStringLiteral("/map-server.log");
    qputenv("CORVANE_STANDIN_LOG", QFile::encodeName(printedCopy));
    if (logged)
        world.apis().SetConsoleLog(QStringLiteral("Map Server"), {log, 1LL << 32, 1});
    const ServerProcess server = world.apis().LaunchServer(
        world.launcherFolder() + QStringLiteral("/map-server"), QStringLiteral("Map Server"));
    if (server.lPID <= 0)
        return run;
    // Lines printed so far, from the size of the server's own plain copy: reading it is instant.
    const auto lastPrinted = [&] { return QFileInfo(printedCopy).size() / kLineBytes; };
    QThread::msleep(1000); // the rate is taken once the server has settled
    QElapsedTimer clock;
    clock.start();
    const long first = lastPrinted();
    QThread::msleep(static_cast<unsigned long>(seconds) * 1000);
    const long last = lastPrinted();
    const double elapsed = static_cast<double>(clock.elapsed()) / 1000.0;
    ::kill(server.lPID, SIGKILL);
    QThread::msleep(1000); // the console and the log helper drain what was printed
    const std::set<long> printed = FloodNumbers(printedCopy);
    run.printed = printed.empty() ? 0 : *printed.rbegin();
    run.linesPerSecond = static_cast<double>(last - first) / elapsed;
    if (logged) {
        const std::set<long> inLog = FloodNumbers(log);
        for (long n = 1; n <= run.printed; ++n)
            run.missing += inLog.count(n) == 0 ? 1 : 0;
    }
    world.apis().ReleaseProcessHandle(server.hProcess);
    run.valid = run.printed > 0;
    return run;
}

} // namespace

int RunConsoleLogBench(int argc, char** argv, const BenchOptions& options) {
    QCoreApplication app(argc, argv);
    qputenv("CORVANE_STANDIN_KNOBS_FOR", "map-server");
    qputenv("CORVANE_STANDIN_FLOOD", QByteArray::number(kLinesPerSecond * kLineBytes));
    const int seconds = options.quick ? 3 : 10;
    Measure(false, 1); // the first tmux server of the run starts cold
    const Run off = Measure(false, seconds);
    const Run on = Measure(true, seconds);
    if (!off.valid || !on.valid)
        return 1;
    const double ratio = on.linesPerSecond / off.linesPerSecond;
    report::Row(report::Format("server printing %ld lines/s for %d s, console logged to disk",
                               kLinesPerSecond, seconds),
                report::Format("%.0f lines/s", on.linesPerSecond),
                report::Format("not logged: %.0f lines/s", off.linesPerSecond),
                report::Format("%.3fx (target within 5%%)", ratio),
                report::PassIf(ratio >= 0.95 && ratio <= 1.05));
    report::Row(report::Format("lines missing from the console log, of %ld printed", on.printed),
                report::Format("%ld", on.missing), "-", "target 0",
                report::PassIf(on.missing == 0));
    return 0;
}
