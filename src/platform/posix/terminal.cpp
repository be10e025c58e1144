// The terminal side of the console operations: the key check, the discard,
// and the modes they need, shared by the main flow and the signal handlers.
// This file holds the program's only mutable state. The modes are saved once,
// when the controlling terminal is first opened; the wait modes move through
//   Untouched -> Waiting <-> Restored -> Ending
// and these hold at every step:
//   1. The state and the terminal change together: a handler runs with every
//      signal blocked, and the main flow's terminal calls with every signal
//      but SIGTTOU blocked.
//   2. The wait modes are set only by the key check, in the foreground, with
//      SIGTTOU open: a call that lands in the background is refused, never
//      written over another program's modes. No handler ever sets them.
//   3. The saved modes go back only over the program's own wait modes, and
//      on every way out (a stop, the background, the end, any catchable
//      signal that ends the process) before the state leaves Waiting.
//   4. The terminal's descriptor is never 0, 1 or 2.
// Written for POSIX.1-2008 systems and tried on Linux; signals are taken
// from the system's own numbering, so its own ones are covered too.
#include "platform/posix/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <errno.h>
#include <stdlib.h>  // ptsname

#include "platform/console_ops.h"

namespace anykey {
namespace {

#if defined(NSIG)
constexpr int SignalLimit = NSIG;
#else
// sigaction refuses numbers the system lacks, so a limit too high costs nothing.
constexpr int SignalLimit = 129;
#endif

enum State { Untouched, Waiting, Restored, Ending };

bool opened = false;
int terminal_fd = -1;  // -1: no controlling terminal
// No one else may change it once the program runs, and it never does.
pid_t own_group = -1;
unsigned quiet_checks = 0;
// Written before any handler is installed.
termios saved_modes{};
// As the terminal reported them once set; written only with every signal
// blocked but SIGTTOU, whose handler does not read it then.
termios wait_modes{};
volatile sig_atomic_t state = Untouched;
// Set while the main flow's own terminal call runs: a SIGTTOU then is the
// system refusing a call from the background, not somebody's stop.
volatile sig_atomic_t own_call = 0;

bool SameModes(const termios& a, const termios& b) {
  for (int i = 0; i < NCCS; ++i) {
    if (a.c_cc[i] != b.c_cc[i]) {
      return false;
    }
  }
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// Runs with every signal blocked, SIGTTOU included, so the call goes through
// from the background too; it only ever replaces the program's own modes.
// Afterwards the next check in the foreground sets the wait modes again.
void PutBackModes() {
  termios now{};
  if (state != Untouched && tcgetattr(terminal_fd, &now) == 0 && SameModes(now, wait_modes)) {
    tcsetattr(terminal_fd, TCSANOW, &saved_modes);
  }
  if (state == Waiting) {
    state = Restored;
  }
}

sigset_t BlockSignals(bool but_ttou) {
  sigset_t blocked;
  sigset_t before;
  sigfillset(&blocked);
  if (but_ttou) {
    sigdelset(&blocked, SIGTTOU);
  }
  sigprocmask(SIG_BLOCK, &blocked, &before);
  return before;
}

// The main flow's own terminal calls run between these two, with every
// signal blocked but SIGTTOU.
sigset_t BeginOwnCall() {
  const sigset_t before = BlockSignals(true);
  own_call = 1;
  return before;
}

void EndOwnCall(const sigset_t& before) {
  own_call = 0;
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

void SetSignalBlocked(int signal_number, bool blocked) {
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &just_this, nullptr);
}

void Handle(int signal_number, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigfillset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signal_number, &action, nullptr);
}

// Takes the signal's default action from inside its handler; returns when
// that action leaves the process running (a continued or dropped stop).
void TakeDefaultAction(int signal_number) {
  Handle(signal_number, SIG_DFL, 0);
  static_cast<void>(raise(signal_number));
  SetSignalBlocked(signal_number, false);
  SetSignalBlocked(signal_number, true);
}

void EndBySignal(int signal_number) {
  const int saved_errno = errno;
  PutBackModes();
  state = Ending;
  // Dying by the same signal lets the caller see how the run ended; the
  // system writes a core where that is the signal's default.
  TakeDefaultAction(signal_number);
  // Still here: on this system the signal's default is to go on. So does the wait.
  state = Restored;
  errno = saved_errno;
}

void StopBySignal(int signal_number) {
  const int saved_errno = errno;
  if (own_call == 0) {
    PutBackModes();
    // Stopped by the signal itself, so the shell reports the stop it sent.
    // Continued, or never stopped where the system drops stops for a process
    // group that no shell controls: either way the next check sets the wait
    // modes again.
    TakeDefaultAction(signal_number);
    Handle(signal_number, StopBySignal, 0);
  }
  errno = saved_errno;
}

void ContinueWaiting(int /*signal_number*/) {
  // SIGSTOP reaches no handler: whoever held the terminal meanwhile may have
  // put other modes there. The next check in the foreground sets them again.
  if (state == Waiting) {
    state = Restored;
  }
}

bool IsStopSignal(int signal_number) {
  return signal_number == SIGTSTP || signal_number == SIGTTIN || signal_number == SIGTTOU;
}

// Signals that cannot be caught, or whose default leaves the process running.
bool KeepsItsDisposition(int signal_number) {
  switch (signal_number) {
    case SIGKILL:
    case SIGSTOP:
    case SIGCONT:
    case SIGCHLD:
    case SIGURG:
#if defined(SIGWINCH)
    case SIGWINCH:
#endif
#if defined(SIGINFO) && (!defined(SIGPWR) || SIGINFO != SIGPWR)
    case SIGINFO:
#endif
      return true;
    default:
      return false;
  }
}

// A signal that was ignored when the program started stays ignored: whoever
// started it (nohup, a shell without job control) meant it so.
void HandleSignals() {
  for (int signal_number = 1; signal_number < SignalLimit; ++signal_number) {
    struct sigaction current {};
    if (KeepsItsDisposition(signal_number) || sigaction(signal_number, nullptr, &current) != 0 ||
        current.sa_handler == SIG_IGN) {
      continue;
    }
    // No SA_RESTART for the stops: a call that SIGTTOU refuses returns.
    if (IsStopSignal(signal_number)) {
      Handle(signal_number, StopBySignal, 0);
    } else {
      Handle(signal_number, EndBySignal, SA_RESTART);
    }
  }
  Handle(SIGCONT, ContinueWaiting, SA_RESTART);
}

bool OpenTerminal() {
  if (!opened) {
    opened = true;
    // /dev/tty rather than stdin: the keyboard is watched also when stdin
    // is a file or a pipe, as a console is.
    int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal >= 0 && terminal <= STDERR_FILENO) {
      // A standard descriptor was closed: keep out of its place.
      const int moved = fcntl(terminal, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
      close(terminal);
      terminal = moved;
    }
    if (terminal >= 0 && tcgetattr(terminal, &saved_modes) == 0) {
      terminal_fd = terminal;
      own_group = getpgrp();
      HandleSignals();
    } else if (terminal >= 0) {
      close(terminal);
    }
  }
  return terminal_fd >= 0;
}

// Only looks: the keystroke stays in the terminal for the discard.
bool KeyWaiting() {
  pollfd watch{terminal_fd, POLLIN, 0};
  return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLIN | POLLHUP)) != 0;
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
  const sigset_t before = BeginOwnCall();
  if (tcsetattr(terminal_fd, TCSANOW, &modes) == 0) {
    if (tcgetattr(terminal_fd, &wait_modes) != 0) {
      wait_modes = modes;
    }
    state = Waiting;
  }
  EndOwnCall(before);
}

}  // namespace

void LeaveTerminal() {
  BlockSignals(false);
  if (terminal_fd >= 0) {
    PutBackModes();
  }
  state = Ending;
}

int _kbhit() {
  if (!OpenTerminal()) {
    return 0;
  }
  // While the wait modes hold, a check is one look at the input queue. The
  // foreground is asked when a key is there, when the modes are to be set,
  // and every tenth quiet check, which is how a move to the background shows.
  if (state == Waiting && !KeyWaiting() && ++quiet_checks < 10) {
    return 0;
  }
  quiet_checks = 0;
  const pid_t foreground = tcgetpgrp(terminal_fd);
  if (foreground != -1 && foreground != own_group) {
    // A background job has no keyboard, and leaves the terminal's modes to
    // the foreground.
    const sigset_t before = BlockSignals(false);
    PutBackModes();
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return 0;
  }
  if (state != Waiting) {
    SetWaitModes();
  }
  // A terminal that has hung up reads as a key, since no other will come.
  return (state == Waiting || foreground == -1) && KeyWaiting() ? 1 : 0;
}

BOOL FlushConsoleInputBuffer(HANDLE input) {
  // Only the controlling terminal itself is the console. tcgetsid answers on
  // a pseudo-terminal's master too, whose input queue is the terminal's
  // output; ptsname answers only there.
  if (!OpenTerminal() || tcgetsid(input) != getsid(0) || ptsname(input) != nullptr) {
    return 0;
  }
  const sigset_t before = BeginOwnCall();
  const bool flushed = tcflush(input, TCIFLUSH) == 0;
  EndOwnCall(before);
  return flushed ? 1 : 0;
}

}  // namespace anykey
