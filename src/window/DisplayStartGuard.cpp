#include "DisplayStartGuard.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

struct HeldMessage {
    QtMsgType type;
    QString text;
    QByteArray file, function, category;
    int line;
};

QtMessageHandler previousHandler = nullptr;
QList<HeldMessage>* heldMessages = nullptr;

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

void PrintAndExit(const QString& reason) {
    std::fprintf(stderr, "corvane-launcher: cannot show the window: %s\n",
                 reason.toLocal8Bit().constData());
    std::fflush(stderr);
    _exit(EXIT_FAILURE); // nothing of Qt's half-made platform is run down
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        // The first thing said about the display tells why; Qt's advice that follows does not.
        for (const HeldMessage& held : *heldMessages) {
            if (held.type != QtDebugMsg && held.type != QtInfoMsg)
                PrintAndExit(held.text.section(u'\n', 0, 0));
        }
        PrintAndExit(text.section(u'\n', 0, 0));
    }
    heldMessages->append(HeldMessage{type, text, QByteArray(context.file),
                                     QByteArray(context.function), QByteArray(context.category),
                                     context.line});
}

// Why no window can be shown, or an empty text when a display is named. The platform plugins
// that need no display (offscreen, vnc, ...) always pass; the check is left to Qt when the
// command line chooses a platform or display.
const char* MissingDisplayReason(const char* qpaPlatform, const char* display,
                                 const char* waylandDisplay, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "-display") == 0)
            return "";
    }
    // Qt tries each platform of the list in turn; with none named it picks by the session.
    const QByteArray platforms = IsSet(qpaPlatform) ? QByteArray(qpaPlatform) : QByteArray();
    if (platforms.isEmpty())
        return IsSet(display) || IsSet(waylandDisplay) ? ""
                                                       : "no display (DISPLAY and WAYLAND_DISPLAY "
                                                         "are not set); start it on a desktop, or "
                                                         "under xvfb-run";
    for (const QByteArray& entry : platforms.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed();
        if (name == "xcb"                ? IsSet(display)
            : name.startsWith("wayland") ? IsSet(waylandDisplay)
                                         : !name.isEmpty())
            return "";
    }
    return "no display for QT_QPA_PLATFORM (DISPLAY is needed for xcb, WAYLAND_DISPLAY for "
           "wayland); start it on a desktop, or under xvfb-run";
}

} // namespace

DisplayStartGuard::DisplayStartGuard(int argc, char** argv) {
    const char* reason =
        MissingDisplayReason(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                             std::getenv("WAYLAND_DISPLAY"), argc, argv);
    if (reason[0] != '\0')
        PrintAndExit(QString::fromUtf8(reason));
    heldMessages = new QList<HeldMessage>;
    previousHandler = qInstallMessageHandler(&HoldMessage);
}

DisplayStartGuard::~DisplayStartGuard() {
    opened();
}

void DisplayStartGuard::opened() {
    if (heldMessages == nullptr)
        return;
    qInstallMessageHandler(previousHandler);
    const QList<HeldMessage> held = std::move(*heldMessages);
    delete heldMessages;
    heldMessages = nullptr;
    for (const HeldMessage& message : held) {
        const QMessageLogContext context(message.file.constData(), message.line,
                                         message.function.constData(),
                                         message.category.constData());
        qt_message_output(message.type, context, message.text);
    }
}
