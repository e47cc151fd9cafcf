#include "HistoryRecords.h"

namespace {

struct KindText {
    TimelineEntry::Kind kind;
    const char* name;
};
constexpr KindText kKinds[] = {
    {TimelineEntry::Kind::Start, "start"},
    {TimelineEntry::Kind::Stop, "stop"},
    {TimelineEntry::Kind::Crash, "crash"},
    {TimelineEntry::Kind::Relaunch, "relaunch"},
    {TimelineEntry::Kind::ProbeFailed, "probe failed"},
    {TimelineEntry::Kind::StartFailed, "start failed"},
};

} // namespace

QString TimelineEntry::KindName(Kind kind) {
    for (const KindText& k : kKinds)
        if (k.kind == kind)
            return QString::fromLatin1(k.name);
    return {};
}

std::optional<TimelineEntry::Kind> TimelineEntry::KindNamed(const QString& name) {
    for (const KindText& k : kKinds)
        if (name == QLatin1String(k.name))
            return k.kind;
    return std::nullopt;
}
