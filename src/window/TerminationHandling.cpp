#include "TerminationHandling.h"

#include "TerminationRequests.h"
#include "frmMain.h"

#include <QCoreApplication>
#include <memory>

void EndLikeClosingTheWindow(frmMain& window) {
    // Repeated requests (Ctrl-C twice, a signal while the session ends) end it only once.
    auto ending = std::make_shared<bool>(false);
    const auto unload = [&window, ending] {
        if (*ending)
            return;
        *ending = true;
        window.Form_Unload();
    };
    WatchTerminationRequests(&window, unload);
    // The desktop session ends with the session manager's "die", on which Qt quits the event
    // loop: it closes the window first when the window is shown, but not when it lives in the
    // tray. Either way the launcher ends here, before main() returns. The session manager's save
    // request is left alone: it comes for a mere checkpoint too, while the session goes on, and a
    // client that leaves in the midst of a save can bring the session manager down (xsm's does).
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, unload);
}
