// The console operations on the keyboard's terminal: the pause, the key
// check and the discard. Who owns the terminal's modes, and when they are
// set and put back, is decided in modes.cpp.
#include "platform/posix/terminal.h"

#include <poll.h>
#include <sys/select.h>
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

timespec PauseWatchingKeyboard(DWORD milliseconds) {
  const timeval interval{static_cast<time_t>(milliseconds / 1000),
                         static_cast<suseconds_t>(milliseconds % 1000) * 1000};
  const timespec whole{interval.tv_sec, static_cast<long>(interval.tv_usec) * 1000L};
  if (!HoldsTerminal()) {
    return whole;
  }
  const int fd = OpenKeyboard().fd;
  if (fd >= FD_SETSIZE) {
    return whole;
  }
  // select rather than poll: it can say how much of the time-out is left,
  // which spares reading the clock at every pause (that read alone cost
  // about a twentieth of a wake-up here).
  timeval left = interval;
  fd_set watch;
  FD_ZERO(&watch);
  // A type that widens without a sign change both to the size_t that musl's
  // macro divides by and to the long of glibc's fortified bounds check; the
  // descriptor is below FD_SETSIZE, so it fits.
  FD_SET(static_cast<unsigned short>(fd), &watch);
  quiet_pause = select(fd + 1, &watch, nullptr, nullptr, &left) == 0;
  if (quiet_pause) {
    return timespec{};
  }
  // Input, a hang-up or a signal came early. Where the system does not say
  // what was left, the whole interval again: a longer pause, never a shorter.
  if (left.tv_sec == interval.tv_sec && left.tv_usec == interval.tv_usec) {
    return whole;
  }
  return timespec{left.tv_sec, static_cast<long>(left.tv_usec) * 1000L};
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
