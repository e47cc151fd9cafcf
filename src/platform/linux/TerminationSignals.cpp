#include "../TerminationRequests.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The write end of the pipe through which a signal reaches the event loop.
int gWakeFd = -1;

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing more is needed.
    [[maybe_unused]] const ssize_t n = write(gWakeFd, &byte, 1);
    errno = saved;
}

void Drain(int fd) {
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

} // namespace

void WatchTerminationRequests(QObject* context, std::function<void()> onRequest) {
    int fds[2];
    if (gWakeFd >= 0 || pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    gWakeFd = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [fd = fds[0], onRequest = std::move(onRequest)] {
                         Drain(fd);
                         onRequest();
                     });

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}
