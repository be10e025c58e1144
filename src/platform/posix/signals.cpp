// The signal handlers. Each runs with every signal blocked (its sa_mask is
// full), calls only async-signal-safe functions and keeps errno. The state
// they change, and the rules they keep, are in modes.cpp.
#include "platform/posix/signals.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/modes.h"

namespace anykey {
namespace {

#if defined(NSIG)
constexpr int SignalLimit = NSIG;
#else
// sigaction refuses numbers the system lacks, so a limit too high costs nothing.
constexpr int SignalLimit = 129;
#endif

void SetSignalBlocked(int signal_number, bool blocked) {
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &just_this, nullptr);
}

void Handle(int signal_number, void (*handler)(int), int flags) {
  struct sigaction action = {};
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
  MarkEnding(true);
  // Dying by the same signal lets the caller see how the run ended; the
  // system writes a core where that is the signal's default.
  TakeDefaultAction(signal_number);
  // Still here: on this system the signal's default is to go on. So does the wait.
  MarkEnding(false);
  errno = saved_errno;
}

void StopBySignal(int signal_number) {
  const int saved_errno = errno;
  if (!InOwnCall()) {
    PutBackModes();
    MarkStopped();
    // Stopped by the signal itself, so the shell reports the stop it sent.
    // Continued, or never stopped where the system drops stops for a process
    // group that no shell controls: either way the next check in the
    // foreground takes the terminal again.
    TakeDefaultAction(signal_number);
    Handle(signal_number, StopBySignal, 0);
  }
  errno = saved_errno;
}

void ContinueWaiting(int /*signal_number*/) {
  // SIGSTOP reaches no handler: whoever held the terminal meanwhile may have
  // put other modes there, or a second copy its own.
  MarkContinued();
}

#if defined(SIGIO) && defined(O_ASYNC) && defined(F_SETOWN)
// The terminal's notice of input. Sent by a process instead, SIGIO ends the
// run as its default would.
void NoticeInput(int signal_number, siginfo_t* info, void* /*context*/) {
  if (info != nullptr && (info->si_code == SI_USER || info->si_code == SI_QUEUE)) {
    EndBySignal(signal_number);
  } else {
    MarkInput();
  }
}
#endif

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
#if defined(__APPLE__)
      // macOS's headers hide these at the program's POSIX level, and their
      // default there is to go on: taken for ends, a resize or ^T would put
      // the modes back until the next check.
#if !defined(SIGIO)
    case 23:
#endif
#if !defined(SIGWINCH)
    case 28:
#endif
#if !defined(SIGINFO)
    case 29:
#endif
#endif
      return true;
    default:
      return false;
  }
}

}  // namespace

// A signal that was ignored when the program started stays ignored: whoever
// started it (nohup, a shell without job control) meant it so.
void HandleSignals() {
  for (int signal_number = 1; signal_number < SignalLimit; ++signal_number) {
    struct sigaction current = {};
    if (KeepsItsDisposition(signal_number) || sigaction(signal_number, nullptr, &current) != 0 ||
        current.sa_handler == SIG_IGN) {
      continue;
    }
    // No SA_RESTART for the stops: a call that SIGTTOU refuses returns.
#if defined(SIGIO) && defined(O_ASYNC) && defined(F_SETOWN)
    if (signal_number == SIGIO) {
      struct sigaction action = {};
      action.sa_sigaction = NoticeInput;
      sigfillset(&action.sa_mask);
      action.sa_flags = SA_SIGINFO | SA_RESTART;
      sigaction(SIGIO, &action, nullptr);
      continue;
    }
#endif
    if (IsStopSignal(signal_number)) {
      Handle(signal_number, StopBySignal, 0);
    } else {
      Handle(signal_number, EndBySignal, SA_RESTART);
    }
  }
  Handle(SIGCONT, ContinueWaiting, SA_RESTART);
}

bool SignalInput(int fd) {
#if defined(SIGIO) && defined(O_ASYNC) && defined(F_SETOWN)
  struct sigaction current = {};
  sigset_t blocked;
  sigemptyset(&blocked);
  if (sigaction(SIGIO, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) == 0 ||
      current.sa_sigaction != NoticeInput || sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0 ||
      sigismember(&blocked, SIGIO) == 1) {
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETOWN, getpid()) == 0 &&
         fcntl(fd, F_SETFL, flags | O_ASYNC) == 0;
#else
  static_cast<void>(fd);
  return false;
#endif
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

}  // namespace anykey
