#include "AlertFormats.h"

#include "AlertText.h"
#include "AlertWatch.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<AlertFormat, const char*>, 4> kFormatNames{{
    {AlertFormat::Json, "json"},
    {AlertFormat::Discord, "discord"},
    {AlertFormat::Slack, "slack"},
    {AlertFormat::Ntfy, "ntfy"},
}};

constexpr qsizetype kLineChars = 500; // a console line longer than this is cut

const QByteArray kJsonType = "application/json";

// Every string of the alert cleaned, each console line cut to kLineChars.
Alert Cleaned(const Alert& alert) {
    Alert c = alert;
    for (QString* s : {&c.id, &c.host, &c.installation, &c.server, &c.title, &c.report})
        *s = CleanLine(*s);
    c.message = CleanText(c.message).trimmed();
    c.lines.clear();
    for (const QString& line : alert.lines)
        c.lines << CutText(CleanLine(line), kLineChars);
    return c;
}

QString Headline(const Alert& c) {
    return c.title.trimmed().isEmpty() ? "Corvane Launcher: " + Alert::KindName(c.kind)
                                       : c.title.trimmed();
}

QString IsoTime(std::int64_t epochMs) {
    return QDateTime::fromMSecsSinceEpoch(epochMs).toUTC().toString(Qt::ISODateWithMs);
}

QByteArray Compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// The parts of a message, empty ones left out.
QString Joined(const QStringList& parts, const QString& separator) {
    QStringList kept;
    for (const QString& part : parts)
        if (!part.isEmpty())
            kept << part;
    return kept.join(separator);
}

// ---- Discord ------------------------------------------------------------------------------------

// Markdown characters lose their meaning behind a backslash; a zero-width space after each "@"
// keeps @everyone, @here and <@id> from being read as mentions.
void DiscordMarkdown(char32_t c, QString& out) {
    if (c < 0x80 && QByteArrayView("\\*_~`|>#[]()-").contains(char(c)))
        out += u'\\';
    out += QString::fromUcs4(&c, 1);
    if (c == U'@')
        out += u'\u200B';
}

// Inside a code block nothing is markdown, but a backtick could close the block: it becomes a
// modifier letter grave accent, which looks the same.
void DiscordCode(char32_t c, QString& out) {
    if (c == U'`')
        out += u'\u02CB';
    else
        out += QString::fromUcs4(&c, 1);
    if (c == U'@')
        out += u'\u200B';
}

// Text Discord shows as it is (a footer): only mentions are broken.
void DiscordPlain(char32_t c, QString& out) {
    out += QString::fromUcs4(&c, 1);
    if (c == U'@')
        out += u'\u200B';
}

AlertPayload DiscordBody(const Alert& c) {
    const QString headline = Headline(c);
    const QString message = EscapeWithin(c.message, 1500, DiscordMarkdown);
    const QString report = c.report.isEmpty()
                               ? QString()
                               : "Crash report: " + EscapeWithin(c.report, 500, DiscordMarkdown);
    const auto description = [&](const QString& lines) {
        return Joined({message, c.lines.isEmpty() ? QString() : "```\n" + lines + "\n```", report},
                      "\n");
    };
    const qsizetype room = 4096 - description({}).size();

    QJsonObject embed{
        {"title", EscapeWithin(headline, 256, DiscordMarkdown)},
        {"color", c.isTrouble() ? 0xE74C3C : 0x2ECC71},
        {"timestamp", IsoTime(c.epochMs)},
    };
    const QString text = description(NewestLinesWithin(c.lines, room, DiscordCode));
    if (!text.isEmpty())
        embed.insert("description", text);
    const QString footer = Joined(
        {EscapeWithin(c.host, 200, DiscordPlain), EscapeWithin(c.installation, 500, DiscordPlain)},
        QStringLiteral(" \u00B7 "));
    if (!footer.isEmpty())
        embed.insert("footer", QJsonObject{{"text", footer}});
    QJsonArray fields;
    if (c.relaunches >= 0)
        fields.append(QJsonObject{
            {"name", "Relaunches"}, {"value", QString::number(c.relaunches)}, {"inline", true}});
    if (c.durationMs >= 0)
        fields.append(QJsonObject{
            {"name", "Duration"}, {"value", AlertWatch::Duration(c.durationMs)}, {"inline", true}});
    if (!fields.isEmpty())
        embed.insert("fields", fields);

    const QJsonObject body{
        {"content", "**" + EscapeWithin(headline, 256, DiscordMarkdown) + "**"},
        {"embeds", QJsonArray{embed}},
        {"allowed_mentions", QJsonObject{{"parse", QJsonArray{}}}},
    };
    return {Compact(body), kJsonType, {}};
}

// ---- Slack --------------------------------------------------------------------------------------

// Slack reads &, < and > as the start of an entity, a mention or a link; a bare @channel or @here
// is broken as well, should a workspace read those.
void SlackText(char32_t c, QString& out) {
    if (c == U'&')
        out += QLatin1String("&amp;");
    else if (c == U'<')
        out += QLatin1String("&lt;");
    else if (c == U'>')
        out += QLatin1String("&gt;");
    else
        out += QString::fromUcs4(&c, 1);
    if (c == U'@')
        out += u'\u200B';
}

void SlackCode(char32_t c, QString& out) {
    if (c == U'`')
        out += u'\u02CB';
    else
        SlackText(c, out);
}

QJsonObject Mrkdwn(const QString& text) {
    // verbatim: Slack turns no bare name or address of the text into a mention or a link.
    return {{"type", "mrkdwn"}, {"text", text}, {"verbatim", true}};
}

AlertPayload SlackBody(const Alert& c) {
    const QString headline = Headline(c);
    QJsonArray blocks;
    blocks.append(QJsonObject{
        {"type", "header"},
        {"text", QJsonObject{{"type", "plain_text"}, {"text", CutText(headline, 150)}}},
    });
    if (!c.message.isEmpty())
        blocks.append(QJsonObject{{"type", "section"},
                                  {"text", Mrkdwn(EscapeWithin(c.message, 3000, SlackText))}});
    if (!c.lines.isEmpty())
        blocks.append(QJsonObject{
            {"type", "section"},
            {"text", Mrkdwn("```\n" + NewestLinesWithin(c.lines, 3000 - 8, SlackCode) + "\n```")},
        });
    QJsonArray context;
    const auto note = [&](const QString& label, const QString& value) {
        if (!value.isEmpty())
            context.append(Mrkdwn(label + EscapeWithin(value, 500, SlackText)));
    };
    note("Host: ", c.host);
    note("Installation: ", c.installation);
    note("Crash report: ", c.report);
    if (c.relaunches >= 0)
        note("Relaunches: ", QString::number(c.relaunches));
    if (c.durationMs >= 0)
        note("Duration: ", AlertWatch::Duration(c.durationMs));
    if (!context.isEmpty())
        blocks.append(QJsonObject{{"type", "context"}, {"elements", context}});

    const QJsonObject body{
        {"text", EscapeWithin(Joined({headline, c.message}, ": "), 3000, SlackText)},
        {"blocks", blocks},
    };
    return {Compact(body), kJsonType, {}};
}

// ---- ntfy ---------------------------------------------------------------------------------------

constexpr qsizetype kNtfyBytes = 4096; // a longer body becomes an attachment

AlertPayload NtfyBody(const Alert& c) {
    const QString message = EscapeWithin(c.message, 1024, nullptr, TextUnit::Utf8);
    const QString report =
        c.report.isEmpty()
            ? QString()
            : "Crash report: " + EscapeWithin(c.report, 512, nullptr, TextUnit::Utf8);
    const QString fixed = Joined({message, report}, "\n\n");
    QString lines;
    if (!c.lines.isEmpty()) {
        const qsizetype room =
            kNtfyBytes - TextSize(fixed, TextUnit::Utf8) - (fixed.isEmpty() ? 0 : 2);
        lines = NewestLinesWithin(c.lines, room, nullptr, TextUnit::Utf8);
    }
    QString text = Joined({message, lines, report}, "\n\n");
    if (text.isEmpty())
        text = EscapeWithin(Headline(c), kNtfyBytes, nullptr, TextUnit::Utf8);

    const QByteArray tags = c.isTrouble()                   ? "warning"
                            : c.kind == Alert::Kind::BackUp ? "white_check_mark"
                                                            : "information_source";
    return {text.toUtf8(),
            "text/plain; charset=utf-8",
            {
                {"Title", HeaderValue(CutText(Headline(c), 200))},
                {"Priority", c.isTrouble() ? "high" : "default"},
                {"Tags", tags + "," + Alert::KindName(c.kind).toLatin1()},
            }};
}

// ---- json ---------------------------------------------------------------------------------------

AlertPayload JsonBody(const Alert& c) {
    QJsonObject o = c.toJson();
    o.insert("schema", "corvane-alert/1");
    o.insert("time", IsoTime(c.epochMs));
    return {Compact(o), kJsonType, {}};
}

} // namespace

std::optional<AlertFormat> AlertFormatNamed(const QString& name) {
    for (const auto& [format, n] : kFormatNames)
        if (name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return format;
    return std::nullopt;
}

QString AlertFormatName(AlertFormat format) {
    for (const auto& [f, name] : kFormatNames)
        if (f == format)
            return QLatin1String(name);
    return QStringLiteral("json");
}

AlertPayload FormatAlert(const Alert& alert, AlertFormat format) {
    const Alert c = Cleaned(alert);
    switch (format) {
    case AlertFormat::Discord:
        return DiscordBody(c);
    case AlertFormat::Slack:
        return SlackBody(c);
    case AlertFormat::Ntfy:
        return NtfyBody(c);
    case AlertFormat::Json:
        break;
    }
    return JsonBody(c);
}
