// The terminal's modes and who owns them. This file holds the program's
// mutable state; the signal handlers (signals.cpp) change it through the
// functions below.
//
// The program changes six fields: ICANON, ECHO and IEXTEN, IXON, VMIN and
// VTIME (its wait modes). Whose the fields on the terminal are is decided by
// evidence at the moment of writing, not by a remembered state:
//   1. Who may write: the program in the foreground (tcgetpgrp is its own
//      group); on a terminal without job control that it took as the
//      keyboard; or in the background only while nothing since it last set
//      its wait modes could have let anyone else have the terminal (no stop
//      and no continue seen), as when it is left holding the terminal that a
//      shell hands to another group. After a stop or a continue it writes
//      from the foreground only, so a second copy keeps its own wait modes.
//   2. Setting the wait modes happens in the foreground only, with SIGTTOU
//      open, so that a call landing in the background after an uncatchable
//      stop is refused. The modes to put back are read right there: never
//      while the shell or another job holds the terminal. A field that
//      still holds the program's own value keeps the value saved before (a
//      SIGSTOP, which no handler sees, left it there).
//   3. Putting back writes exactly the fields that the program changed and
//      that still hold the values it set; a field that someone else changed
//      since stays theirs, and nothing is written when nothing goes back.
//      Every way out puts back: the end, a stop, the background, a
//      catchable signal that ends the process.
//   4. In the foreground, wait modes still on the terminal after a continue
//      are the program's: it goes on holding it, a discard included.
//   5. The state and the terminal change together: a handler runs with every
//      signal blocked, and the main flow's terminal calls with every signal
//      but SIGTTOU blocked.
//   6. The keyboard's descriptor is found once, before any handler is
//      installed, and never closed.
#include "platform/posix/modes.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "console/key_wait.h"
#include "platform/posix/readiness.h"
#include "platform/posix/signals.h"

namespace anykey {
namespace {

constexpr tcflag_t LocalFields = ICANON | ECHO | IEXTEN;
constexpr tcflag_t InputFields = IXON;
constexpr int CharFields[] = {VMIN, VTIME};

bool looked = false;
Keyboard keyboard;
pid_t own_group = -1;
// Written only with every signal blocked but SIGTTOU, whose handler does not
// read them then.
termios saved_modes{};  // the fields to put back
termios wait_modes{};   // as the terminal reported them once set
volatile sig_atomic_t have_saved = 0;
volatile sig_atomic_t holding = 0;    // the wait modes set, not put back since
volatile sig_atomic_t settled = 0;    // no stop or continue since they were set
volatile sig_atomic_t continued = 0;  // since the last look
volatile sig_atomic_t input = 1;      // since the last look: typed ahead, at first
volatile sig_atomic_t ending = 0;
// Set while the main flow's own terminal call runs: a SIGTTOU then is the
// system refusing a call from the background, not somebody's stop.
volatile sig_atomic_t own_call = 0;
bool input_signalled = false;  // SIGIO tells of input: a quiet pause needs no look
unsigned quiet_checks = 0;
bool no_key = false;  // the wait ended because no key can come

termios WaitModesFrom(termios modes) {
  // Keys arrive one at a time and unechoed; ^C, ^\ and ^Z keep their meaning
  // (ISIG stays). IEXTEN and IXON go so that ^V, ^O, ^S and ^Q count as keys
  // instead of being taken by the terminal.
  modes.c_lflag &= ~LocalFields;
  modes.c_iflag &= ~InputFields;
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  return modes;
}

// Sets to from's value each of the program's fields in which to holds
// match's value and from's differs; whether any changed.
bool ReplaceFields(termios& to, const termios& match, const termios& from) {
  const tcflag_t local = LocalFields & ~(to.c_lflag ^ match.c_lflag) & (to.c_lflag ^ from.c_lflag);
  const tcflag_t in = InputFields & ~(to.c_iflag ^ match.c_iflag) & (to.c_iflag ^ from.c_iflag);
  to.c_lflag ^= local;
  to.c_iflag ^= in;
  bool changed = local != 0 || in != 0;
  for (const int field : CharFields) {
    if (to.c_cc[field] == match.c_cc[field] && to.c_cc[field] != from.c_cc[field]) {
      to.c_cc[field] = from.c_cc[field];
      changed = true;
    }
  }
  return changed;
}

bool WaitFieldsHold(const termios& now) {
  bool hold = ((now.c_lflag ^ wait_modes.c_lflag) & LocalFields) == 0 &&
              ((now.c_iflag ^ wait_modes.c_iflag) & InputFields) == 0;
  for (const int field : CharFields) {
    hold = hold && now.c_cc[field] == wait_modes.c_cc[field];
  }
  return hold;
}

enum class Place { Foreground, Background, HungUp };

// A terminal that controls no session of the program's has no foreground
// to ask: whoever started the program there left it the keyboard.
Place WhereIsTheProgram() {
  if (keyboard.kind != KeyboardKind::Controlling) {
    return Place::Foreground;
  }
  const pid_t foreground = tcgetpgrp(keyboard.fd);
  return foreground == -1          ? Place::HungUp
         : foreground == own_group ? Place::Foreground
                                   : Place::Background;
}

// Called in the foreground only. Sets the wait modes over whatever else the
// terminal has now, unless they are still there.
void TakeTerminal() {
  const sigset_t before = BeginOwnCall();
  termios now{};
  if (ending == 0 && tcgetattr(keyboard.fd, &now) == 0) {
    if (have_saved != 0 && WaitFieldsHold(now)) {
      holding = 1;
    } else {
      termios put_back = now;
      if (have_saved != 0) {
        ReplaceFields(put_back, wait_modes, saved_modes);
      }
      const termios modes = WaitModesFrom(now);
      if (tcsetattr(keyboard.fd, TCSANOW, &modes) == 0) {
        saved_modes = put_back;
        if (tcgetattr(keyboard.fd, &wait_modes) != 0) {
          wait_modes = modes;
        }
        have_saved = 1;
        holding = 1;
        settled = 1;
      }
    }
  }
  EndOwnCall(before);
}

void GiveBackTerminal() {
  const sigset_t before = BlockSignals(false);
  PutBackModes();
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

enum class Look { Nothing, Key, HungUp };

// Only looks: the keystroke stays in the terminal for the discard.
Look LookAtKeyboard() {
  const int ready = Readiness(keyboard.fd, POLLIN, 0);
  if (ready <= 0) {
    return Look::Nothing;
  }
  if ((ready & POLLHUP) != 0) {
    return Look::HungUp;
  }
  return (ready & POLLIN) != 0 ? Look::Key : Look::Nothing;
}

// Whether the look ends the wait: a key, or a hang-up, after which no key
// can come.
int EndsTheWait(Look look, bool key_counts) {
  no_key = look == Look::HungUp;
  return no_key || (look == Look::Key && key_counts) ? 1 : 0;
}

}  // namespace

const Keyboard& OpenKeyboard() {
  if (!looked) {
    looked = true;
    own_group = getpgrp();
    keyboard = FindKeyboard();
    if (keyboard.fd >= 0) {
      HandleSignals();
      input_signalled = keyboard.own && SignalInput(keyboard.fd);
    }
  }
  return keyboard;
}

void TakeKeyboard() {
  if (OpenKeyboard().fd >= 0 && WhereIsTheProgram() == Place::Foreground) {
    TakeTerminal();
  }
}

bool HoldsTerminal() { return holding != 0; }

int CheckKeyboard() {
  if (OpenKeyboard().fd < 0) {
    // No key will come, but the wait lasts while the caller is there: until
    // the other ends of the standard streams are gone, looked at about once
    // a second.
    if (++quiet_checks < 1000 / PollInterval) {
      return 0;
    }
    quiet_checks = 0;
    no_key = StandardStreamsGone();
    return no_key ? 1 : 0;
  }
  // A quiet wake-up: the wait modes hold and no signal said otherwise. With
  // input signalled there is nothing to look at; the foreground is asked
  // every tenth time, which is how a move to the background shows.
  const bool told = input != 0 || continued != 0;
  bool key_counts = true;
  if (holding != 0 && !told && ++quiet_checks < 10) {
    if (input_signalled) {
      return 0;
    }
  } else {
    quiet_checks = 0;
    const Place place = WhereIsTheProgram();
    if (place == Place::Background) {
      // A background job has no keyboard, and leaves the terminal's modes to
      // the foreground.
      GiveBackTerminal();
      return 0;
    }
    if (place == Place::Foreground && (holding == 0 || continued != 0)) {
      continued = 0;
      TakeTerminal();
    }
    // Asked only for the foreground: the terminal has said nothing came.
    if (input_signalled && !told && place == Place::Foreground && holding != 0) {
      return 0;
    }
    // Cleared before the look, so that input after it is told again.
    input = 0;
    key_counts = holding != 0 || place == Place::HungUp;
  }
  return EndsTheWait(LookAtKeyboard(), key_counts);
}

bool EndedWithoutKey() { return no_key; }

Hold KeepTerminal() {
  if (holding != 0 && continued == 0) {
    return Hold::Held;
  }
  const bool held = holding != 0;
  continued = 0;
  if (WhereIsTheProgram() != Place::Foreground) {
    GiveBackTerminal();
    return Hold::Lost;
  }
  TakeTerminal();
  return holding == 0 ? Hold::Lost : held ? Hold::Held : Hold::Again;
}

void EndOfRun() {
  BlockSignals(false);
  PutBackModes();
  ending = 1;
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

// With every signal blocked, SIGTTOU included, so that a write allowed from
// the background goes through.
void PutBackModes() {
  termios now{};
  const bool may_write = keyboard.kind != KeyboardKind::Controlling || settled != 0 ||
                         tcgetpgrp(keyboard.fd) == own_group;
  if (have_saved != 0 && may_write && tcgetattr(keyboard.fd, &now) == 0 &&
      ReplaceFields(now, wait_modes, saved_modes)) {
    tcsetattr(keyboard.fd, TCSANOW, &now);
  }
  holding = 0;
}

bool InOwnCall() { return own_call != 0; }

void MarkStopped() { settled = 0; }

void MarkContinued() {
  settled = 0;
  continued = 1;
}

void MarkInput() { input = 1; }

void MarkEnding(bool end) { ending = end ? 1 : 0; }

}  // namespace anykey
