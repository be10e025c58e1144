// The terminal's modes and who owns them. This file holds the program's
// mutable state; the signal handlers (signals.cpp) change it through the
// functions below. The state, and who owns the terminal's modes in each:
//
//   Untouched  The program has set nothing: the modes belong to whoever
//              holds the terminal.
//   Waiting    The program's own. It set its wait modes itself, in the
//              foreground, and has seen no sign since (a stop, a continue,
//              the background) that anyone else had the terminal. The modes
//              to put back were read in the foreground just before.
//   Restored   Given back. The saved modes went back, or a continue showed
//              that someone else (the shell, another job, a second copy of
//              the program) may have had the terminal since. The modes are
//              theirs: the program writes nothing.
//   Ending     On the way out: nothing is set again.
//
//   Untouched -> Waiting <-> Restored -> Ending; any state -> Ending.
//
// These hold at every step:
//   1. The state and the terminal change together: a handler runs with every
//      signal blocked, and the main flow's terminal calls with every signal
//      but SIGTTOU blocked.
//   2. Only the key check enters Waiting, in the foreground, with SIGTTOU
//      open, so that a call landing in the background is refused. The modes
//      to put back are read right there: never while the shell or another
//      job held the terminal. Modes equal to the wait modes are not taken
//      for them (a SIGSTOP, which no handler sees, left them there).
//   3. The saved modes are written only in Waiting, and only over the wait
//      modes (compared by value too, in case someone set others meanwhile).
//      Equal values alone prove nothing: a second copy sets the same ones.
//   4. Every way out of Waiting that the program sees (a stop, the
//      background, the end, a catchable signal that ends the process) puts
//      the saved modes back first.
//   5. The keyboard's descriptor is found once, before any handler is
//      installed, and never closed.
#include "platform/posix/modes.h"

#include <termios.h>
#include <unistd.h>

#include "platform/posix/signals.h"

namespace anykey {
namespace {

enum State { Untouched, Waiting, Restored, Ending };

bool looked = false;
Keyboard keyboard;
// Written only with every signal blocked but SIGTTOU, whose handler does not
// read them then.
termios saved_modes{};
termios wait_modes{};  // as the terminal reported them once set
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

termios WaitModesFrom(termios modes) {
  // Keys arrive one at a time and unechoed; ^C, ^\ and ^Z keep their meaning
  // (ISIG stays). IEXTEN and IXON go so that ^V, ^O, ^S and ^Q count as keys
  // instead of being taken by the terminal.
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  return modes;
}

}  // namespace

const Keyboard& OpenKeyboard() {
  if (!looked) {
    looked = true;
    keyboard = FindKeyboard();
    if (keyboard.fd >= 0) {
      HandleSignals();
    }
  }
  return keyboard;
}

bool HoldsTerminal() { return state == Waiting; }

bool TakeTerminal() {
  const sigset_t before = BeginOwnCall();
  termios now{};
  if (state != Ending && tcgetattr(keyboard.fd, &now) == 0) {
    const termios put_back = state == Restored && SameModes(now, wait_modes) ? saved_modes : now;
    const termios modes = WaitModesFrom(put_back);
    if (tcsetattr(keyboard.fd, TCSANOW, &modes) == 0) {
      saved_modes = put_back;
      if (tcgetattr(keyboard.fd, &wait_modes) != 0) {
        wait_modes = modes;
      }
      state = Waiting;
    }
  }
  EndOwnCall(before);
  return state == Waiting;
}

void GiveBackTerminal() {
  const sigset_t before = BlockSignals(false);
  PutBackModes();
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

void EndOfRun() {
  BlockSignals(false);
  PutBackModes();
  state = Ending;
}

sigset_t BeginOwnCall() {
  const sigset_t before = BlockSignals(true);
  own_call = 1;
  return before;
}

void EndOwnCall(const sigset_t& before) {
  own_call = 0;
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

// With every signal blocked, SIGTTOU included, so the call goes through from
// the background too, where it only ever replaces the program's own modes.
void PutBackModes() {
  if (state != Waiting) {
    return;
  }
  termios now{};
  if (tcgetattr(keyboard.fd, &now) == 0 && SameModes(now, wait_modes)) {
    tcsetattr(keyboard.fd, TCSANOW, &saved_modes);
  }
  state = Restored;
}

bool InOwnCall() { return own_call != 0; }

void MarkContinued() {
  if (state == Waiting) {
    state = Restored;
  }
}

void MarkEnding(bool ending) { state = ending ? Ending : Restored; }

}  // namespace anykey
