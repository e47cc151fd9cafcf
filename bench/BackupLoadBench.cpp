// A backup of a 200 MB world of incompressible data, with the launcher online (1 s status
// interval, Map tab shown). Measured: how late the window handles input events while the archive
// is written on its worker thread, and the backup's time and rate.

#include "BenchLauncher.h"
#include "Cases.h"
#include "InstallationConfig.h"
#include "LatencyProbe.h"
#include "Measure.h"
#include "Report.h"
#include "ServerBackups.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <random>

namespace {

constexpr double kP99TargetMs = 60.0;
constexpr int kWorldMb = 200;

// kWorldMb of random bytes in 8 MB region files: zstd cannot make them smaller.
bool MakeWorld(const QString& folder) {
    if (!QDir().mkpath(folder))
        return false;
    std::mt19937_64 random(42);
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    for (int file = 0; file * 8 < kWorldMb; ++file) {
        QFile region(folder + QStringLiteral("/r.%1.mca").arg(file));
        if (!region.open(QIODevice::WriteOnly))
            return false;
        for (int mb = 0; mb < 8 && file * 8 + mb < kWorldMb; ++mb) {
            auto* words = reinterpret_cast<std::uint64_t*>(chunk.data());
            for (qsizetype i = 0; i < chunk.size() / 8; ++i)
                words[i] = random();
            if (region.write(chunk) != chunk.size())
                return false;
        }
    }
    return true;
}

} // namespace

int RunBackupLoadBench(int argc, char** argv, const BenchOptions&) {
    BenchApplication app(argc, argv);
    BenchWorld world;
    if (!world.isValid() || !MakeWorld(world.launcherFolder() + "/worlds/bench"))
        return 1;
    QFile ini(world.launcherFolder() + "/" + InstallationConfig::kFileName);
    if (!ini.open(QIODevice::WriteOnly) ||
        ini.write("[Map Server]\nbackup path = worlds/bench\n") <= 0)
        return 1;
    ini.close();
    BenchLauncher launcher(world);
    launcher.setIntervalSeconds(1);
    launcher.selectTab(3);
    if (launcher.startServers() < 0) {
        std::fprintf(stderr, "the servers did not come online\n");
        return 1;
    }
    ServerBackups& backups = launcher.core().backups();
    bool finished = false, ok = false;
    QString archive;
    QObject::connect(&backups, &ServerBackups::backupFinished,
                     [&](int, bool made, const QString& detail) {
                         finished = true;
                         ok = made;
                         archive = detail;
                     });
    LatencyProbe probe(10);
    probe.start();
    QElapsedTimer took;
    took.start();
    if (!backups.StartBackup(ServerTable::kMap))
        return 1;
    while (!finished && took.elapsed() < 300000)
        BenchLauncher::runEventsFor(50);
    const double seconds = static_cast<double>(took.elapsed()) / 1000;
    probe.stop();
    const std::vector<double>& latencies = probe.latenciesMs();
    const double p99 = measure::Percentile(latencies, 99);
    if (!ok)
        std::fprintf(stderr, "the backup failed: %s\n", qPrintable(archive));
    report::Row(report::Format("backup: %d MB of incompressible files, to .tar.zst", kWorldMb),
                report::Format("events p99 %.1f ms (max %.1f, %zu); backup %.1f s, %.0f MB/s, "
                               "archive %.0f MB",
                               p99, measure::Percentile(latencies, 100), latencies.size(), seconds,
                               kWorldMb / seconds,
                               static_cast<double>(QFileInfo(archive).size()) / (1024 * 1024)),
                "target: p99 60 ms", report::Format("p99 %.2f of target", p99 / kP99TargetMs),
                report::PassIf(ok && !latencies.empty() && p99 <= kP99TargetMs));
    QFile::remove(archive);
    return 0;
}
