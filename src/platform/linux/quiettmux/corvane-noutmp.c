// Loaded into the launcher's own tmux server (LD_PRELOAD, set for the control client that starts
// it): the server consoles are not logins, so tmux's utmp records of them are left out. tmux
// writes each record through a helper program that it forks and waits for, at every console's
// start and at every console's end, in the middle of a crashed server's relaunch.
//
// The client that starts the server takes LD_PRELOAD out of its environment again at once, before
// tmux copies that environment for the consoles: nothing tmux runs loads this library.

#include <stdlib.h>
#include <string.h>

int utempter_add_record(int master_fd, const char* hostname) {
    (void)master_fd;
    (void)hostname;
    return 1;
}

int utempter_remove_record(int master_fd) {
    (void)master_fd;
    return 1;
}

int utempter_remove_added_record(void) {
    return 1;
}

// The launcher puts this library first in LD_PRELOAD, before whatever the operator preloads.
__attribute__((constructor)) static void LeavePreloadAsItWas(void) {
    static const char kSelf[] = "/corvane-noutmp.so";
    const char* preload = getenv("LD_PRELOAD");
    if (preload == NULL)
        return;
    const size_t first = strcspn(preload, ": ");
    if (first < sizeof kSelf - 1 ||
        strncmp(preload + first - (sizeof kSelf - 1), kSelf, sizeof kSelf - 1) != 0)
        return;
    const char* rest = preload + first;
    rest += strspn(rest, ": ");
    if (*rest == '\0')
        unsetenv("LD_PRELOAD");
    else
        setenv("LD_PRELOAD", rest, 1);
}
