#include "ControlProtocol.h"

#include "CommandLineText.h"
#include "ServerTable.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <array>

namespace {

// The fields a request may hold, with their JSON types.
bool KnownField(const QString& key, QJsonValue::Type type) {
    static const QHash<QString, QJsonValue::Type> fields{
        {QStringLiteral("verb"), QJsonValue::String},
        {QStringLiteral("servers"), QJsonValue::Array},
        {QStringLiteral("text"), QJsonValue::String},
        {QStringLiteral("archive"), QJsonValue::String},
        {QStringLiteral("lines"), QJsonValue::Double},
        {QStringLiteral("follow"), QJsonValue::Bool},
        {QStringLiteral("yes"), QJsonValue::Bool}};
    const auto found = fields.constFind(key);
    return found != fields.constEnd() && *found == type;
}

// Whatever a client sent comes back shown, never as control characters, and short.
QString Shown(const QString& text) {
    return CommandLineText::ShowControlCharacters(text.left(40));
}

} // namespace

ControlRequest ControlRequest::Parse(const QByteArray& line) {
    ControlRequest r;
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject()) {
        r.refusal = QStringLiteral("the request is not a JSON object");
        return r;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!KnownField(it.key(), it.value().type())) {
            r.refusal = QStringLiteral("the request holds an unknown or mistyped field: ") +
                        Shown(it.key());
            return r;
        }
    r.verb = object.value(QStringLiteral("verb")).toString();
    r.text = object.value(QStringLiteral("text")).toString();
    r.archive = object.value(QStringLiteral("archive")).toString();
    r.follow = object.value(QStringLiteral("follow")).toBool();
    r.yes = object.value(QStringLiteral("yes")).toBool();
    const double lines = object.value(QStringLiteral("lines")).toDouble(20);
    if (lines < 1 || lines > kMaxLines || lines != int(lines)) {
        r.refusal = QStringLiteral("the number of lines is not one from 1 to %1").arg(kMaxLines);
        return r;
    }
    r.lines = int(lines);
    std::array<bool, ServerTable::kCount> named{};
    for (const QJsonValue& value : object.value(QStringLiteral("servers")).toArray()) {
        const int server = ServerTable::IndexOfName(value.toString());
        if (server < 0) {
            r.refusal = QStringLiteral("no such server: ") + Shown(value.toString());
            return r;
        }
        named[server] = true;
    }
    for (int i = 0; i < ServerTable::kCount; ++i)
        if (named[i])
            r.servers << i;
    return r;
}

namespace ControlAnswer {

QByteArray Line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray Done(const QString& message) {
    return Line({{QStringLiteral("ok"), true}, {QStringLiteral("message"), message}});
}

QByteArray Refused(const QString& why) {
    return Line({{QStringLiteral("ok"), false}, {QStringLiteral("message"), why}});
}

QByteArray Lines(const QStringList& lines) {
    return Line({{QStringLiteral("ok"), true},
                 {QStringLiteral("lines"), QJsonArray::fromStringList(lines)}});
}

QStringList LastLines(const QStringList& lines, int count) {
    qsizetype from = lines.size(), chars = 0;
    while (from > 0 && lines.size() - from < count &&
           (chars += lines[from - 1].size() + 1) <= ControlRequest::kMaxAnswerChars)
        --from;
    return lines.mid(from);
}

} // namespace ControlAnswer
