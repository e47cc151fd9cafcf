// The message pane shows a bounded tail of a console with its colours and nothing of its escape
// codes; the command line under it types into the selected server's console, and only into a
// running one.
#include "LauncherHarness.h"

#include "PasteConfirmation.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>

#include <QTextCursor>
#include <QTextDocument>

namespace {

QString Numbered(int from, int to) {
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QString::number(i);
    return lines.join(u'\n');
}

// The paste box of the window that is open, if one is.
PasteConfirmation* OpenBox(frmMain& w) {
    for (PasteConfirmation* box : w.findChildren<PasteConfirmation*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

// Pastes text into the command line with the keys, as the operator does: the box it opened.
PasteConfirmation* Paste(frmMain& w, const QString& text) {
    QApplication::clipboard()->setText(text);
    w.txtCommand->input()->setFocus();
    QTest::keySequence(w.txtCommand->input(), QKeySequence::Paste);
    return OpenBox(w);
}

QPushButton* Button(PasteConfirmation* box, QDialogButtonBox::StandardButton which) {
    return box->findChild<QDialogButtonBox*>()->button(which);
}

} // namespace

class ConsolePaneTest : public QObject {
    Q_OBJECT

private slots:
    void coloursBecomeFormats_data() {
        QTest::addColumn<QString>("console");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("at");     // the text whose format is checked
        QTest::addColumn<QString>("format"); // foreground|background|b(old)u(nderline)
        const auto row = [](const char* name, const char* console, const char* shown,
                            const char* at, const char* format) {
            QTest::newRow(name) << QString::fromUtf8(console) << QString::fromUtf8(shown) << at
                                << format;
        };
        row("basic", "\033[31mred\033[0m plain", "red plain", "red", "#cd3131||");
        row("reset", "\033[31mred\033[0m plain", "red plain", "plain", "||");
        row("bright on blue", "\033[92;44mhi", "hi", "hi", "#14a014|#0451a5|");
        row("256 cube", "\033[38;5;208mor", "or", "or", "#ff8700||");
        row("256 grey", "\033[48;5;244mg", "g", "g", "|#808080|");
        row("24-bit", "\033[38;2;10;200;30mrgb", "rgb", "rgb", "#0ac81e||");
        row("bold underline", "\033[1;4mbu", "bu", "bu", "||bu");
        row("22 24 39 49 undo", "\033[1;4;31;41m\033[22;24;39;49mx", "x", "x", "||");
        row("empty SGR resets", "\033[31m\033[mx", "x", "x", "||");
        row("carried to the next line", "\033[32mgreen\nnext", "green\nnext", "next", "#00a000||");
        row("carried from a line not shown", "\033[32m1\n2\n3\n4\n5\n6", "2\n3\n4\n5\n6", "6",
            "#00a000||");
        row("short extended colour", "\033[31;38;5mx", "x", "x", "#cd3131||");
        row("out of range", "\033[38;2;300;1;1mx\033[38;5;256my", "xy", "y", "||");
        row("huge number", "\033[999999999999999999999;1mx", "x", "x", "||b");
        row("other sequences", "\033]0;title\aA\033(B\033[2KB\0337C\033]8;;u\033\\D", "ABCD", "D",
            "||");
        row("cut short by the line end", "\033[31\nred", "\nred", "red", "||");
        row("controls", "a\x07\x08\xc2\x9b\033", "a", "a", "||");
        row("cut line stays coloured", ("\033[34m" + std::string(4010, 'x') + "\033[0m").c_str(),
            (std::string(4000, 'x') + " [… 10 more characters]").c_str(), "x", "#0451a5||");
    }
    void coloursBecomeFormats() {
        QFETCH(QString, console);
        QFETCH(QString, shown);
        QFETCH(QString, at);
        QFETCH(QString, format);
        LauncherHarness h;
        h.settings.values["ServerMessage Lines"] = "5";
        frmMain& w = h.online();
        h.apis.consoles["Map Server"] = "\033[35mbefore";
        w.conTab->Select(3);                       // so that the text after it is laid out anew
        w.txtOutput->moveCursor(QTextCursor::End); // the operator clicked into the colour
        h.apis.consoles["Map Server"] = console;
        h.fleet().tmrStatusUpdater_Timer();
        QCOMPARE(w.txtOutput->toPlainText(), shown);
        QTextCursor cursor(w.txtOutput->document());
        cursor.setPosition(int(shown.lastIndexOf(at)) + 1);
        const QTextCharFormat f = cursor.charFormat();
        const auto colour = [&](int property) {
            return f.hasProperty(property) ? f.brushProperty(property).color().name() : "";
        };
        QCOMPARE(colour(QTextFormat::ForegroundBrush) + '|' + colour(QTextFormat::BackgroundBrush) +
                     '|' + (f.fontWeight() == QFont::Bold ? "b" : "") +
                     (f.fontUnderline() ? "u" : ""),
                 format);
    }

    // The pane mirrors a bounded tail of the console, whatever the console holds, and keeps exactly
    // that text however it got there (laid out anew, or trimmed and appended to).
    void paneHoldsTheBoundedTail_data() {
        QTest::addColumn<QStringList>("consoles"); // one capture per tick
        QTest::addColumn<QString>("shown");        // what the pane holds after the last
        QTest::newRow("grows within the bound") << QStringList{"a\nb", "a\nb\nc"} << "a\nb\nc";
        QTest::newRow("scrolls past the bound")
            << QStringList{Numbered(1, 5), Numbered(1, 8)} << Numbered(4, 8);
        QTest::newRow("scrolls by more than the bound")
            << QStringList{Numbered(1, 5), Numbered(1, 30)} << Numbered(26, 30);
        QTest::newRow("one line repeated")
            << QStringList{"x\nx\nx", "x\nx\nx\nx\nx\nx\nx"} << "x\nx\nx\nx\nx";
        QTest::newRow("last line still growing")
            << QStringList{"1\n2\nloading", "1\n2\nloading...\n3"} << "1\n2\nloading...\n3";
        QTest::newRow("replaced") << QStringList{"a\nb", "c\nd"} << "c\nd";
        QTest::newRow("breaks of the pane's own")
            << QStringList{QStringLiteral("a\u2029b\rc\u2028d")} << "a b c d";
    }
    void paneHoldsTheBoundedTail() {
        QFETCH(QStringList, consoles);
        QFETCH(QString, shown);
        LauncherHarness h;
        h.settings.values["ServerMessage Lines"] = "5";
        frmMain& w = h.online();
        w.conTab->Select(3);
        for (const QString& console : consoles) {
            h.apis.consoles["Map Server"] = console;
            h.fleet().tmrStatusUpdater_Timer();
        }
        QCOMPARE(w.txtOutput->toPlainText(), shown);
        QCOMPARE(w.txtOutput->document()->blockCount(), int(shown.count(u'\n')) + 1);
    }

    void commandLineTypesIntoTheRunningServer() {
        LauncherHarness h;
        frmMain& w = h.load();
        QLineEdit* input = w.txtCommand->input();
        const auto type = [&](const QString& text) {
            input->setText(text);
            QTest::keyClick(input, Qt::Key_Return);
        };
        w.conTab->Select(2);
        type("status"); // offline: nothing goes, the note says why
        QCOMPARE(w.txtCommand->note()->text(), "Char Server is not running: nothing sent");
        h.addServerFiles();
        w.cmdServerStart_Click();
        h.apis.consoles["Char Server"] = "ready";
        const int captures = h.apis.count("GetConsoleText");
        for (const char* line : {"", "say \"hi\"; x", "status", "status"})
            type(line);
        QCOMPARE(h.apis.argsOf("SendConsoleInput"),
                 QStringList(
                     {"Char Server\nsay \"hi\"; x", "Char Server\nstatus", "Char Server\nstatus"}));
        QVERIFY(h.apis.count("GetConsoleText") >= captures + 3); // the pane looks at once
        QVERIFY(w.txtCommand->note()->isHidden() && input->text().isEmpty());
        // Up and Down walk what was sent, a repeat kept once, and give back what was typed.
        input->setText("draft");
        QStringList walked;
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) {
            QTest::keyClick(input, key);
            walked << input->text();
        }
        QCOMPARE(walked,
                 QStringList({"status", "say \"hi\"; x", "say \"hi\"; x", "status", "draft"}));
        w.conTab->Select(1); // each server its own history and its own draft
        QCOMPARE(input->text(), "");
        QTest::keyClick(input, Qt::Key_Up);
        QCOMPARE(input->text(), "");
        input->setText("shutdown");
        w.conTab->Select(2);
        QCOMPARE(input->text(), "draft");
        w.conTab->Select(1);
        QCOMPARE(input->text(), "shutdown");
        h.apis.crash("login-server");
        type("status");
        QCOMPARE(w.txtCommand->note()->text(), "Login Server is not running: nothing sent");
        QCOMPARE(h.apis.count("SendConsoleInput"), 3);
    }

    // A paste with control characters shows them and sends nothing (Ctrl-C would end the
    // server); a line longer than a console takes is refused with a note, not cut. (A paste of
    // several lines is asked about first: see below.)
    void controlCharactersAndOverlongLinesAreNeverSent() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.conTab->Select(3);
        QLineEdit* input = w.txtCommand->input();
        QApplication::clipboard()->setText(QString("status") + QChar(3) + "tail\tsave" + QChar(26));
        input->setFocus();
        QTest::keySequence(input, QKeySequence::Paste);
        QCOMPARE(input->text(), QString::fromUtf8("status\u2403tail\u2409save\u241A"));
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(w.txtCommand->note()->text(),
                 QString::fromUtf8("the line holds control characters (shown as \u2403 and the "
                                   "like): nothing sent"));
        const QString longLine(100'000, u'x');
        QApplication::clipboard()->setText(longLine);
        input->clear();
        QTest::keySequence(input, QKeySequence::Paste);
        QCOMPARE(input->text().size(), longLine.size()); // nothing cut without a word
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(w.txtCommand->note()->text(),
                 "the line is 100000 bytes, longer than a console takes (4095): nothing sent");
        input->setText(QString(4095, u'y'));
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(h.apis.argsOf("SendConsoleInput"),
                 QStringList{"Map Server\n" + QString(4095, u'y')});
    }

    // A paste of several lines sends nothing until the operator answers a box that names the
    // server and shows the lines. Send types them one by one into the server that was shown when
    // the paste was made, even when another tab is shown by then; Cancel sends nothing. The
    // field keeps what was typed in it either way.
    void aPasteOfSeveralLinesWaitsForTheOperator() {
        LauncherHarness h;
        frmMain& w = h.online();
        h.apis.consoles["Map Server"] = "ready";
        h.apis.consoles["Char Server"] = "ready";
        w.conTab->Select(3);
        QLineEdit* input = w.txtCommand->input();
        input->setText("draft");

        PasteConfirmation* box = Paste(w, "save\n\nsay \"hi\"\nstatus\n");
        QVERIFY(box && box->isVisible() && box->isModal());
        QCOMPARE(box->question()->text(),
                 "Send 3 lines to the Map Server console? (1 empty line left out)");
        QCOMPARE(box->preview()->toPlainText(), "1  save\n2  say \"hi\"\n3  status");
        QCOMPARE(input->text(), "draft");
        QCOMPARE(h.apis.count("SendConsoleInput"), 0);
        w.conTab->Select(2); // the box still means the Map Server
        QTest::mouseClick(box->sendButton(), Qt::LeftButton);
        QCOMPARE(h.apis.argsOf("SendConsoleInput"),
                 QStringList({"Map Server\nsave", "Map Server\nsay \"hi\"", "Map Server\nstatus"}));
        QVERIFY(w.txtCommand->note()->isHidden());
        w.conTab->Select(3); // the lines are that server's history; its draft is as it was
        QCOMPARE(input->text(), "draft");
        QTest::keyClick(input, Qt::Key_Up);
        QCOMPARE(input->text(), "status");

        box = Paste(w, "shutdown\nstatus");
        QVERIFY(box);
        QTest::mouseClick(Button(box, QDialogButtonBox::Cancel), Qt::LeftButton);
        QVERIFY(!box->isVisible());
        QCOMPARE(h.apis.count("SendConsoleInput"), 3);
        QCOMPARE(input->text(), "status");
    }

    // A paste with a line that cannot go is shown with the reason and cannot be sent; one meant
    // for a server that is no longer running when Send is chosen sends nothing, with a note.
    void aPasteThatCannotGoSendsNothing() {
        LauncherHarness h;
        frmMain& w = h.online();
        h.apis.consoles["Map Server"] = "ready";
        w.conTab->Select(3);
        PasteConfirmation* box = Paste(w, QString("save\nstop") + QChar(3) + "\nstatus");
        QVERIFY(box && !box->sendButton());
        QCOMPARE(box->question()->text(),
                 "Line 2: the line holds control characters (shown as \u2403 and the like).\n"
                 "A paste goes whole or not at all: nothing sent.");
        QCOMPARE(box->preview()->toPlainText(), "1  save\n2  stop\u2403\n3  status");
        QTest::mouseClick(Button(box, QDialogButtonBox::Close), Qt::LeftButton);
        QStringList hundredAndOne;
        for (int i = 0; i <= 100; ++i)
            hundredAndOne << "status";
        box = Paste(w, hundredAndOne.join(u'\n'));
        QVERIFY(box && !box->sendButton());
        QCOMPARE(box->question()->text(),
                 "The paste holds 101 lines, more than one paste may send (100): nothing sent.");
        box->reject();

        box = Paste(w, "save\nstatus");
        QVERIFY(box && box->sendButton());
        h.apis.crash("map-server");
        QTest::mouseClick(box->sendButton(), Qt::LeftButton);
        QCOMPARE(w.txtCommand->note()->text(), "Map Server is not running: nothing sent");
        QCOMPARE(h.apis.count("SendConsoleInput"), 0);
    }

    // However the text comes in (keys, the field's menu, a drop), several lines are asked about;
    // one line with the line break of a copied console line goes into the field without it.
    void everyWayOfPastingIsAsked() {
        LauncherHarness h;
        frmMain& w = h.online();
        w.conTab->Select(1);
        QLineEdit* input = w.txtCommand->input();
        QVERIFY(!Paste(w, "status\r\n"));
        QCOMPARE(input->text(), "status");

        QApplication::clipboard()->setText("save\nstatus");
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                input->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(input, &click);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QAction* pasteAction = nullptr;
        for (QAction* action : menu->actions())
            if (action->text().remove(u'&').startsWith("Paste"))
                pasteAction = action;
        QVERIFY(pasteAction && pasteAction->isEnabled());
        pasteAction->trigger();
        menu->close();
        PasteConfirmation* box = OpenBox(w);
        QVERIFY(box);
        QCOMPARE(box->question()->text(), "Send 2 lines to the Login Server console?");
        box->reject();

        QMimeData dragged; // dragged in from elsewhere, over the field, and dropped
        dragged.setText("save\nstatus\nsay bye");
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(QPoint(5, 5), actions, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &enter);
        QDragMoveEvent move(QPoint(5, 5), actions, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &move);
        QDropEvent drop(QPointF(5, 5), actions, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drop.dropAction(), Qt::CopyAction); // what was dragged stays where it was
        box = OpenBox(w);
        QVERIFY(box);
        QCOMPARE(box->question()->text(), "Send 3 lines to the Login Server console?");
        box->reject();
        QCOMPARE(input->text(), "status");
        QCOMPARE(h.apis.count("SendConsoleInput"), 0);
    }
};

QTEST_MAIN(ConsolePaneTest)
#include "tst_console_pane.moc"
