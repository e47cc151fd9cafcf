#include "NoticeText.h"

QString noticeText() {
    return QStringLiteral(
        "Corvane Launcher is written and kept up by the Corvane Launcher developers.\n"
        "\n"
        "This program is provided \"as is\", without warranty of any kind. Its authors take no "
        "responsibility for any damage it may cause, including the loss of updated character "
        "data.\n"
        "\n"
        "Players on servers started by this launcher should save their games as often as they "
        "can, so that little is lost if a server stops unexpectedly.\n"
        "\n"
        "By clicking \"Start Servers\" you agree to these terms.");
}
