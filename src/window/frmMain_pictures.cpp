#include "frmMain.h"

#include "PictureBox.h"
#include "StatusPictures.h"

// Loads the off, on and crashed pictures from the status picture folder. A file that is missing or
// broken is named in the log and the built-in picture of that state stands in for it.
void frmMain::loadStatusPictures() {
    static const std::array<QString, 3> files{QStringLiteral("/off.ico"), QStringLiteral("/on.ico"),
                                              QStringLiteral("/error.ico")};
    const QString folder = services_.statusIconFolder
                               ? services_.statusIconFolder()
                               : core_.services().serverFolder + QStringLiteral("/launcherdata");
    for (int state = 0; state < 3; ++state) {
        const QString path = folder + files[state];
        QIcon picture = loadIconFile(path);
        if (picture.isNull()) {
            core_.log().note(QStringLiteral("Cannot load the status picture ") + path +
                             QStringLiteral("; using a built-in one instead."));
            picture = builtInStatusPicture(state);
        }
        imgServerStatus[state]->SetPicture(picture);
    }
}
