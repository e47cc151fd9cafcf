#pragma once

// The hand-over between the launcher and corvane-exec, the small program that tmux runs in a new
// console and that replaces itself with the server program.
//
// The launcher makes a private folder (mode 0700) holding four entries and passes the folder and
// the program's absolute path to the trampoline:  corvane-exec <folder> <program> [--ready]
//
//   environ  the environment the program gets, as NUL-terminated "NAME=value" entries;
//   argv     the program's arguments after its own name, as NUL-terminated entries;
//   report   a FIFO the trampoline writes to: ReadyByte once it has opened everything; then
//            StartedByte followed by the program's process id (a native pid_t) once the program
//            has been executed, or FailedByte followed by the errno (a native int) when execve()
//            failed; then the trampoline closes it;
//   go       a FIFO the trampoline waits on before it starts the program, so that the launcher
//            can take hold of the console's process (pidfd) before the program can possibly end.
//            Only GoByte means "go"; end-of-file or silence means the launcher gave up on the
//            launch.
//
// The trampoline stays in the console as its first process: it runs the program as its child and
// ends only once every process the program left behind has ended, with the program's own exit
// status or signal. So the console's process lives exactly as long as any process of the server
// does, and, as the leader of the console's session, it never dies under the server's feet: the
// kernel hangs up a terminal's foreground processes when its session leader exits, which would end
// a server that a script started without exec in the middle of its save. The close requests that
// reach the whole process group (SIGTERM, SIGINT, SIGHUP) leave the trampoline alone.
//
// The folder's name is visible to every user, so the trampoline trusts it only when it is a real
// folder owned by the operator with mode 0700, and reaches each entry relative to it, never
// through a link, each owned by the operator and closed to others. The trampoline removes the
// folder's entries once it has opened them; the launcher removes them too when the launch is
// settled, whichever comes first.
namespace corvane::trampoline {

inline constexpr const char* kEnvironFile = "environ";
inline constexpr const char* kArgvFile = "argv";
inline constexpr const char* kReportFifo = "report";
inline constexpr const char* kGoFifo = "go";

inline constexpr char kReadyByte = 'R';
inline constexpr char kStartedByte = 'S';
inline constexpr char kFailedByte = 'E';
inline constexpr char kGoByte = 'G';

// How long the trampoline waits for "go" at most when the launcher says nothing.
inline constexpr int kGoTimeoutMs = 5000;

// A third word after the program: the console is made ready before it is needed (see
// ServerLauncher::prepare). The trampoline then waits for "go" without a time limit, for as long
// as the launcher holds the go FIFO open, and ends silently when it is closed, so that nothing of
// an unused console reaches the console log. Its command line tells it from a console that runs
// a server: only one whose program runs (its child) may be taken for a running server.
inline constexpr const char* kReadyWord = "--ready";

} // namespace corvane::trampoline
