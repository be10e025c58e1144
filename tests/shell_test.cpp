// Interactive shells users have, driving the real POSIX binary in a
// pseudo-terminal as a user at the keyboard would.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "pty_session.h"

namespace {

// What a user types at an interactive shell, and what must follow there.
enum class Then {
  WaitModes,  // the program's modes come: no echo, signal keys on
  Gone,       // the program's modes are gone (it ended or stopped)
  Screen,     // the text shows on the screen
  Stty,       // `stty -g` prints what it printed at the start
  Sigstop,    // SIGSTOP to the foreground job, then as Gone
};
struct Act {
  std::string type;
  Then then;
  std::string text;
  bool resetting_only = false;  // for a shell that puts its own modes back after a stop
};

bool InWaitModes(const PtySession& session) {
  const tcflag_t flags = Modes(session.slave).c_lflag;
  return (flags & ISIG) != 0 && (flags & (ECHO | ICANON)) == 0;
}

// What `stty -g` prints for commands the shell runs: the first whole line of
// settings after the command.
std::string SttyG(PtySession& session) {
  const std::regex settings("([0-9a-f]+(:[0-9a-f]+){20,})\r?\n");
  const size_t seen = session.screen.size();
  Type(session, "stty -g\n");
  std::smatch found;
  std::string since;
  const bool printed = WaitFor([&] {
    ReadScreen(session);
    since = session.screen.substr(seen);
    return std::regex_search(since, found, settings);
  });
  return printed ? found.str(1) : "";
}

// ^Z, fg, & and ^C at the shells users have. bash, zsh and dash reset the
// terminal after fg, busybox sh and mksh keep their own line-editing modes
// (no signal keys) while they read a command, also while a job runs in the
// background: the modes to put back are only ever the ones the program found
// in the foreground.
TEST(Terminal, KeepsItsPromisesUnderInteractiveShells) {
  const struct {
    std::vector<std::string> argv;
    const char* stopped;
    bool resets_modes;  // puts its own modes back after a stop no handler saw
  } shells[] = {{{"/bin/dash", "-i"}, "Stopped", false},
                {{"/bin/bash", "--norc", "--noprofile", "--noediting", "-i"}, "Stopped", true},
                {{"/bin/zsh", "-f", "-i", "+Z"}, "suspended", false},
                {{"/bin/busybox", "sh", "-i"}, "Stopped", false},
                {{"/bin/mksh", "-i"}, "Stopped", false}};
  const std::string run = std::string(ANYKEY_BINARY) + " >/dev/null";
  const std::string status = "echo \"exit code $?\"\n";
  const struct {
    const char* name;
    std::vector<Act> acts;
  } scripts[] = {
      {"^Z, fg, a key",
       {{run + "\n", Then::WaitModes, ""},
        {"\x1a", Then::Screen, "?"},
        {"", Then::Stty, ""},
        {"fg\n", Then::WaitModes, ""},
        {"", Then::Sigstop, "", true},
        {"fg\n", Then::WaitModes, "", true},
        {"k", Then::Gone, ""},
        {status, Then::Screen, "exit code 0"}}},
      {"&, fg, ^C",
       {{run + " &\n", Then::Stty, ""},
        {"fg\n", Then::WaitModes, ""},
        {"\x03", Then::Gone, ""},
        {status, Then::Screen, "exit code 130"}}},
      {"&, fg, a key",
       {{run + " &\n", Then::Stty, ""},
        {"fg\n", Then::WaitModes, ""},
        {"k", Then::Gone, ""},
        {status, Then::Screen, "exit code 0"}}},
  };
  for (const auto& shell : shells) {
    if (access(shell.argv[0].c_str(), X_OK) != 0) {
      ADD_FAILURE() << shell.argv[0] << " not found: the test installer brings it";
      continue;
    }
    for (const auto& script : scripts) {
      SCOPED_TRACE(shell.argv[0] + ": " + script.name);
      Launch launch;
      launch.argv = shell.argv;
      launch.env = {"PATH=/usr/bin:/bin", "TERM=dumb", "PS1=$ ", "ENV=/dev/null"};
      launch.out = Stdout::Terminal;
      PtySession session = Start(launch);
      const std::string stty_before = SttyG(session);
      ASSERT_NE(stty_before, "") << session.screen;
      for (const Act& act : script.acts) {
        if (act.resetting_only && !shell.resets_modes) continue;
        SCOPED_TRACE(act.type);
        Type(session, act.type);
        switch (act.then) {
          case Then::WaitModes:
            EXPECT_TRUE(WaitFor([&] { return InWaitModes(session); }))
                << "the wait modes did not come";
            break;
          case Then::Screen:
            EXPECT_TRUE(WaitForScreen(session, act.text == "?" ? shell.stopped : act.text))
                << session.screen;
            break;
          case Then::Stty:
            EXPECT_EQ(SttyG(session), stty_before);
            break;
          case Then::Sigstop: {
            // SIGSTOP reaches no handler; the shell puts its own modes back,
            // and only SIGCONT tells the program to take the terminal again.
            // A failed tcgetpgrp would make this a signal to init or to the test itself.
            const pid_t job = tcgetpgrp(session.master);
            ASSERT_GT(job, 1) << "no foreground job to stop";
            kill(-job, SIGSTOP);
          }
            [[fallthrough]];
          case Then::Gone:
            EXPECT_TRUE(WaitFor([&] { return !InWaitModes(session); })) << "the wait modes stayed";
            break;
        }
      }
      EXPECT_EQ(SttyG(session), stty_before);
      Type(session, "exit\n");
      EXPECT_NE(Finish(session), -1);
    }
  }
}

}  // namespace
