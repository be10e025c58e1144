// The console operations on the keyboard's terminal: the pause, the key
// check and the discard. Who owns the terminal's modes, and when they are
// set and put back, is decided in modes.cpp.
#include "platform/posix/terminal.h"

#include <errno.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/discard.h"
#include "platform/posix/modes.h"

namespace anykey {
namespace {

// No one else may change it once the program runs, and it never does.
pid_t own_group = -1;
unsigned quiet_checks = 0;
// The last pause watched the keyboard and nothing came.
bool quiet_pause = false;

enum class Look { Nothing, Key, HungUp };

// Only looks: the keystroke stays in the terminal for the discard.
Look LookAtKeyboard(int fd) {
  pollfd watch{fd, POLLIN, 0};
  if (poll(&watch, 1, 0) <= 0) {
    return Look::Nothing;
  }
  if ((watch.revents & POLLHUP) != 0) {
    return Look::HungUp;
  }
  return (watch.revents & POLLIN) != 0 ? Look::Key : Look::Nothing;
}

}  // namespace

bool PauseWatchingKeyboard(DWORD milliseconds) {
  if (!HoldsTerminal()) {
    return false;
  }
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  pollfd watch{OpenKeyboard().fd, POLLIN, 0};
  quiet_pause = poll(&watch, 1, static_cast<int>(milliseconds)) == 0;
  if (!quiet_pause) {
    // Input, a hang-up or a signal came early: the rest of the pause is
    // slept out, so that the check still follows a whole pause.
    end.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    end.tv_sec += static_cast<time_t>(milliseconds / 1000 + end.tv_nsec / 1000000000L);
    end.tv_nsec %= 1000000000L;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
  }
  return true;
}

void LeaveTerminal() { EndOfRun(); }

int _kbhit() {
  const Keyboard& keyboard = OpenKeyboard();
  if (keyboard.fd < 0) {
    return 0;
  }
  // After a quiet pause on the keyboard there is nothing to look at. The
  // foreground is asked every tenth time, which is how a move to the
  // background shows.
  const bool quiet = quiet_pause;
  quiet_pause = false;
  if (quiet && HoldsTerminal() && ++quiet_checks < 10) {
    return 0;
  }
  quiet_checks = 0;
  bool hung_up = false;
  if (keyboard.kind == KeyboardKind::Controlling) {
    if (own_group == -1) {
      own_group = getpgrp();
    }
    const pid_t foreground = tcgetpgrp(keyboard.fd);
    if (foreground != -1 && foreground != own_group) {
      // A background job has no keyboard, and leaves the terminal's modes to
      // the foreground.
      GiveBackTerminal();
      return 0;
    }
    hung_up = foreground == -1;
  }
  if (quiet && HoldsTerminal()) {
    return 0;
  }
  // A terminal that controls no session of the program's has no foreground
  // to ask: whoever started the program there left it the keyboard.
  if (!hung_up && !HoldsTerminal()) {
    TakeTerminal();
  }
  // A terminal that has hung up reads as a key, since no other will come.
  const Look look = LookAtKeyboard(keyboard.fd);
  return look == Look::HungUp || (look == Look::Key && (HoldsTerminal() || hung_up)) ? 1 : 0;
}

BOOL FlushConsoleInputBuffer(HANDLE input) {
  // Only the keyboard's own terminal is the console: anything else keeps its
  // input, as a handle that is not the console does on Windows.
  if (!IsTheConsole(input, OpenKeyboard())) {
    return 0;
  }
  return DiscardInput(input, HoldsTerminal()) ? 1 : 0;
}

}  // namespace anykey
