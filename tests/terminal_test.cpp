// The real POSIX binary in a pseudo-terminal, as a user meets it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "pty_session.h"

namespace {

const std::string Prompt("Press any key to end polling\r\n");
const std::string PromptOnScreen(
    "Press any key to end polling\r\r\n");  // the terminal adds CR to LF

struct Case {
  const char* name;
  Stdin in;
  Stdout out;
  bool junk;            // arguments and environment that must make no difference
  const char* ahead;    // typed before the program starts
  const char* typed;    // typed once the program waits
  int sent;             // a signal sent once the program waits
  int exit_code;        // or -1 ...
  int died_by;          // ... the signal that ended it
  const char* screen;   // everything on the terminal after the typed-ahead echo
  const char* pending;  // input left for the next reader
};

std::string Temp(int row, const char* suffix) {
  return ::testing::TempDir() + "anykey-terminal-" + std::to_string(row) + suffix;
}

TEST(Terminal, BehavesInEveryCase) {
  const Case cases[] = {
      {"key", Stdin::Terminal, Stdout::File, false, "", "k", 0, 0, 0, "", ""},
      {"junk arguments", Stdin::Terminal, Stdout::File, true, "", " ", 0, 0, 0, "", ""},
      {"prompt on terminal", Stdin::Terminal, Stdout::Terminal, false, "", "k", 0, 0, 0,
       PromptOnScreen.c_str(), ""},
      {"typed ahead", Stdin::Terminal, Stdout::File, false, "abc", "", 0, 0, 0, "", ""},
      {"arrow and more", Stdin::Terminal, Stdout::Terminal, false, "", "\x1b[Axyz", 0, 0, 0,
       PromptOnScreen.c_str(), ""},
      {"stdin /dev/null", Stdin::DevNull, Stdout::File, false, "", "k", 0, 0, 0, "", "k"},
      {"stdin file", Stdin::File, Stdout::File, false, "", "k", 0, 0, 0, "", "k"},
      {"stdout closed", Stdin::Terminal, Stdout::Closed, false, "", "k", 0, 0, 0, "", ""},
      {"stdout reader gone", Stdin::Terminal, Stdout::BrokenPipe, false, "", "k", 0, 0, 0, "", ""},
      {"^C", Stdin::Terminal, Stdout::File, false, "", "\x03", 0, -1, SIGINT, "", ""},
      {"^\\", Stdin::Terminal, Stdout::File, false, "", "\x1c", 0, -1, SIGQUIT, "", ""},
      {"SIGTERM", Stdin::Terminal, Stdout::Terminal, false, "", "", SIGTERM, -1, SIGTERM,
       PromptOnScreen.c_str(), ""},
      {"SIGHUP", Stdin::Terminal, Stdout::File, false, "", "", SIGHUP, -1, SIGHUP, "", ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const int index = static_cast<int>(&row - cases);
    Launch launch;
    launch.argv = {ANYKEY_BINARY};
    launch.env = {"PATH=/usr/bin:/bin", "TERM=xterm"};
    if (row.junk) {
      launch.argv.insert(launch.argv.end(), {"--help", "-x", "/?", "", "--version"});
      launch.env.insert(launch.env.end(),
                        {"TERM=dumb", "LANG=xx_XX.bogus", "POSIXLY_CORRECT=1", "ANYKEY=1"});
    }
    launch.in = row.in;
    launch.out = row.out;
    launch.typed_ahead = row.ahead;
    launch.out_path = Temp(index, ".out");
    launch.err_path = Temp(index, ".err");
    launch.in_path = Temp(index, ".in");
    std::ofstream(launch.in_path) << "from a file\n";

    PtySession session = Start(launch);
    const termios before = Modes(session);
    const size_t echoed = session.screen.size();
    if (*row.ahead == '\0') {
      ASSERT_TRUE(WaitForEcho(session, false)) << "the wait never turned echo off";
      Type(session, row.typed);
      if (row.sent != 0) kill(session.pid, row.sent);
    }
    const int status = Finish(session);
    ASSERT_NE(status, -1) << "still waiting";
    if (row.died_by == 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.exit_code) << "status " << status;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.died_by) << "status " << status;
    }
    if (row.out == Stdout::File) {
      EXPECT_EQ(ReadFile(launch.out_path), Prompt);
    }
    EXPECT_EQ(ReadFile(launch.err_path), "");
    EXPECT_EQ(session.screen.substr(echoed), row.screen);
    EXPECT_TRUE(SameModes(Modes(session), before)) << "terminal modes not restored";
    EXPECT_EQ(PendingInput(session), row.pending);
  }
}

// With no controlling terminal there is no keyboard to watch: the prompt is
// written, the wait goes on without spinning, and a signal ends it.
TEST(Terminal, WaitsQuietlyWithoutAControllingTerminal) {
  Launch launch;
  launch.argv = {ANYKEY_BINARY};
  launch.controlling_terminal = false;
  launch.in = Stdin::DevNull;
  launch.out_path = Temp(-1, ".out");
  launch.err_path = Temp(-1, ".err");
  PtySession session = Start(launch);
  ASSERT_TRUE(WaitFor(session, [&] { return ReadFile(launch.out_path) == Prompt; }));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  // utime and stime, fields 14 and 15 of /proc/PID/stat, in clock ticks.
  std::ifstream stat("/proc/" + std::to_string(session.pid) + "/stat");
  std::string field;
  long ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i >= 14) ticks += std::stol(field);
  }
  EXPECT_LT(ticks, sysconf(_SC_CLK_TCK) / 5) << "a second of waiting used this many ticks";
  kill(session.pid, SIGTERM);
  const int status = Finish(session);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_EQ(ReadFile(launch.out_path), Prompt);
}

}  // namespace

namespace {

// ^Z from an interactive shell stops the wait with the terminal back in its
// own modes; fg resumes it, and a key still ends it with exit code 0. dash
// leaves the terminal as the job left it; bash puts its own modes back.
TEST(Terminal, StopsAndResumesUnderJobControl) {
  const std::vector<std::vector<std::string>> shells = {
      {"/bin/dash", "-i"}, {"/bin/bash", "--norc", "--noprofile", "--noediting", "-i"}};
  for (const auto& shell : shells) {
    SCOPED_TRACE(shell[0]);
    Launch launch;
    launch.argv = shell;
    launch.env = {"PATH=/usr/bin:/bin", "TERM=dumb", "PS1=$ "};
    launch.out = Stdout::Terminal;
    PtySession session = Start(launch);
    ASSERT_TRUE(WaitForScreen(session, "$ "));
    const termios before = Modes(session);
    Type(session, std::string(ANYKEY_BINARY) + " >/dev/null\n");
    ASSERT_TRUE(WaitForEcho(session, false));
    Type(session, "\x1a");
    ASSERT_TRUE(WaitForScreen(session, "Stopped"));
    EXPECT_TRUE(WaitForEcho(session, true)) << "echo still off while stopped";
    EXPECT_TRUE(SameModes(Modes(session), before));
    Type(session, "fg\n");
    ASSERT_TRUE(WaitForEcho(session, false)) << "the wait modes did not come back";
    if (shell[0] == "/bin/bash") {
      // SIGSTOP cannot be caught; bash puts its own modes back, and only
      // SIGCONT tells the program to set the wait modes again.
      kill(-tcgetpgrp(session.master), SIGSTOP);
      ASSERT_TRUE(WaitForEcho(session, true));
      Type(session, "fg\n");
      ASSERT_TRUE(WaitForEcho(session, false)) << "no wait modes after SIGSTOP and fg";
    }
    Type(session, "k");
    ASSERT_TRUE(WaitForEcho(session, true));
    Type(session, "echo \"exit code $?\"\n");
    EXPECT_TRUE(WaitForScreen(session, "exit code 0"));
    EXPECT_TRUE(SameModes(Modes(session), before));
    Type(session, "exit\n");
    EXPECT_NE(Finish(session), -1);
  }
}

// With no shell in its session the program's process group is orphaned, and
// the system drops stop signals instead of stopping it: the wait must go on
// in its own modes.
TEST(Terminal, KeepsWaitingWhenAStopIsDropped) {
  for (const int stop : {SIGTSTP, SIGTTIN, SIGTTOU}) {
    SCOPED_TRACE(stop);
    Launch launch;
    launch.argv = {ANYKEY_BINARY};
    launch.out_path = Temp(-2, ".out");
    launch.err_path = Temp(-2, ".err");
    PtySession session = Start(launch);
    const termios before = Modes(session);
    ASSERT_TRUE(WaitForEcho(session, false));
    kill(session.pid, stop);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(WaitForEcho(session, false));
    Type(session, "k");
    const int status = Finish(session);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(session.screen, "");
    EXPECT_TRUE(SameModes(Modes(session), before));
  }
}

}  // namespace

namespace {

// A whole run, key included, allocates nothing on the heap.
TEST(Terminal, AllocatesNoHeapMemory) {
  Launch launch;
  const std::string log = Temp(-3, ".valgrind");
  launch.argv = {VALGRIND, "--tool=memcheck", "--log-file=" + log, ANYKEY_BINARY};
  launch.env = {"PATH=/usr/bin:/bin"};
  launch.out_path = Temp(-3, ".out");
  launch.err_path = Temp(-3, ".err");
  PtySession session = Start(launch);
  ASSERT_TRUE(WaitForEcho(session, false, 60));
  Type(session, "k");
  const int status = Finish(session, 60);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_NE(ReadFile(log).find("total heap usage: 0 allocs"), std::string::npos) << ReadFile(log);
}

}  // namespace
