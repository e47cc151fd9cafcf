#pragma once

// The hand-over between the launcher and corvane-exec, the small program that tmux runs in a new
// console and that replaces itself with the server program.
//
// The launcher makes a private folder (mode 0700) holding three entries and passes the folder and
// the program's absolute path to the trampoline:  corvane-exec <folder> <program>
//
//   environ  the environment the program gets, as NUL-terminated "NAME=value" entries;
//   report   a FIFO the trampoline writes to: ReadyByte once it has opened everything, then, only
//            if execve() fails, FailedByte followed by the errno as a native int. A successful
//            execve() closes the FIFO (close-on-exec), so the launcher reads end-of-file;
//   go       a FIFO the trampoline waits on before it executes the program, so that the launcher
//            can take hold of the process (pidfd) before the program can possibly end. Only
//            GoByte means "go"; end-of-file or silence means the launcher gave up on the launch.
//
// The folder's name is visible to every user, so the trampoline trusts it only when it is a real
// folder owned by the operator with mode 0700, and reaches each entry relative to it, never
// through a link, each owned by the operator and closed to others. The trampoline removes the
// folder's entries once it has opened them; the launcher removes them too when the launch is
// settled, whichever comes first.
namespace corvane::trampoline {

inline constexpr const char* kEnvironFile = "environ";
inline constexpr const char* kReportFifo = "report";
inline constexpr const char* kGoFifo = "go";

inline constexpr char kReadyByte = 'R';
inline constexpr char kFailedByte = 'E';
inline constexpr char kGoByte = 'G';

// How long the trampoline waits for "go" at most when the launcher says nothing.
inline constexpr int kGoTimeoutMs = 5000;

} // namespace corvane::trampoline
