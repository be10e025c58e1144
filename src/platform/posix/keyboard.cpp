// Finding the keyboard. The program's standard descriptors are the user's:
// they are looked at, never closed, and a descriptor of the program's own
// stays out of their slots wherever the limit on open files allows.
#include "platform/posix/keyboard.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>  // ptsname
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/readiness.h"

namespace anykey {
namespace {

// A master's input queue is the terminal's output, not anybody's keys; it
// also answers tcgetsid for the terminal's session. ptsname answers only there.
bool IsTerminal(int fd) { return isatty(fd) != 0 && ptsname(fd) == nullptr; }

bool Controls(int fd) {
  const pid_t session = tcgetsid(fd);
  return session != -1 && session == getsid(0);
}

// The first standard descriptor that is a terminal and, when asked, the
// controlling one.
int StandardTerminal(bool controlling) {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (IsTerminal(fd) && (!controlling || Controls(fd))) {
      return fd;
    }
  }
  return -1;
}

}  // namespace

Keyboard FindKeyboard() {
  Keyboard keyboard;
  // /dev/tty rather than stdin: the keyboard is watched also when stdin is
  // a file or a pipe, as a console is.
  int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  const bool opened = fd >= 0;
  keyboard.kind = KeyboardKind::Controlling;
  if (!opened) {
    // No /dev/tty node (a bare root), or no controlling terminal (a new
    // session on the user's terminal, as su -c makes one).
    fd = StandardTerminal(true);
    if (fd < 0) {
      fd = StandardTerminal(false);
      keyboard.kind = KeyboardKind::Standard;
    }
  }
  termios modes{};
  if (fd < 0 || tcgetattr(fd, &modes) != 0) {
    if (opened) {
      close(fd);
    }
    return Keyboard{};
  }
  if (fd <= STDERR_FILENO) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved >= 0) {
      if (opened) {
        close(fd);
      }
      fd = moved;
    } else {
      // No descriptor above 2 is free: watch from where it is.
      keyboard.in_closed_slot = opened;
    }
  }
  keyboard.fd = fd;
  keyboard.own = opened;
  return keyboard;
}

bool IsTheConsole(int handle, const Keyboard& keyboard) {
  if (keyboard.fd < 0 || handle < 0 || !IsTerminal(handle) ||
      (handle == keyboard.fd && keyboard.in_closed_slot)) {
    return false;
  }
  if (keyboard.kind == KeyboardKind::Controlling) {
    return Controls(handle);
  }
  struct stat of_handle = {};
  struct stat of_keyboard = {};
  return fstat(handle, &of_handle) == 0 && fstat(keyboard.fd, &of_keyboard) == 0 &&
         of_handle.st_rdev == of_keyboard.st_rdev;
}

bool StandardStreamsGone() {
  bool any = false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    struct stat status = {};
    const bool hangs_up =
        fstat(fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
    if (!hangs_up) {
      continue;
    }
    // No events asked: only a hang-up or an error is told.
    const int ready = Readiness(fd, 0, 0);
    if (ready <= 0 || (ready & (POLLHUP | POLLERR)) == 0) {
      return false;
    }
    any = true;
  }
  return any;
}

}  // namespace anykey
