// The message pane shows a bounded tail of a console with its colours and nothing of its escape
// codes; the command line under it types into the selected server's console, and only into a
// running one.
#include "PasteConfirmation.h"
#include "WindowProbes.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QMimeData>

namespace {

// Pastes text into the command line with the keys, as the operator does: the box it opened.
PasteConfirmation* Paste(frmMain& w, const QString& text) {
    QApplication::clipboard()->setText(text);
    w.txtCommand->input()->setFocus();
    QTest::keySequence(w.txtCommand->input(), QKeySequence::Paste);
    return Shown<PasteConfirmation>(w);
}

} // namespace

class ConsolePaneTest : public QObject {
    Q_OBJECT

private slots:
    // The pane mirrors a bounded tail of the console (5 lines here), whatever the console holds,
    // and keeps exactly that text however it got there (laid out anew, or trimmed and appended
    // to); colours become formats and no escape code shows.
    void paneShowsTheBoundedTail_data() {
        QTest::addColumn<QStringList>("consoles"); // one capture per tick
        QTest::addColumn<QString>("shown");        // what the pane holds after the last
        QTest::addColumn<QString>("at");           // the text whose format is checked
        QTest::addColumn<QString>("format");       // foreground|background|b(old)u(nderline)
        // clang-format off
        const auto row = [](const char* name, const QStringList& consoles, const QString& shown, const QString& at = {}, const QString& format = {}) {
            QTest::newRow(name) << consoles << shown << (at.isEmpty() ? shown.right(1) : at)
                                << (format.isEmpty() ? "||" : format); // plain, unless said
        };
        const QString upTo14 = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14";
        row("scrolls past, then by more than it shows", {upTo14.left(9), upTo14.left(15), upTo14}, "10\n11\n12\n13\n14");
        row("one line repeated", {"x\nx\nx", "x\nx\nx\nx\nx\nx\nx"}, "x\nx\nx\nx\nx");
        row("last line growing", {"1\n2\nloading", "1\n2\nloading...\n3"}, "1\n2\nloading...\n3");
        row("breaks of the pane's own", {QStringLiteral("a\u2029b\rc\u2028d")}, "a b c d");
        // After a coloured capture, so that the text is laid out anew in the colour's wake. One
        // row per way a colour is read and converted.
        const auto colour = [&](const char* name, const QString& console, const QString& shown, const char* at, const char* format) {
            row(name, {"\033[35mbefore", console}, shown, at, format);
        };
        colour("empty SGR resets", "\033[31mred\033[m plain", "red plain", "plain", "||");
        colour("huge number, then bright on blue, bold underline", "\033[999999999999999999999;92;44;1;4mhi", "hi", "hi", "#14a014|#0451a5|bu");
        colour("22 24 39 49 undo", "\033[1;4;31;41m\033[22;24;39;49mx", "x", "x", "||");
        colour("256 cube and grey, kept past out of range ones", "\033[38;5;208;48;5;244mx\033[38;2;300;1;1;48;5;256my", "xy", "y", "#ff8700|#808080|");
        colour("24-bit, then a short extended colour", "\033[38;2;10;200;30;48;5mrgb", "rgb", "rgb", "#0ac81e||");
        colour("carried from a line not shown", "\033[32m1\n2\n3\n4\n5\n6", "2\n3\n4\n5\n6", "6", "#00a000||");
        colour("other sequences and controls", "\033]0;title\aA\033(B\033[2KB\0337C\033]8;;u\033\\D\x07\x08\xc2\x9b\033", "ABCD", "D", "||");
        colour("cut short by the line end", "\033[31\nred", "\nred", "red", "||");
        colour("cut line stays coloured", "\033[34m" + QString(4010, u'x') + "\033[0m", QString(4000, u'x') + QStringLiteral(" [… 10 more characters]"), "x", "#0451a5||");
        // clang-format on
    }
    void paneShowsTheBoundedTail() {
        QFETCH(QStringList, consoles);
        QFETCH(QString, shown);
        QFETCH(QString, at);
        QFETCH(QString, format);
        LauncherHarness h;
        h.settings.values["ServerMessage Lines"] = "5";
        frmMain& w = h.online();
        w.conTab->Select(3);
        for (const QString& console : consoles) {
            h.apis.consoles["Map Server"] = console;
            h.fleet().tmrStatusUpdater_Timer();
            w.txtOutput->moveCursor(QTextCursor::End); // the operator clicked into the colour
        }
        QCOMPARE(w.txtOutput->toPlainText(), shown);
        QCOMPARE(w.txtOutput->document()->blockCount(), int(shown.count(u'\n')) + 1);
        QTextCursor cursor(w.txtOutput->document());
        cursor.setPosition(int(shown.lastIndexOf(at)) + 1);
        const QTextCharFormat f = cursor.charFormat();
        QString seen =
            QString(f.fontWeight() == QFont::Bold ? "b" : "") + (f.fontUnderline() ? "u" : "");
        for (const int property : {QTextFormat::BackgroundBrush, QTextFormat::ForegroundBrush})
            seen.prepend((f.hasProperty(property) ? f.brushProperty(property).color().name() : "") +
                         '|');
        QCOMPARE(seen, format);
    }

    // The command line types into the selected server's console, and only into a running one.
    void commandLineTypesIntoTheRunningServer() {
        LauncherHarness h;
        frmMain& w = h.online();
        QLineEdit* input = w.txtCommand->input();
        const auto type = [&](const QString& text) {
            input->setText(text);
            QTest::keyClick(input, Qt::Key_Return);
            return w.txtCommand->note()->isHidden() ? QString() : w.txtCommand->note()->text();
        };
        const auto sent = [&] { return h.apis.argsOf("SendConsoleInput").join(u'|'); };
        w.conTab->Select(2);
        h.apis.consoles["Char Server"] = "ready";
        const int captures = h.apis.count("GetConsoleText");
        for (const char* line : {"", "say \"hi\"; x", "status", "status"})
            QCOMPARE(type(line), QString());
        QCOMPARE(sent(), "Char Server\nsay \"hi\"; x|Char Server\nstatus|Char Server\nstatus");
        // The pane looks at once; the field is emptied.
        QVERIFY(h.apis.count("GetConsoleText") >= captures + 3 && input->text().isEmpty());
        // Up and Down walk what was sent, a repeat kept once, and give back what was typed.
        input->setText("draft");
        QStringList walked;
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) {
            QTest::keyClick(input, key);
            walked << input->text();
        }
        QCOMPARE(walked.join(u'|'), "status|say \"hi\"; x|say \"hi\"; x|status|draft");
        w.conTab->Select(1); // each server its own history and its own draft
        QTest::keyClick(input, Qt::Key_Up);
        QCOMPARE(input->text(), "");
        w.conTab->Select(2);
        QCOMPARE(input->text(), "draft");
        // A line with control characters shows them and is not sent (Ctrl-C would end the
        // server); one longer than a console takes is not cut, but refused when sent.
        input->clear();
        QVERIFY(!Paste(w, QString("status") + QChar(3) + "tail\tsave" + QChar(26)));
        QCOMPARE(input->text(), QString::fromUtf8("status\u2403tail\u2409save\u241A"));
        QCOMPARE(type(input->text()), "the line holds control characters (shown as \u2403 and the "
                                      "like): nothing sent");
        input->clear();
        QVERIFY(!Paste(w, QString(100'000, u'x')) && input->text().size() == 100'000);
        // A paste of several lines, however it comes in (keys, the field's menu, a drop), sends
        // nothing until the operator answers a box that names the server and shows the lines.
        // Send types them into the server that was shown when the paste was made; Cancel sends
        // nothing; the field keeps what was typed in it either way.
        h.apis.consoles["Map Server"] = "ready";
        w.conTab->Select(3);
        QVERIFY(!Paste(w, "status\r\n")); // a copied console line goes in without its break
        QCOMPARE(input->text(), "status");
        input->setText("draft");
        PasteConfirmation* box = Paste(w, "save\n\nsay \"hi\"\nstatus\n");
        QVERIFY(box && box->isModal());
        QCOMPARE(box->question()->text() + '\n' + box->preview()->toPlainText(),
                 "Send 3 lines to the Map Server console? (1 empty line left out)\n"
                 "1  save\n2  say \"hi\"\n3  status");
        w.conTab->Select(2); // the box still means the Map Server
        QTest::mouseClick(box->sendButton(), Qt::LeftButton);
        QVERIFY(sent().endsWith("|Map Server\nsave|Map Server\nsay \"hi\"|Map Server\nstatus"));
        w.conTab->Select(3); // the lines are that server's history; its draft is as it was
        QCOMPARE(input->text(), "draft");
        QTest::keyClick(input, Qt::Key_Up);
        QCOMPARE(input->text(), "status");
        QVERIFY((box = Paste(w, "shutdown\nstatus")));
        box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();

        QApplication::clipboard()->setText("save\nstatus");
        QVERIFY(Choose(ContextMenu(input), "Paste"));
        QVERIFY((box = Shown<PasteConfirmation>(w)));
        box->reject();
        QMimeData dragged; // dragged in from elsewhere, over the field, and dropped
        dragged.setText("save\nstatus\nsay bye");
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter({5, 5}, actions, &dragged, Qt::LeftButton, {});
        QApplication::sendEvent(input, &enter);
        QDropEvent drop({5, 5}, actions, &dragged, Qt::LeftButton, {});
        QApplication::sendEvent(input, &drop);
        QCOMPARE(drop.dropAction(), Qt::CopyAction); // what was dragged stays where it was
        QVERIFY((box = Shown<PasteConfirmation>(w)) &&
                box->question()->text().startsWith("Send 3 lines"));
        box->reject();
        QCOMPARE(input->text(), "status");
        // One that cannot go (the refusals are tested with the lines) cannot be sent.
        QVERIFY((box = Paste(w, QString("save\nstop") + QChar(3))) && !box->sendButton());
        box->reject();
        // One meant for a server that is no longer running when Send is chosen sends nothing.
        QVERIFY((box = Paste(w, "save\nstatus")));
        h.apis.crash("map-server");
        QTest::mouseClick(box->sendButton(), Qt::LeftButton);
        QCOMPARE(w.txtCommand->note()->text(), "Map Server is not running: nothing sent");
        QCOMPARE(type("status"), "Map Server is not running: nothing sent");
        QCOMPARE(h.apis.count("SendConsoleInput"), 6); // nothing from the boxes given up
    }
};

QTEST_MAIN(ConsolePaneTest)
#include "tst_console_pane.moc"
