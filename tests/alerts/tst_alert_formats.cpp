// The shapes an alert is posted in: each service's body checked against what that service's public
// documentation says it takes, for alerts of every kind and for one whose console lines try markup,
// mentions, terminal sequences and header injection, and run to thousands of lines.
#include "AlertFormats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

namespace {

// What a service would refuse in a body, each rule stated as what it takes.
struct Problems : QStringList {
    void expect(bool ok, const QString& rule) {
        if (!ok)
            append(rule);
    }
};

// Discord's Execute Webhook parameters and its embed limits.
Problems DiscordProblems(const QJsonObject& body) {
    Problems p;
    const auto known = [&](const QJsonObject& o, const QStringList& keys) {
        for (const QString& key : o.keys())
            p.expect(keys.contains(key), "no key " + key);
    };
    const auto within = [&](const QJsonValue& v, qsizetype max, const QString& what) {
        p.expect(v.isUndefined() || v.isString(), what + " is a string");
        p.expect(v.toString().size() <= max, QString("%1 within %2").arg(what).arg(max));
        return v.toString().size();
    };
    known(body,
          {"content", "username", "avatar_url", "tts", "embeds", "allowed_mentions", "components",
           "files", "payload_json", "attachments", "flags", "thread_name", "applied_tags", "poll"});
    within(body["content"], 2000, "content");
    const QJsonArray embeds = body["embeds"].toArray();
    p.expect(!body["content"].toString().isEmpty() || !embeds.isEmpty(), "content or embeds");
    p.expect(embeds.size() <= 10, "at most 10 embeds");
    for (const QJsonValue& e : embeds) {
        const QJsonObject embed = e.toObject();
        known(embed, {"title", "type", "description", "url", "timestamp", "color", "footer",
                      "image", "thumbnail", "video", "provider", "author", "fields"});
        qsizetype total = within(embed["title"], 256, "title") +
                          within(embed["description"], 4096, "description") +
                          within(embed["footer"]["text"], 2048, "footer") +
                          within(embed["author"]["name"], 256, "author");
        p.expect(!embed.contains("footer") || !embed["footer"]["text"].toString().isEmpty(),
                 "a footer has text");
        const QJsonArray fields = embed["fields"].toArray();
        p.expect(fields.size() <= 25, "at most 25 fields");
        for (const QJsonValue& f : fields) {
            p.expect(!f["name"].toString().isEmpty() && !f["value"].toString().isEmpty(),
                     "a field has a name and a value");
            total += within(f["name"], 256, "field name") + within(f["value"], 1024, "field value");
        }
        const double color = embed["color"].toDouble(0);
        p.expect(color >= 0 && color <= 0xFFFFFF && color == int(color), "color is RGB");
        p.expect(!embed.contains("timestamp") ||
                     QDateTime::fromString(embed["timestamp"].toString(), Qt::ISODate).isValid(),
                 "timestamp is ISO 8601");
        p.expect(total <= 6000, QString("an embed within 6000 characters, not %1").arg(total));
    }
    for (const QJsonValue& v : body["allowed_mentions"]["parse"].toArray())
        p.expect(QStringList{"roles", "users", "everyone"}.contains(v.toString()),
                 "allowed_mentions.parse of roles, users, everyone");
    return p;
}

// Slack's incoming webhook: a text, and Block Kit blocks.
Problems SlackProblems(const QJsonObject& body) {
    Problems p;
    const auto textObject = [&](const QJsonValue& v, qsizetype max, bool plainOnly) {
        const QString type = v["type"].toString();
        p.expect(type == "plain_text" || (!plainOnly && type == "mrkdwn"), "text type " + type);
        const qsizetype n = v["text"].toString().size();
        p.expect(n >= 1 && n <= max,
                 QString("a text of 1 to %1 characters, not %2").arg(max).arg(n));
    };
    p.expect(!body["text"].toString().isEmpty(), "a text");
    const QJsonArray blocks = body["blocks"].toArray();
    p.expect(blocks.size() <= 50, "at most 50 blocks");
    for (const QJsonValue& block : blocks) {
        const QString type = block["type"].toString();
        p.expect(QStringList{"actions", "context", "divider", "file", "header", "image", "input",
                             "markdown", "rich_text", "section", "video"}
                     .contains(type),
                 "no block type " + type);
        if (type == "header")
            textObject(block["text"], 150, true);
        if (type == "section" && block["text"].isObject())
            textObject(block["text"], 3000, false);
        p.expect(type != "section" || block["text"].isObject() || block["fields"].isArray(),
                 "a section has text or fields");
        const QJsonArray elements = block["elements"].toArray();
        p.expect(type != "context" || (!elements.isEmpty() && elements.size() <= 10),
                 "a context has 1 to 10 elements");
        for (const QJsonValue& element : elements)
            if (type == "context" && element["type"].toString() != "image")
                textObject(element, 3000, false);
    }
    return p;
}

// An ntfy publish: the body is the message, Title, Priority and Tags come as headers.
Problems NtfyProblems(const AlertPayload& payload) {
    Problems p;
    p.expect(payload.body.size() <= 4096, "a body within 4096 bytes");
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(payload.body);
    p.expect(!utf8.hasError() && !text.contains(QChar::ReplacementCharacter), "a UTF-8 body");
    QStringList names;
    for (const auto& [name, value] : payload.headers) {
        names << name;
        for (const char c : value)
            p.expect(uchar(c) >= 0x20 && uchar(c) <= 0x7E, name + " of printable ASCII");
        for (const QByteArray& word : value.split(' '))
            p.expect(!word.startsWith("=?") || word.size() <= 75, "encoded words of 75 at most");
        p.expect(name != "Priority" || QByteArrayList{"min", "low", "default", "high", "urgent",
                                                      "max", "1", "2", "3", "4", "5"}
                                           .contains(value),
                 "Priority " + value);
        p.expect(name != "Tags" ||
                     QRegularExpression("^[^,\\s]+(,[^,\\s]+)*$").match(value).hasMatch(),
                 "Tags " + value);
    }
    p.expect(names.contains("Title") && names.removeDuplicates() == 0, "one Title, each once");
    return p;
}

QJsonObject Parsed(const AlertPayload& payload) {
    return QJsonDocument::fromJson(payload.body).object();
}

// Every string of a JSON body.
QStringList StringsOf(const QJsonValue& v) {
    QStringList all;
    if (v.isString())
        all << v.toString();
    for (const QJsonValue& item : v.toArray())
        all << StringsOf(item);
    for (const QJsonValue& item : v.toObject())
        all << StringsOf(item);
    return all;
}

// Titles of ntfy headers come back as ntfy reads them: RFC 2047 words decoded.
QString Decoded(const QByteArray& value) {
    static const QRegularExpression word(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)");
    if (!value.startsWith("=?"))
        return QString::fromLatin1(value);
    QByteArray bytes;
    for (const auto& m : word.globalMatch(QString::fromLatin1(value)))
        bytes += QByteArray::fromBase64(m.captured(1).toLatin1());
    return QString::fromUtf8(bytes);
}

QByteArray Header(const AlertPayload& payload, const QByteArray& name) {
    for (const auto& [n, value] : payload.headers)
        if (n == name)
            return value;
    return {};
}

const QString kMarkup[] = {
    "**bold** __u__ ~~s~~ `tick` | > # [click](http://evil)",
    "<!channel> <@U123> <http://evil|click> & done",
    "@everyone @here <@123456> <@&42>",
    "```",
    "``` closing the block ```",
    "\x1b[1;31mRED\x1b[0m \x1b]0;evil title\aafter \x1b]8;;http://evil\x1b\\link\x1b]8;;\x1b\\",
    QString("bell\a nul") + QChar(0) + "\ttab",
    "NEWEST line",
};

Alert Hostile() {
    Alert a;
    a.kind = Alert::Kind::CrashBegan;
    a.id = "hostile-1";
    a.epochMs = 1765000000123;
    a.host = "box\r\nX-Injected: 1";
    a.installation = "/srv/@everyone";
    a.server = "Map Server\r\nPriority: urgent";
    a.title = "Map Server\r\nTags: skull\ncrashed";
    a.message = "**bold** [click](http://evil) <http://evil|click> @everyone \x1b[2J";
    a.lines << "OLDEST line";
    for (int i = 0; i < 4000; ++i)
        a.lines << QString::number(i).leftJustified(300, u'x');
    for (const QString& line : kMarkup)
        a.lines << line;
    a.report = "/srv/crash_report_*.txt";
    a.relaunches = 3;
    a.durationMs = 125000;
    return a;
}

QList<QPair<QString, Alert>> Alerts() {
    QList<QPair<QString, Alert>> all;
    for (int k = 0; k <= int(Alert::Kind::Test); ++k) {
        Alert a;
        a.kind = Alert::Kind(k);
        a.id = QString("id-%1").arg(k);
        a.epochMs = 1765000000000 + k;
        a.host = "gamebox";
        a.installation = "/srv/game";
        a.server = k < 6 ? "Map Server" : "";
        a.title = a.server + " " + Alert::KindName(a.kind);
        a.message = "It happened.";
        a.lines = QStringList{"[Info] Loading maps", "[Error] Segmentation fault"}.mid(0, k % 3);
        a.report = k == 0 ? "/srv/game/crash.txt" : "";
        a.relaunches = k == 2 || k == 3 ? k : -1;
        a.durationMs = k == 3 ? 3725000 : -1;
        all << qMakePair(Alert::KindName(a.kind), a);
    }
    all << qMakePair(QString("nothing but a kind"), Alert{});
    Alert wide;
    wide.id = "wide";
    wide.title = "Größe 世界 🚀";
    wide.message = QString(2000, QChar(0x4E16));
    for (int i = 0; i < 50; ++i)
        wide.lines << QString("Größe 世界 🚀 ").repeated(40);
    all << qMakePair(QString("multi-byte"), wide) << qMakePair(QString("hostile"), Hostile());
    return all;
}

} // namespace

class AlertFormatsTest : public QObject {
    Q_OBJECT
private slots:
    void formatNames() {
        for (const AlertFormat f :
             {AlertFormat::Json, AlertFormat::Discord, AlertFormat::Slack, AlertFormat::Ntfy})
            QVERIFY(AlertFormatNamed(AlertFormatName(f).toUpper()) == f);
        QVERIFY(!AlertFormatNamed("teams"));
    }

    // Every alert, in every service's shape, is one that service takes; trouble looks like it.
    void eachServiceTakesTheBody_data() {
        QTest::addColumn<Alert>("alert");
        QTest::addColumn<AlertFormat>("format");
        for (const auto& [name, alert] : Alerts())
            for (const AlertFormat f :
                 {AlertFormat::Discord, AlertFormat::Slack, AlertFormat::Ntfy})
                QTest::addRow("%s %s", qPrintable(name), qPrintable(AlertFormatName(f)))
                    << alert << f;
    }
    void eachServiceTakesTheBody() {
        QFETCH(Alert, alert);
        QFETCH(AlertFormat, format);
        const AlertPayload payload = FormatAlert(alert, format);
        const QStringList problems = format == AlertFormat::Ntfy ? NtfyProblems(payload)
                                     : format == AlertFormat::Discord
                                         ? DiscordProblems(Parsed(payload))
                                         : SlackProblems(Parsed(payload));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
        if (format == AlertFormat::Discord)
            QCOMPARE(Parsed(payload)["embeds"][0]["color"].toInt(),
                     alert.isTrouble() ? 0xE74C3C : 0x2ECC71);
        if (format == AlertFormat::Ntfy)
            QCOMPARE(Header(payload, "Priority"),
                     QByteArray(alert.isTrouble() ? "high" : "default"));
    }

    // Markup, mentions and terminal sequences from the console reach no one as such.
    void hostileTextArrivesEscaped() {
        const Alert hostile = Hostile();
        const QJsonObject discord = Parsed(FormatAlert(hostile, AlertFormat::Discord));
        const QString all = StringsOf(discord).join('\n');
        for (const char* ping : {"@everyone", "@here", "<@1", "<@&", "\x1b", "[1;31m"})
            QVERIFY2(!all.contains(ping), ping);
        QCOMPARE(discord["allowed_mentions"]["parse"].toArray(), QJsonArray());
        const QStringList blocks = discord["embeds"][0]["description"].toString().split("```");
        QCOMPARE(blocks.size(), 3); // one code block, its fence twice
        QVERIFY(blocks[1].contains("**bold**") && !blocks[1].contains('`'));
        QVERIFY(blocks[1].contains("RED after link\n"));
        QVERIFY(blocks[0].contains(R"(\*\*bold\*\* \[click\]\(http://evil\))"));
        QVERIFY(!(blocks[0] + blocks[2]).contains(QRegularExpression(R"((^|[^\\])[*_\[(])")));

        const QJsonObject slack = Parsed(FormatAlert(hostile, AlertFormat::Slack));
        QStringList mrkdwn{slack["text"].toString()};
        for (const QJsonValue& block : slack["blocks"].toArray()) {
            mrkdwn << block["text"]["text"].toString();
            for (const QJsonValue& element : block["elements"].toArray())
                mrkdwn << element["text"].toString();
            QVERIFY(!block["text"]["text"].toString().contains('\n') || block["type"] != "header");
        }
        const QString slackText = mrkdwn.join('\n');
        for (const char* raw : {"<", ">", "@everyone", "@here", "\x1b"})
            QVERIFY2(!slackText.contains(raw), raw);
        QVERIFY(
            slackText.contains("&lt;!channel&gt; &lt;@\u200BU123&gt; &lt;http://evil|click&gt;"));
        QCOMPARE(slackText.count("```"), 2);

        const AlertPayload ntfy = FormatAlert(hostile, AlertFormat::Ntfy);
        QCOMPARE(Header(ntfy, "Title"), QByteArray("Map Server Tags: skull crashed"));
        QVERIFY(!ntfy.body.contains('\x1b') && !ntfy.body.contains('\a') &&
                !ntfy.body.contains('\0'));
        QVERIFY(ntfy.body.contains("RED after link\nbell nul tab\nNEWEST line"));
    }

    // Cut to a service's limit, the newest lines stay and the oldest go, and it says so.
    void newestLinesSurviveCuts() {
        for (const AlertFormat f : {AlertFormat::Discord, AlertFormat::Slack, AlertFormat::Ntfy}) {
            const QString body = QString::fromUtf8(FormatAlert(Hostile(), f).body);
            QVERIFY2(body.contains("NEWEST line") && !body.contains("OLDEST line"),
                     qPrintable(AlertFormatName(f)));
            QVERIFY(QRegularExpression("\u2026 (\\d{4}) earlier lines").match(body).hasMatch());
        }
        Alert a;
        a.id = "long";
        a.lines = QStringList{QString(600, u'a'), QString("🚀").repeated(300)};
        const auto back = Alert::fromJson(Parsed(FormatAlert(a, AlertFormat::Json)));
        QVERIFY(back);
        QCOMPARE(back->lines[0], QString(499, u'a') + "\u2026");
        QCOMPARE(back->lines[1], QString("🚀").repeated(249) + "\u2026");
    }

    // The launcher's own shape is its alert's fields, cleaned, with its schema and time.
    void jsonRoundTrips() {
        Alert a = Hostile();
        a.lines = {"\x1b[1;31mERROR\x1b[0m disk\tfull", "\x1b]0;title\x07plain", "bell\ahere\r"};
        const QJsonObject o = Parsed(FormatAlert(a, AlertFormat::Json));
        QCOMPARE(o["schema"].toString(), "corvane-alert/1");
        QCOMPARE(o["time"].toString(), "2025-12-06T05:46:40.123Z");
        const auto back = Alert::fromJson(o);
        QVERIFY(back);
        QCOMPARE(back->id, a.id);
        QCOMPARE(back->kind, a.kind);
        QCOMPARE(back->lines, QStringList({"ERROR disk full", "plain", "bellhere"}));
        QCOMPARE(back->title, "Map Server Tags: skull crashed");
        QCOMPARE(back->relaunches, 3);
    }

    // Text beyond ASCII arrives whole: in a header as encoded words, in a body never split.
    void nonAsciiSurvives() {
        const Alert wide = Alerts().at(10).second;
        const AlertPayload ntfy = FormatAlert(wide, AlertFormat::Ntfy);
        QCOMPARE(Decoded(Header(ntfy, "Title")), "Größe 世界 🚀");
        QVERIFY(ntfy.body.startsWith((QString(340, QChar(0x4E16)) + "\u2026\n\n").toUtf8()));
        const QJsonObject discord = Parsed(FormatAlert(wide, AlertFormat::Discord));
        QCOMPARE(discord["content"].toString(), "**Größe 世界 🚀**");
        QVERIFY(discord["embeds"][0]["description"].toString().startsWith(
            QString(1499, QChar(0x4E16)) + "\u2026"));
    }
};

QTEST_GUILESS_MAIN(AlertFormatsTest)
#include "tst_alert_formats.moc"
