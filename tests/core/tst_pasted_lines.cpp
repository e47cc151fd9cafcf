// A paste of several lines for a server's console, with no window: how it is split into lines,
// how each is judged as a typed line is (one that cannot go keeps them all back), what the
// operator is shown, and what reaches the console of the server it was meant for.
#include "CoreHarness.h"
#include "PastedLines.h"

namespace {

QString Repeated(int count, const QString& line) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << line;
    return lines.join(u'\n');
}

} // namespace

class PastedLinesTest : public QObject {
    Q_OBJECT
private slots:
    void splitAtLineBreaks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("empty");
        QTest::addColumn<bool>("asked"); // the operator must confirm
        QTest::newRow("three lines")
            << "save\nstatus\nsay hi" << QStringList{"save", "status", "say hi"} << 0 << true;
        QTest::newRow("a copied block's last break") << "save\r\nstatus\r\n"
                                                     << QStringList{"save", "status"} << 0 << true;
        QTest::newRow("carriage returns alone") << "a\rb\r" << QStringList{"a", "b"} << 0 << true;
        QTest::newRow("empty lines left out") << "\na\n\n\r\nb\n\n"
                                              << QStringList{"a", "b"} << 4 << true;
        QTest::newRow("a blank line is a line")
            << "a\n  \nb" << QStringList{"a", "  ", "b"} << 0 << true;
        QTest::newRow("one line and its break") << "status\n"
                                                << QStringList{"status"} << 0 << false;
        QTest::newRow("one line among empty ones") << "\n\nstatus\n\n"
                                                   << QStringList{"status"} << 3 << false;
        QTest::newRow("no break at all") << "status" << QStringList{"status"} << 0 << false;
        QTest::newRow("breaks only") << "\r\n\n" << QStringList{} << 2 << false;
    }
    void splitAtLineBreaks() {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QFETCH(int, empty);
        QFETCH(bool, asked);
        const PastedLines paste(text);
        QCOMPARE(paste.lines(), lines);
        QCOMPARE(paste.emptyLines(), empty);
        QCOMPARE(paste.needsConfirmation(), asked);
        QCOMPARE(paste.hadLineBreak(), text.contains(u'\n') || text.contains(u'\r'));
    }

    // Each line is judged as a typed one; one that cannot go keeps every line back, and the
    // refusal names it by its number in the preview.
    void oneBadLineKeepsAllBack_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("refusal"); // empty: all may go
        const QString controls = "the line holds control characters (shown as \u2403 and the like)";
        const QString whole = "\nA paste goes whole or not at all: nothing sent.";
        QTest::newRow("plain") << "save\nstatus"
                               << "";
        QTest::newRow("a tab") << "save\nsay\thi\nstatus"
                               << "Line 2: " + controls + "." + whole;
        QTest::newRow("Ctrl-C") << QString("status\nstop") + QChar(3)
                                << "Line 2: " + controls + "." + whole;
        QTest::newRow("a picture typed in")
            << QString("a\nb\nc \u241A") << "Line 3: " + controls + "." + whole;
        QTest::newRow("longest line") << "a\n" + QString(4095, u'y') << "";
        QTest::newRow("one byte longer")
            << "a\n" + QString(4096, u'y') + "\nb"
            << "Line 2: the line is 4096 bytes, longer than a console takes (4095)." + whole;
        QTest::newRow("bytes, not characters") << "a\n" + QString(2048, u'\u00e9') // 2 bytes each
                                               << "Line 2: the line is 4096 bytes, longer than a "
                                                  "console takes (4095)." +
                                                      whole;
        QTest::newRow("the first three named")
            << QString("a\tb\nok\nc\td\ne\tf\ng\th\ni\tj")
            << "Line 1: " + controls + ".\nLine 3: " + controls + ".\nLine 4: " + controls +
                   ".\n2 more lines cannot go either." + whole;
        QTest::newRow("100 lines") << Repeated(100, "status") << "";
        QTest::newRow("empty lines do not count") << Repeated(100, "status") + "\n\n\n\n"
                                                  << "";
        QTest::newRow("101 lines")
            << Repeated(101, "status")
            << "The paste holds 101 lines, more than one paste may send (100): nothing sent.";
    }
    void oneBadLineKeepsAllBack() {
        QFETCH(QString, text);
        QFETCH(QString, refusal);
        QCOMPARE(PastedLines(text).refusal(), refusal);
    }

    // The operator sees how many lines go where, and each line as it goes: numbered, never a raw
    // control character, a line too long for a console cut with a mark, at most 100 lines.
    void questionAndPreview() {
        const PastedLines three("save\n\nsay\thi\x03\nstatus\n");
        QCOMPARE(three.question("Map Server"),
                 "Send 3 lines to the Map Server console? (1 empty line left out)");
        QCOMPARE(three.preview(), "1  save\n2  say\u2409hi\u2403\n3  status");
        QCOMPARE(PastedLines("a\nb\n\n\n").question("Char Server"),
                 "Send 2 lines to the Char Server console? (2 empty lines left out)");

        const QString longLine = QString(4095, u'y') + "zzz";
        const QString cut = PastedLines("a\n" + longLine).preview();
        QCOMPARE(cut, "1  a\n2  " + QString(4095, u'y') + " [\u2026 3 more characters]");

        const QStringList many = PastedLines(Repeated(250, "x")).preview().split(u'\n');
        QCOMPARE(many.size(), 101);
        QCOMPARE(many.first(), "  1  x");
        QCOMPARE(many[99], "100  x");
        QCOMPARE(many.last(), "[\u2026 150 more lines]");
    }

    // The lines go to the server the paste was meant for, whichever console the pane shows now,
    // one by one with their Enter; none when one cannot go or the server is not running, and a
    // console that stops taking them is told, never passed over in silence.
    void linesReachTheServerTheyWereMeantFor() {
        CoreHarness h;
        h.startedCore();
        h.apis.consoles["Map Server"] = "ready";
        ConsoleMirror& mirror = h.core().mirror();
        mirror.SelectServer(ServerTable::kLogin);
        ConsoleMirror::LinesOutcome sent =
            mirror.SendLines(ServerTable::kMap, PastedLines("save\n\nsay \"hi\"\nstatus\n"));
        QCOMPARE(h.apis.argsOf("SendConsoleInput"),
                 QStringList({"Map Server\nsave", "Map Server\nsay \"hi\"", "Map Server\nstatus"}));
        QCOMPARE(sent.sent, QStringList({"save", "say \"hi\"", "status"}));
        QCOMPARE(sent.note, "");

        sent = mirror.SendLines(ServerTable::kMap, PastedLines("save\nsay\thi"));
        QCOMPARE(sent.note, "the paste holds lines that cannot go: nothing sent");
        sent = mirror.SendLines(ServerTable::kMap, PastedLines(Repeated(101, "x")));
        QCOMPARE(sent.note, "the paste holds lines that cannot go: nothing sent");
        QCOMPARE(h.apis.count("SendConsoleInput"), 3);

        int typed = 0; // the console goes away after two lines
        h.apis.onCall = [&](const QString& op) {
            if (op == "SendConsoleInput" && ++typed == 3)
                h.apis.consoles.remove("Map Server");
        };
        sent = mirror.SendLines(ServerTable::kMap, PastedLines("a\nb\nc\nd"));
        QCOMPARE(sent.sent, QStringList({"a", "b"}));
        QCOMPARE(sent.note, "Map Server took 2 of 4 lines: the rest were not sent");
        h.apis.onCall = nullptr;

        h.apis.consoles["Map Server"] = "ready";
        h.apis.crash("map-server"); // not yet seen by a status tick
        const int before = h.apis.count("SendConsoleInput");
        sent = mirror.SendLines(ServerTable::kMap, PastedLines("save\nstatus"));
        QCOMPARE(sent.note, "Map Server is not running: nothing sent");
        QVERIFY(sent.sent.isEmpty());
        QCOMPARE(h.apis.count("SendConsoleInput"), before);
    }
};

QTEST_GUILESS_MAIN(PastedLinesTest)
#include "tst_pasted_lines.moc"
