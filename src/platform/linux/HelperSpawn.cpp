#include "HelperSpawn.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>

namespace {

// The spawn attribute and file action objects, destroyed with the scope.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

bool Prepare(SpawnSetup& s, int stdinFd, int stdoutFd) {
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    return posix_spawnattr_setsigmask(&s.attr, &none) == 0 &&
           posix_spawnattr_setsigdefault(&s.attr, &all) == 0 &&
           posix_spawnattr_setflags(&s.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
           posix_spawn_file_actions_adddup2(&s.actions, stdinFd, 0) == 0 &&
           posix_spawn_file_actions_adddup2(&s.actions, stdoutFd, 1) == 0 &&
           posix_spawn_file_actions_addopen(&s.actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&s.actions, 3) == 0;
}

std::vector<char*> NullTerminated(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

pid_t SpawnHelper(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  int stdinFd, int stdoutFd) {
    if (argv.empty())
        return -1;
    SpawnSetup setup;
    if (!Prepare(setup, stdinFd, stdoutFd))
        return -1;
    std::vector<char*> args = NullTerminated(argv);
    std::vector<char*> env = NullTerminated(environment);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), env.data()) != 0)
        return -1;
    return pid;
}
