// The window as it is created: every control with its container, caption, place, font and
// starting values. Behaviour is connected elsewhere (connectHandlers).
#include "frmMain.h"

#include "ConsoleCommandLine.h"
#include "CoveredControls.h"
#include "LayoutFonts.h"
#include "MessagePane.h"
#include "NoticeText.h"
#include "PictureBox.h"
#include "TabStrip.h"
#include "Twips.h"
#include "frmMain_layout.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

constexpr QSize kClientSize = frmMainLayout::kDesignedSize;

QPushButton* makeButton(frmMain& window, const char* name, const QString& caption,
                        const QRect& geometry) {
    auto* button = new QPushButton(caption, &window);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

void setUpWindow(frmMain& window) {
    window.setObjectName(QStringLiteral("frmMain"));
    window.setWindowTitle(QStringLiteral("Tesk Launcher V1.8"));
    window.setWindowIcon(QIcon(QStringLiteral(":/corvane.ico")));
    // Title bar, system menu, minimise and close, at the designed size and no other: a single
    // fixed border. "Let the Window Grow" gives the maximise box and larger sizes (placeWindow).
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint);
    window.setFixedSize(kClientSize);
    window.setFont(LayoutFonts::tahoma()); // placed on the screen by placeWindow
}

void buildButtons(frmMain& w) {
    // Lies below the client area: never seen, never reached with the mouse, nor with the keys.
    w.cmdToTray = makeButton(w, "cmdToTray", QStringLiteral("Send to tray"),
                             Twips::rect(6075, 4995, 1455, 465));
    w.cmdToTray->setFocusPolicy(Qt::NoFocus);
    // Alt+S and Alt+H; the underline is all the ampersand adds to the caption.
    w.cmdServerStart = makeButton(w, "cmdServerStart", QStringLiteral("&Start Servers"),
                                  Twips::rect(4590, 4320, 1455, 465));
    w.cmdServerStart->setFont(LayoutFonts::tahoma(true));
    w.cmdServerShutdown = makeButton(w, "cmdServerShutdown", QStringLiteral("S&hutdown Server"),
                                     Twips::rect(6075, 4320, 1455, 465));
    w.cmdServerShutdown->setEnabled(false);
}

// The tab strip with the two panes placed over its client area, both siblings of it.
void buildPanes(frmMain& w) {
    w.conTab = new TabStrip(
        {QStringLiteral("Login Server Status"), QStringLiteral("Character Server Status"),
         QStringLiteral("Map Server Status"), QStringLiteral("Options and Diagnostics")},
        &w);
    w.conTab->setObjectName(QStringLiteral("conTab"));
    w.conTab->setGeometry(Twips::rect(90, 90, 7440, 4155));
    w.conTab->setFont(LayoutFonts::tahoma());

    auto* pane = new MessagePane(&w);
    w.txtOutput = pane;
    w.txtOutput->setObjectName(QStringLiteral("txtOutput"));
    w.txtOutput->setGeometry(Twips::rect(225, 495, 7170, 3345));
    w.txtOutput->setReadOnly(true);
    // Nothing can be typed, yet the caret shows where the focus is, and the keys select and scroll.
    w.txtOutput->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    w.txtOutput->setTabChangesFocus(true); // Tab moves on; nothing can be typed here anyway
    w.txtOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    w.txtOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A console wraps at its edge whatever it prints; waiting for a word's end costs a line
    // without spaces time that grows with the square of its length.
    w.txtOutput->setWordWrapMode(QTextOption::WrapAnywhere);
    w.txtOutput->setFont(LayoutFonts::console());
    QPalette colours = w.txtOutput->palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Active, QPalette::Button));
    colours.setColor(QPalette::Text, colours.color(QPalette::Active, QPalette::ButtonText));
    w.txtOutput->setPalette(colours);
    w.txtOutput->setPlainText(noticeText());
    // The pane gives its bottom line to a command line into the console it shows.
    w.txtCommand = new ConsoleCommandLine(pane);
    w.txtCommand->currentServer = [&w] { return w.conTab->SelectedIndex() - 1; };
    pane->setBottomLine(w.txtCommand);

    w.picContainer = new QWidget(&w);
    w.picContainer->setObjectName(QStringLiteral("picContainer"));
    w.picContainer->setGeometry(Twips::rect(225, 495, 7170, 3660));
    w.picContainer->setAutoFillBackground(true); // hides what lies behind it
}

void buildStatusImages(frmMain& w) {
    const QRect places[] = {Twips::rect(135, 4410, 465, 375), Twips::rect(675, 4410, 465, 375),
                            Twips::rect(1215, 4410, 465, 375)};
    for (int i = 0; i < 3; ++i) {
        auto* image = new PictureBox(&w);
        image->setObjectName(QStringLiteral("imgServerStatus(%1)").arg(i));
        image->setGeometry(places[i]);
        image->hide();
        w.imgServerStatus[i] = image;
    }
}

// The pop-up menu of the tray icon; it is never part of the window itself.
void buildTrayMenu(frmMain& w) {
    w.mnuTrayMenu = new QMenu(QStringLiteral("TrayPopup"), &w);
    w.mnuTrayMenu->setObjectName(QStringLiteral("mnuTrayMenu"));
    w.mnuTrayStartServers = w.mnuTrayMenu->addAction(QStringLiteral("Start Server"));
    w.mnuTrayStartServers->setObjectName(QStringLiteral("mnuTrayStartServers"));
    w.mnuTrayStopServers = w.mnuTrayMenu->addAction(QStringLiteral("Stop Servers"));
    w.mnuTrayStopServers->setObjectName(QStringLiteral("mnuTrayStopServers"));
    w.mnuTraySep[0] = w.mnuTrayMenu->addSeparator();
    w.mnuTraySep[0]->setObjectName(QStringLiteral("mnuTraySep(0)"));
    w.mnuTrayExit = w.mnuTrayMenu->addAction(QStringLiteral("Exit And Stop Servers"));
    w.mnuTrayExit->setObjectName(QStringLiteral("mnuTrayExit"));
    w.mnuTraySep[1] = w.mnuTrayMenu->addSeparator(); // the added items below it
    w.mnuTraySep[1]->setObjectName(QStringLiteral("mnuTraySep(1)"));
}

} // namespace

void frmMain::buildControls() {
    // The program icon is compiled into this library; a static library's resources need pulling in.
    Q_INIT_RESOURCE(resources);
    setUpWindow(*this);
    buildButtons(*this);
    buildPanes(*this);
    buildStatusImages(*this);
    frmMainLayout::buildOptionsPane(*this);
    buildTrayMenu(*this);
    frmMainLayout::applyStacking(*this);
    frmMainLayout::applyTabOrder(*this);
    frmMainLayout::applyAnchors(*this);
    // The message pane and the options pane lie over each other: what is behind takes no keys.
    new CoveredControls(conTab, {picContainer, txtOutput}, this);
}
