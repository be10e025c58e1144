// The terminal side of the console operations: the key check, the discard,
// and the terminal modes they need. The modes are saved once, the first time
// the key check runs, and put back on every way out that a process can see:
// the ordinary exit, a terminating signal, and a stop (they are set again on
// SIGCONT). This file holds the program's only mutable state.
#include "platform/posix/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <csignal>

#include <cerrno>

#include "platform/console_ops.h"

namespace anykey {
namespace {

enum TerminalState { NotOpened, Absent, Opened };

TerminalState terminal_state = NotOpened;
int terminal_fd = -1;
// Written once before any handler is installed; handlers only read it.
termios saved_modes{};
// Set while the wait modes may be in force.
volatile sig_atomic_t wait_modes = 0;

constexpr int EndingSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
constexpr int StopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

int ControllingTerminal() {
  if (terminal_state == NotOpened) {
    // /dev/tty rather than stdin: the keyboard is watched also when stdin
    // is a file or a pipe, as a console is.
    terminal_fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    terminal_state = terminal_fd >= 0 ? Opened : Absent;
  }
  return terminal_fd;
}

void SetWaitModes() {
  termios modes = saved_modes;
  // Keys arrive one at a time and unechoed; ^C, ^\ and ^Z keep their meaning
  // (ISIG stays). IEXTEN and IXON go so that ^V, ^O, ^S and ^Q count as keys
  // instead of being taken by the terminal.
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  wait_modes = 1;
  tcsetattr(terminal_fd, TCSANOW, &modes);
}

void Handle(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // A write or a tcsetattr that a stop interrupts carries on after SIGCONT.
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

// Lets a signal that is blocked inside its own handler take its default
// action now: ends or stops the process.
void TakeDefaultAction(int signal_number) {
  Handle(signal_number, SIG_DFL);
  static_cast<void>(raise(signal_number));
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
}

void EndBySignal(int signal_number) {
  RestoreTerminal();
  // Dying by the same signal lets the shell see how the run ended.
  TakeDefaultAction(signal_number);
}

void StopBySignal(int signal_number) {
  const int saved_errno = errno;
  RestoreTerminal();
  TakeDefaultAction(signal_number);
  // Continued, or never stopped: the system drops these signals for a
  // process group that no shell controls. Either way the wait goes on.
  Handle(signal_number, StopBySignal);
  SetWaitModes();
  errno = saved_errno;
}

void ContinueWaiting(int /*signal_number*/) {
  const int saved_errno = errno;
  if (wait_modes != 0) {
    SetWaitModes();
  }
  errno = saved_errno;
}

// A signal that was ignored when the program started stays ignored: whoever
// started it (nohup, a shell without job control) meant it so.
void HandleUnlessIgnored(int signal_number, void (*handler)(int)) {
  struct sigaction current {};
  sigaction(signal_number, nullptr, &current);
  if (current.sa_handler != SIG_IGN) {
    Handle(signal_number, handler);
  }
}

void EnterWaitModes(int terminal) {
  static bool entered = false;
  if (entered) {
    return;
  }
  entered = true;
  if (tcgetattr(terminal, &saved_modes) != 0) {
    return;
  }
  for (const int signal_number : EndingSignals) {
    HandleUnlessIgnored(signal_number, EndBySignal);
  }
  for (const int signal_number : StopSignals) {
    HandleUnlessIgnored(signal_number, StopBySignal);
  }
  Handle(SIGCONT, ContinueWaiting);
  SetWaitModes();
}

}  // namespace

void RestoreTerminal() {
  if (wait_modes != 0) {
    tcsetattr(terminal_fd, TCSANOW, &saved_modes);
  }
}

int _kbhit() {
  const int terminal = ControllingTerminal();
  if (terminal < 0) {
    return 0;
  }
  EnterWaitModes(terminal);
  // Only looks: the keystroke stays in the terminal for the discard.
  pollfd watch{terminal, POLLIN, 0};
  return poll(&watch, 1, 0) > 0 && (watch.revents & POLLIN) != 0 ? 1 : 0;
}

BOOL FlushConsoleInputBuffer(HANDLE input) {
  // tcgetsid succeeds only on the caller's controlling terminal.
  if (tcgetsid(input) == -1) {
    return 0;
  }
  return tcflush(input, TCIFLUSH) == 0 ? 1 : 0;
}

}  // namespace anykey
