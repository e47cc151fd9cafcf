// The shapes an alert is posted in: each service's body checked against what that service's public
// documentation says it takes, for alerts of every kind and for one whose console lines try markup,
// mentions, terminal sequences and header injection, and run to thousands of lines.
#include "AlertFormats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

namespace {

// What a service would refuse in a body, each rule stated as what it takes.
struct Problems : QStringList {
    void expect(bool ok, const QString& rule) {
        if (!ok)
            append(rule);
    }
    void among(const QString& value, const QString& known, const QString& what) {
        expect(known.split(' ').contains(value), what + " " + value);
    }
    qsizetype within(const QJsonValue& v, qsizetype max, const QString& what, qsizetype min = 0) {
        const qsizetype n = v.toString().size();
        expect((v.isUndefined() || v.isString()) && n >= min && n <= max,
               QString("%1 of %2 to %3 characters, not %4").arg(what).arg(min).arg(max).arg(n));
        return n;
    }
};

// Discord's Execute Webhook parameters and its embed limits.
Problems DiscordProblems(const QJsonObject& body, bool trouble) {
    Problems p;
    p.within(body["content"], 2000, "content");
    for (const QJsonValue& embed : body["embeds"].toArray()) {
        for (const QString& key : embed.toObject().keys())
            p.among(key,
                    "title type description url timestamp color footer image thumbnail video "
                    "provider author fields",
                    "no key");
        qsizetype total =
            p.within(embed["title"], 256, "title") +
            p.within(embed["description"], 4096, "description") +
            p.within(embed["footer"]["text"], 2048, "footer", embed["footer"].isObject());
        for (const QJsonValue& f : embed["fields"].toArray())
            total += p.within(f["name"], 256, "name", 1) + p.within(f["value"], 1024, "value", 1);
        const QString time = embed["timestamp"].toString();
        p.expect(QDateTime::fromString(time, Qt::ISODate).isValid(), "an ISO 8601 timestamp");
        p.expect(embed["color"] == (trouble ? 0xE74C3C : 0x2ECC71), "red for trouble, else green");
        p.expect(total <= 6000, QString("an embed within 6000 characters, not %1").arg(total));
    }
    return p;
}

// Slack's incoming webhook: a text, and Block Kit blocks; a header is one plain line.
Problems SlackProblems(const QJsonObject& body) {
    Problems p;
    const auto text = [&](const QJsonValue& v, qsizetype max, bool header) {
        const QString type = v["type"].toString();
        p.expect(type == "plain_text" || (!header && type == "mrkdwn"), "text type " + type);
        p.expect(!header || !v["text"].toString().contains('\n'), "a header of one line");
        p.within(v["text"], max, "a text", 1);
    };
    p.within(body["text"], 40000, "text", 1);
    for (const QJsonValue& block : body["blocks"].toArray()) {
        const QString type = block["type"].toString();
        p.among(type,
                "actions context divider file header image input markdown rich_text section "
                "video",
                "no block type");
        if (type == "header" || (type == "section" && block["text"].isObject()))
            text(block["text"], type == "header" ? 150 : 3000, type == "header");
        const QJsonArray elements = block["elements"].toArray();
        p.expect(type != "context" || (!elements.isEmpty() && elements.size() <= 10),
                 "a context has 1 to 10 elements");
        for (const QJsonValue& element : elements)
            if (type == "context" && element["type"].toString() != "image")
                text(element, 3000, false);
    }
    return p;
}

// An ntfy publish: the body is the message, Title, Priority and Tags come as headers.
Problems NtfyProblems(const AlertPayload& ntfy, bool trouble) {
    Problems p;
    p.expect(ntfy.body.size() <= 4096 && QString::fromUtf8(ntfy.body).toUtf8() == ntfy.body,
             "a UTF-8 body within 4096 bytes");
    QStringList names;
    for (const auto& [name, bytes] : ntfy.headers) {
        const QString value = QString::fromLatin1(bytes);
        names << name;
        p.expect(!value.contains(QRegularExpression("[^ -~]")), name + " of printable ASCII");
        for (const QString& word : value.split(' '))
            p.expect(!word.startsWith("=?") || word.size() <= 75, "encoded words of 75 at most");
        p.expect(name != "Priority" || value == (trouble ? "high" : "default"), "Priority");
        p.expect(name != "Tags" || value.contains(QRegularExpression("^[^,\\s]+(,[^,\\s]+)*$")),
                 "Tags " + value);
    }
    p.expect(names.contains("Title") && names.removeDuplicates() == 0, "one Title, each once");
    return p;
}

QJsonObject Parsed(const AlertPayload& p) {
    return QJsonDocument::fromJson(p.body).object();
}

QByteArray Header(const AlertPayload& payload, const QByteArray& name) {
    return std::map(payload.headers.begin(), payload.headers.end())[name];
}

// clang-format off
// Thousands of console lines, the last ones trying markup, mentions and terminal sequences.
Alert Hostile() {
    Alert a{Alert::Kind::CrashBegan, "hostile-1", 1765000000123, "box\r\nX-Injected: 1",
            "/srv/@everyone", "Map Server\r\nPriority: urgent", "Map Server\r\nTags: skull\ncrashed",
            "**bold** [click](http://evil) <http://evil|click> @everyone \x1b[2J", {"OLDEST line"},
            "/srv/crash_report_*.txt", 3, 125000};
    a.lines += QStringList(4000, QString(300, u'x'));
    a.lines << "**bold** __u__ ~~s~~ `tick` | > # [click](http://evil)"
            << "<!channel> <@U123> <http://evil|click> & done" << "@everyone @here <@123456> <@&42>"
            << "```" << "``` closing the block ```"
            << "\x1b[1;31mRED\x1b[0m \x1b]0;evil title\aafter \x1b]8;;http://evil\x1b\\link\x1b]8;;\x1b\\"
            << QString("bell\a nul") + QChar(0) + "\ttab" << "NEWEST line";
    return a;
}

Alert Wide() {
    return {Alert::Kind::Test, "wide", 0, "", "", "", "Größe 世界 🚀", QString(2000, QChar(0x4E16)),
            QStringList(50, QString("Größe 世界 🚀 ").repeated(40)), "", -1, -1};
}
// clang-format on

} // namespace

class AlertFormatsTest : public QObject {
    Q_OBJECT
private slots:
    // Every alert, in every service's shape, is one that service takes; trouble looks like it.
    void eachServiceTakesTheBody_data() {
        QTest::addColumn<Alert>("alert");
        QTest::addColumn<AlertFormat>("format");
        QList<Alert> alerts{Alert{}, Wide(), Hostile()};
        for (int k = 0; k <= int(Alert::Kind::Test); ++k) {
            const QString server = k < 7 ? "Map Server" : "";
            // clang-format off
            alerts << Alert{Alert::Kind(k), QString("id-%1").arg(k), 1765000000000 + k, "gamebox",
                            "/srv/game", server, server + " " + Alert::KindName(Alert::Kind(k)),
                            "It happened.", QStringList{"[Info] Loading maps", "[Error] Segmentation fault"}.mid(0, k % 3),
                            k == 0 ? "/srv/game/crash.txt" : "", k == 2 || k == 3 ? k : -1, k == 3 ? 3725000 : -1};
            // clang-format on
        }
        for (const Alert& alert : alerts)
            for (const auto f : {AlertFormat::Discord, AlertFormat::Slack, AlertFormat::Ntfy})
                QTest::addRow("%s %s", qPrintable(alert.id), qPrintable(AlertFormatName(f)))
                    << alert << f;
    }
    void eachServiceTakesTheBody() {
        QFETCH(Alert, alert);
        QFETCH(AlertFormat, format);
        const AlertPayload payload = FormatAlert(alert, format);
        const Problems problems =
            format == AlertFormat::Ntfy      ? NtfyProblems(payload, alert.isTrouble())
            : format == AlertFormat::Discord ? DiscordProblems(Parsed(payload), alert.isTrouble())
                                             : SlackProblems(Parsed(payload));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
        QVERIFY(AlertFormatNamed(AlertFormatName(format).toUpper()) == format &&
                !AlertFormatNamed("teams"));
    }

    // Text from the console and the alert arrives cleaned: markup, mentions, terminal sequences
    // and control characters reach no one as such, and a header is one safe line. Text too long is
    // cut within the limit, never inside a character; of the console lines the newest stay and the
    // oldest go, and it says so. The launcher's own shape is its alert's fields, cleaned and cut,
    // with its schema and time. Each body matches its patterns and holds none of its texts.
    void textArrivesCleanedAndCut() {
        const QString newest = "\u2026 \\d{4} earlier lines[\\s\\S]*NEWEST line";
        // clang-format off
        Alert json = Hostile();
        json.lines = {"\x1b[1;31mERROR\x1b[0m disk\tfull", "\x1b]0;title\x07plain", "bell\ahere\r", QString(600, u'a'), QString("🚀").repeated(300)};
        const QStringList never{"\x1b", "[1;31m", "\a", QString(QChar(0)), "\\u00", "OLDEST line"};
        const struct { Alert alert; AlertFormat format; QStringList match, absent; } rows[] = {
            {Hostile(), AlertFormat::Discord, {newest, R"(RED after link\\n)"}, {"@everyone", "@here", "<@1", "<@&"}},
            {Hostile(), AlertFormat::Slack, {newest, "&lt;!channel&gt; &lt;@\u200BU123&gt; &lt;http://evil\\|click&gt;"}, {"<", ">", "@everyone", "@here"}},
            {Hostile(), AlertFormat::Ntfy, {newest, "RED after link\nbell nul tab\nNEWEST line"}, {}},
            {Wide(), AlertFormat::Discord, {"\"content\":\"\\*\\*Größe 世界 🚀\\*\\*\"", "\"description\":\"世{1499}…"}, {}},
            {Wide(), AlertFormat::Ntfy, {"^世{340}…\n\n"}, {}},
            {json, AlertFormat::Json, {R"("lines":\["ERROR disk full","plain","bellhere","a{499}…","(🚀){249}…"\])",
                                       R"("schema":"corvane-alert/1")", R"("time":"2025-12-06T05:46:40.123Z")",
                                       R"("title":"Map Server Tags: skull crashed")"}, {"\\r", "\\t"}}};
        // clang-format on
        for (const auto& [alert, format, match, absent] : rows) {
            const QString body = QString::fromUtf8(FormatAlert(alert, format).body);
            for (const QString& pattern : match)
                QVERIFY2(body.contains(QRegularExpression(pattern)), qPrintable(pattern));
            // In a JSON body a control character would be a \u00 escape.
            for (const QString& text : absent + never)
                QVERIFY2(!body.contains(text), qPrintable(AlertFormatName(format) + ' ' + text));
        }
        const QJsonObject discord = Parsed(FormatAlert(Hostile(), AlertFormat::Discord));
        QCOMPARE(discord["allowed_mentions"].toObject(), QJsonObject({{"parse", QJsonArray()}}));
        const QStringList blocks = discord["embeds"][0]["description"].toString().split("```");
        QCOMPARE(blocks.size(), 3); // one code block, its fence twice
        QVERIFY(blocks[1].contains("**bold**") && !blocks[1].contains('`'));
        QVERIFY(blocks[0].contains(R"(\*\*bold\*\* \[click\]\(http://evil\))"));
        QVERIFY(!(blocks[0] + blocks[2]).contains(QRegularExpression(R"((^|[^\\])[*_\[(])")));
        QCOMPARE(FormatAlert(Hostile(), AlertFormat::Slack).body.count("```"), 2);
        QCOMPARE(Header(FormatAlert(Hostile(), AlertFormat::Ntfy), "Title"),
                 "Map Server Tags: skull crashed");
        const QByteArray title = Header(FormatAlert(Wide(), AlertFormat::Ntfy), "Title"); // encoded
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(title.mid(10, title.size() - 12))),
                 "Größe 世界 🚀");
    }
};

QTEST_GUILESS_MAIN(AlertFormatsTest)
#include "tst_alert_formats.moc"
