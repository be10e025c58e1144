// Where the keyboard comes from: which terminal the key check watches, and
// whether a standard handle is that terminal.
#pragma once

namespace anykey {

enum class KeyboardKind {
  None,         // no terminal anywhere: no key will come
  Controlling,  // the process's controlling terminal, with its job control
  Standard,     // a terminal on 0, 1 or 2 that controls another session, or none
};

struct Keyboard {
  int fd = -1;
  KeyboardKind kind = KeyboardKind::None;
  // The descriptor was opened into a standard slot that was closed and could
  // not be moved out of it: it is the program's own, not that handle.
  bool in_closed_slot = false;
  // An open file description of the program's own, shared with nobody: its
  // flags may be set.
  bool own = false;
};

// The controlling terminal through /dev/tty; without that node, the standard
// descriptor that is the controlling terminal; without a controlling
// terminal, the first of 0, 1 and 2 that is a terminal. Moved above 2 where
// a descriptor is free. Never a pseudo-terminal's master side.
Keyboard FindKeyboard();

// Whether the handle reads from the keyboard's own terminal, so that what is
// pending there may be read and discarded.
bool IsTheConsole(int handle, const Keyboard& keyboard);

// Whether every standard descriptor that is a pipe or a socket has hung up
// (its other end is gone), and there is at least one. A file or /dev/null
// never hangs up.
bool StandardStreamsGone();

}  // namespace anykey
