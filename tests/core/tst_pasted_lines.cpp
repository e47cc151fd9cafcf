// A paste of several lines for a server's console, with no window: how it is split into lines and
// shown to the operator, why it may not go (one line that cannot go keeps them all back), and what
// reaches the console it was meant for. The paste box itself is in tst_console_pane.
#include "CoreHarness.h"
#include "PastedLines.h"

class PastedLinesTest : public QObject {
    Q_OBJECT
private slots:
    void splitShownAndJudged_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("preview");
        QTest::addColumn<QString>("refusal");  // empty: all may go
        QTest::addColumn<QString>("question"); // to the Map Server; empty: not looked at
        const auto row = [](const char* name, const QString& text, const QString& preview,
                            const QString& refusal = {}, const QString& question = {}) {
            QTest::newRow(name) << text << preview << refusal << question;
        };
        const QString controls =
            "the line holds control characters (shown as \u2403 and the like).";
        const QString tooLong = "the line is %1 bytes, longer than a console takes (4095).";
        const QString whole = "\nA paste goes whole or not at all: nothing sent.";
        row("every kind of break; empty lines left out, a blank one kept",
            "\nsave\r\nstatus\rsay hi\n  \n\r\n" + QString(4095, u'y'),
            "1  save\n2  status\n3  say hi\n4    \n5  " + QString(4095, u'y'), "",
            "Send 5 lines to the Map Server console? (2 empty lines left out)");
        row("the first three named", "a\tb\nok\nc\3d\ne\tf\ng\th\ni\tj",
            "1  a\u2409b\n2  ok\n3  c\u2403d\n4  e\u2409f\n5  g\u2409h\n6  i\u2409j",
            "Line 1: " + controls + "\nLine 3: " + controls + "\nLine 4: " + controls +
                "\n2 more lines cannot go either." + whole);
        row("too long, cut in the preview", "a\n" + QString(4095, u'y') + "zzz",
            "1  a\n2  " + QString(4095, u'y') + " [\u2026 3 more characters]",
            "Line 2: " + tooLong.arg(4098) + whole);
        row("bytes, not characters", "a\n" + QString(2048, u'\u00e9'), // two bytes each
            "1  a\n2  " + QString(2048, u'\u00e9'), "Line 2: " + tooLong.arg(4096) + whole);
    }
    void splitShownAndJudged() {
        QFETCH(QString, text);
        QFETCH(QString, question);
        const PastedLines paste(text);
        QTEST(paste.preview(), "preview");
        QTEST(paste.refusal(), "refusal");
        QCOMPARE(question.isEmpty() ? question : paste.question("Map Server"), question);
    }

    // At most 100 lines go, empty ones not counted; the preview shows the first 100.
    void aHundredLinesAtMost() {
        QCOMPARE(PastedLines(QStringList(100, "status").join(u'\n') + "\n\n\n\n").refusal(), "");
        const PastedLines many(QStringList(250, "x").join(u'\n'));
        QCOMPARE(many.refusal(),
                 "The paste holds 250 lines, more than one paste may send (100): nothing sent.");
        const QStringList preview = many.preview().split(u'\n');
        QCOMPARE(preview.first(), "  1  x");
        QCOMPARE(preview.mid(99), QStringList({"100  x", "[\u2026 150 more lines]"}));
    }

    // The lines go one by one to the server the paste was meant for, whichever console the pane
    // shows; a console that stops taking them is told, never passed over.
    void linesReachTheServerTheyWereMeantFor() {
        CoreHarness h;
        h.startedCore();
        h.apis.consoles["Map Server"] = "ready";
        ConsoleMirror& mirror = h.core().mirror();
        mirror.SelectServer(ServerTable::kLogin);
        int typed = 0; // the console goes away after two lines
        h.apis.onCall = [&](const QString& op) {
            if (op == "SendConsoleInput" && ++typed == 3)
                h.apis.consoles.remove("Map Server");
        };
        const ConsoleMirror::LinesOutcome sent =
            mirror.SendLines(ServerTable::kMap, PastedLines("a\nsay \"hi\"\nc\nd"));
        QCOMPARE(h.apis.argsOf("SendConsoleInput"),
                 QStringList({"Map Server\na", "Map Server\nsay \"hi\"", "Map Server\nc"}));
        QCOMPARE(sent.sent, QStringList({"a", "say \"hi\""}));
        QCOMPARE(sent.note, "Map Server took 2 of 4 lines: the rest were not sent");
    }
};

QTEST_GUILESS_MAIN(PastedLinesTest)
#include "tst_pasted_lines.moc"
