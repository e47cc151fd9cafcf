#include "ServerStateMarks.h"

#include "LauncherCore.h"
#include "LauncherOptions.h"
#include "ServerUsageTips.h"
#include "StatusPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QTabBar>

namespace {

using State = ServerSupervisor::State;

// Draws the mark's shape on a square of side s.
void drawMark(QPainter& p, ServerMark mark, qreal s) {
    const qreal m = s / 8; // margin
    const QPen outline(QColor(40, 40, 40), s / 16);
    p.setPen(outline);
    switch (mark) {
    case ServerMark::Running: // a filled disc
        p.setBrush(QColor(0, 160, 0));
        p.drawEllipse(QRectF(m, m, s - 2 * m, s - 2 * m));
        break;
    case ServerMark::Starting: { // a triangle pointing ahead
        p.setBrush(QColor(40, 110, 220));
        const QPointF points[] = {{m, m}, {s - m, s / 2}, {m, s - m}};
        p.drawPolygon(points, 3);
        break;
    }
    case ServerMark::Stopping: // two upright bars
        p.setBrush(QColor(230, 140, 0));
        p.drawRect(QRectF(m, m, s * 0.28, s - 2 * m));
        p.drawRect(QRectF(s - m - s * 0.28, m, s * 0.28, s - 2 * m));
        break;
    case ServerMark::Stopped: // an empty square
        p.setPen(QPen(QColor(110, 110, 110), s / 8));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(m + s / 16, m + s / 16, s - 2 * m - s / 8, s - 2 * m - s / 8));
        break;
    case ServerMark::Crashed: // a cross
        p.setPen(QPen(QColor(220, 0, 0), s / 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(m, m), QPointF(s - m, s - m));
        p.drawLine(QPointF(s - m, m), QPointF(m, s - m));
        break;
    case ServerMark::BackingOff: { // an hourglass
        p.setBrush(QColor(230, 80, 0));
        const QPointF points[] = {{m, m}, {s - m, m}, {m, s - m}, {s - m, s - m}};
        p.drawPolygon(points, 4);
        break;
    }
    case ServerMark::NotWatched: { // a ring: started, its state unknown
        p.setPen(QPen(QColor(110, 110, 110), s / 6));
        p.setBrush(Qt::NoBrush);
        const qreal r = s / 2 - m - s / 12;
        p.drawEllipse(QPointF(s / 2, s / 2), r, r);
        break;
    }
    }
}

class ServerStateMarks : public QObject {
public:
    ServerStateMarks(QTabBar* bar, LauncherCore& core) : QObject(bar), bar_(bar), core_(core) {
        setObjectName(QStringLiteral("serverStateMarks"));
        ServerFleet& fleet = core_.fleet();
        showAll();
        connect(&fleet, &ServerFleet::serverStateChanged, this, &ServerStateMarks::show);
        connect(&core_.resources(), &ResourceSampler::sampled, this, [this] {
            for (int server = 0; server < ServerFleet::kCount && server < bar_->count(); ++server)
                bar_->setTabToolTip(server, ServerTabTip(core_, server));
        });
    }

    void showAll() {
        for (int server = 0; server < ServerFleet::kCount && server < bar_->count(); ++server)
            show(server);
    }

private:
    void show(int server) {
        if (server < 0 || server >= bar_->count())
            return;
        const ServerSupervisor& s = core_.fleet().supervisor(server);
        bar_->setTabIcon(server, MarkIcon(MarkOf(s, ServersWatched(core_.options()))));
        // Also the tab's accessible description; made afresh whenever the tooltip shows.
        bar_->setTabToolTip(server, ServerTabTip(core_, server));
    }

    QTabBar* bar_;
    LauncherCore& core_;
};

} // namespace

bool ServersWatched(const LauncherOptions& options) {
    return options.autoRestart == 1;
}

ServerMark MarkOf(const ServerSupervisor& server, bool watched) {
    switch (server.state()) {
    case State::Starting:
        return ServerMark::Starting;
    case State::Running:
        return watched ? ServerMark::Running : ServerMark::NotWatched;
    case State::Stopping:
        return ServerMark::Stopping;
    case State::CrashedWaiting:
        return server.dueMs() ? ServerMark::BackingOff : ServerMark::Crashed;
    case State::StartFailed:
        return ServerMark::Crashed;
    case State::NotStarted:
    case State::Stopped:
        break;
    }
    return ServerMark::Stopped;
}

QString MarkWord(const ServerSupervisor& server, bool watched) {
    switch (server.state()) {
    case State::NotStarted:
        return QStringLiteral("not started");
    case State::Starting:
        return QStringLiteral("starting");
    case State::Running:
        return watched ? QStringLiteral("running") : QStringLiteral("not watched");
    case State::Stopping:
        return server.restarting() ? QStringLiteral("restarting") : QStringLiteral("stopping");
    case State::Stopped:
        return QStringLiteral("stopped");
    case State::CrashedWaiting:
        return server.dueMs() ? QStringLiteral("backing off") : QStringLiteral("crashed");
    case State::StartFailed:
        return QStringLiteral("could not be started");
    }
    return QString();
}

QIcon MarkIcon(ServerMark mark) {
    return PaintedIcon([mark](QPainter& painter, int size) { drawMark(painter, mark, size); });
}

QString ServerStateLines(const ServerFleet& fleet, bool watched) {
    QStringList lines;
    for (int server = 0; server < ServerFleet::kCount; ++server) {
        const ServerSupervisor& s = fleet.supervisor(server);
        lines << s.name() + QStringLiteral(": ") + MarkWord(s, watched);
    }
    return lines.join(u'\n');
}

void InstallServerStateMarks(QTabBar* bar, LauncherCore& core) {
    new ServerStateMarks(bar, core);
}

void RefreshServerStateMarks(QTabBar* bar) {
    if (auto* marks = bar->findChild<ServerStateMarks*>(QStringLiteral("serverStateMarks"),
                                                        Qt::FindDirectChildrenOnly))
        marks->showAll();
}
