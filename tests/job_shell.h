// A minimal job-control shell, run as the body of a PtySession: it owns the
// terminal (fd 0) as an interactive shell does, starts jobs in process
// groups of their own, hands the terminal over and takes it back, and holds
// raw modes of its own while it has the terminal. Its waits are the
// session's (pty_session.h), on fd 0.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>

// Ignores the job-control signals, as a shell does, and returns the modes
// the terminal has now.
termios BecomeShell();
// A job's own process group (or the shell's, for an orphaned one), standard
// output to /dev/null unless to the terminal, signals as a fresh program
// gets them.
enum class Group { Foreground, Background, Shells };
pid_t StartJob(const char* path, Group group, bool to_terminal = false);
// Takes the terminal back and reads the input left there for the next
// reader; the modes stay as they were.
std::string PendingOnTerminal();
// The shell takes the terminal and puts its own raw modes there.
termios TakeTerminal();
void GiveTerminal(pid_t group, const termios& modes);
