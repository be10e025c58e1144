// The real POSIX binary in a pseudo-terminal, as a user meets it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "job_shell.h"
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
  const char* typed;    // typed once the program waits; pieces split by Gap
  int sent;             // a signal sent once the program waits
  int exit_code;        // or -1 ...
  int died_by;          // ... the signal that ended it
  bool core;            // and left a core
  const char* screen;   // everything on the terminal after the typed-ahead echo, if checked
  const char* pending;  // input left for the next reader, if checked
  int gap_ms = 0;       // between the pieces of typed
  bool stream = false;  // after typed, a key every 2 ms until the program has ended
  Ctty ctty = Ctty::Controlling;
  int open_files = 0;          // RLIMIT_NOFILE, when not 0
  const char* wrap = nullptr;  // a shell command that runs the program as "$0"
};

// Splits typed text into the pieces that are written apart.
constexpr char Gap = '\xff';

// Shell commands as a user pastes them, 1000 bytes; in pieces, six of them,
// which arrive over more than a poll interval.
std::string Paste(bool in_pieces) {
  std::string text;
  for (int line = 100; text.size() < 1000; ++line)
    text += "echo pasted " + std::to_string(line) + "\n";
  text.resize(1000);
  for (size_t at = 1000 / 6 * 5; in_pieces && at > 0; at -= 1000 / 6) text.insert(at, 1, Gap);
  return text;
}
const std::string PasteInPieces = Paste(true);
const std::string Pasted = Paste(false);

std::string Temp(int row, const char* suffix) {
  return ::testing::TempDir() + "anykey-terminal-" + std::to_string(row) + suffix;
}

// Types the row's keys as the program waits: pieces apart, or a stream that
// goes on until the program has ended (its status then, or -1).
int TypeKeys(PtySession& session, const Case& row) {
  std::string piece;
  for (const char* key = row.typed;; ++key) {
    if (*key == Gap || *key == '\0') {
      Type(session, piece);
      piece.clear();
      if (*key == '\0') break;
      std::this_thread::sleep_for(std::chrono::milliseconds(row.gap_ms));
    } else {
      piece += *key;
    }
  }
  int status = -1;
  if (row.stream) {
    WaitFor(session, [&] {
      Type(session, "x");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return waitpid(session.pid, &status, WNOHANG) == session.pid;
    });
  }
  return status;
}

void RunCase(const Case& row, int index) {
  Launch launch;
  launch.argv = {ANYKEY_BINARY};
  if (row.wrap != nullptr) launch.argv = {"/bin/sh", "-c", row.wrap, ANYKEY_BINARY};
  launch.env = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "TERM=xterm"};
  if (row.junk) {
    launch.argv.insert(launch.argv.end(), {"--help", "-x", "/?", "", "--version"});
    launch.env.insert(launch.env.end(),
                      {"TERM=dumb", "LANG=xx_XX.bogus", "POSIXLY_CORRECT=1", "ANYKEY=1"});
  }
  launch.in = row.in;
  launch.out = row.out;
  launch.ctty = row.ctty;
  launch.open_files = row.open_files;
  launch.typed_ahead = row.ahead;
  launch.out_path = Temp(index, ".out");
  launch.err_path = Temp(index, ".err");
  launch.in_path = Temp(index, ".in");
  launch.core_dir = ::testing::TempDir();
  std::ofstream(launch.in_path) << "from a file\n";

  PtySession session = Start(launch);
  const termios before = Modes(session);
  const size_t echoed = session.screen.size();
  int status = -1;
  if (*row.ahead == '\0') {
    // Not an ASSERT: Finish ends the program whatever happens.
    EXPECT_TRUE(WaitForEcho(session, false)) << "the wait never turned echo off";
    status = TypeKeys(session, row);
    if (row.sent != 0) kill(session.pid, row.sent);
  }
  if (row.stream) {
    ASSERT_NE(status, -1) << "a stream of keys kept it waiting";
    Finish(session);
  } else {
    status = Finish(session);
  }
  ASSERT_NE(status, -1) << "still waiting";
  if (row.died_by == 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.exit_code) << "status " << status;
  } else {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.died_by) << "status " << status;
    EXPECT_EQ(WCOREDUMP(status) != 0, row.core) << "status " << status;
    std::remove((launch.core_dir + "core").c_str());
  }
  if (row.out == Stdout::File || row.out == Stdout::FileAtLimit) {
    EXPECT_EQ(ReadFile(launch.out_path), row.out == Stdout::File ? Prompt : "");
  }
  EXPECT_EQ(ReadFile(launch.err_path), "");
  if (row.screen != nullptr) {
    EXPECT_EQ(session.screen.substr(echoed), row.screen);
  }
  EXPECT_TRUE(SameModes(Modes(session), before)) << "terminal modes not restored";
  if (row.pending != nullptr) {
    EXPECT_EQ(PendingInput(session), row.pending);
  }
}

TEST(Terminal, BehavesInEveryCase) {
  const char* paste = PasteInPieces.c_str();
  const Case cases[] = {
      {"key", Stdin::Terminal, Stdout::File, false, "", "k", 0, 0, 0, false, "", ""},
      {"junk arguments", Stdin::Terminal, Stdout::File, true, "", " ", 0, 0, 0, false, "", ""},
      {"prompt on terminal", Stdin::Terminal, Stdout::Terminal, false, "", "k", 0, 0, 0, false,
       PromptOnScreen.c_str(), ""},
      {"typed ahead", Stdin::Terminal, Stdout::File, false, "abc", "", 0, 0, 0, false, "", ""},
      {"arrow and more", Stdin::Terminal, Stdout::Terminal, false, "", "\x1b[Axyz", 0, 0, 0, false,
       PromptOnScreen.c_str(), ""},
      {"stdin /dev/null", Stdin::DevNull, Stdout::File, false, "", "k", 0, 0, 0, false, "", "k"},
      {"stdin file", Stdin::File, Stdout::File, false, "", "k", 0, 0, 0, false, "", "k"},
      {"stdout closed", Stdin::Terminal, Stdout::Closed, false, "", "k", 0, 0, 0, false, "", ""},
      {"stdout reader gone", Stdin::Terminal, Stdout::BrokenPipe, false, "", "k", 0, 0, 0, false,
       "", ""},
      {"stdout at the file-size limit", Stdin::Terminal, Stdout::FileAtLimit, false, "", "k", 0, 0,
       0, false, "", ""},
      {"^C", Stdin::Terminal, Stdout::File, false, "", "\x03", 0, -1, SIGINT, false, "", ""},
      {"^\\", Stdin::Terminal, Stdout::File, false, "", "\x1c", 0, -1, SIGQUIT, true, "", ""},
      {"SIGTERM", Stdin::Terminal, Stdout::Terminal, false, "", "", SIGTERM, -1, SIGTERM, false,
       PromptOnScreen.c_str(), ""},
      {"SIGHUP", Stdin::Terminal, Stdout::File, false, "", "", SIGHUP, -1, SIGHUP, false, "", ""},
      {"SIGUSR1", Stdin::Terminal, Stdout::File, false, "", "", SIGUSR1, -1, SIGUSR1, false, "",
       ""},
      {"SIGALRM", Stdin::Terminal, Stdout::File, false, "", "", SIGALRM, -1, SIGALRM, false, "",
       ""},
      {"SIGABRT", Stdin::Terminal, Stdout::File, false, "", "", SIGABRT, -1, SIGABRT, true, "", ""},
      {"SIGPIPE", Stdin::Terminal, Stdout::File, false, "", "", SIGPIPE, -1, SIGPIPE, false, "",
       ""},
      {"real-time", Stdin::Terminal, Stdout::File, false, "", "", SIGRTMIN + 1, -1, SIGRTMIN + 1,
       false, "", ""},
      {"stdin closed", Stdin::Closed, Stdout::File, false, "", "k", 0, 0, 0, false, "", "k"},
      {"stdin closed, no descriptor above 2", Stdin::Closed, Stdout::File, false, "", "k", 0, 0, 0,
       false, "", "k", 0, false, Ctty::Controlling, 3},
      {"stdin pty master", Stdin::Master, Stdout::Terminal, false, "", "k", 0, 0, 0, false,
       PromptOnScreen.c_str(), "k"},
      {"terminal on 0-2 that is not the controlling one", Stdin::Terminal, Stdout::File, false, "",
       "k", 0, 0, 0, false, "", "", 0, false, Ctty::Standard},
      {"paste in pieces 3 ms apart", Stdin::Terminal, Stdout::File, false, "", paste, 0, 0, 0,
       false, "", "", 3},
      {"escape sequence split 5 ms apart", Stdin::Terminal, Stdout::File, false, "", "\x1b\xff[15~",
       0, 0, 0, false, "", "", 5},
      // Pieces that come after the end are echoed: the screen is not looked at.
      {"paste in pieces, stdin /dev/null", Stdin::DevNull, Stdout::File, false, "", paste, 0, 0, 0,
       false, nullptr, Pasted.c_str(), 3},
      {"a stream that never stops", Stdin::Terminal, Stdout::File, false, "", "x", 0, 0, 0, false,
       nullptr, nullptr, 0, true},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunCase(row, static_cast<int>(&row - cases));
  }
}

// The same for roots that only root can make here.
TEST(Terminal, BehavesInABareRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount over /dev in a namespace of its own";
  if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "unshare (util-linux) not found";
  const Case cases[] = {
      {"no /dev/tty", Stdin::Terminal, Stdout::File, false, "", "k", 0, 0, 0, false, "", "", 0,
       false, Ctty::Controlling, 0,
       "exec unshare -m sh -c 'mount -t tmpfs none /dev && exec \"$0\"' \"$0\""},
      {"no /dev/tty, stdin a file", Stdin::File, Stdout::Terminal, false, "", "k", 0, 0, 0, false,
       PromptOnScreen.c_str(), "k", 0, false, Ctty::Controlling, 0,
       "exec unshare -m sh -c 'mount -t tmpfs none /dev && exec \"$0\"' \"$0\""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunCase(row, 100 + static_cast<int>(&row - cases));
  }
}

// With no controlling terminal there is no keyboard to watch: the prompt is
// written, the wait goes on without spinning, and a signal ends it.
TEST(Terminal, WaitsQuietlyWithoutAControllingTerminal) {
  Launch launch;
  launch.argv = {ANYKEY_BINARY};
  launch.ctty = Ctty::None;
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

// What a user types at an interactive shell, and what must follow there.
enum class Then {
  WaitModes,  // the program's modes come: no echo, signal keys on
  Gone,       // the program's modes are gone (it ended or stopped)
  Screen,     // the text shows on the screen
  Stty,       // `stty -g` prints what it printed at the start
  Sigstop,    // (a shell that puts its own modes back) SIGSTOP, then as Gone
};
struct Act {
  std::string type;
  Then then;
  std::string text;
};

bool InWaitModes(const PtySession& session) {
  const tcflag_t flags = Modes(session).c_lflag;
  return (flags & ISIG) != 0 && (flags & (ECHO | ICANON)) == 0;
}

// What `stty -g` prints for commands the shell runs.
std::string SttyG(PtySession& session) {
  const std::regex settings("[0-9a-f]+(:[0-9a-f]+){20,}");
  const auto count = [&] {
    return std::distance(
        std::sregex_iterator(session.screen.begin(), session.screen.end(), settings),
        std::sregex_iterator());
  };
  const auto seen = count();
  Type(session, "stty -g\n");
  if (!WaitFor(session, [&] { return WaitForScreen(session, "\n") && count() > seen; })) return "";
  std::string last;
  for (auto it = std::sregex_iterator(session.screen.begin(), session.screen.end(), settings);
       it != std::sregex_iterator(); ++it)
    last = it->str();
  return last;
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
        {"", Then::Sigstop, ""},
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
        if (act.then == Then::Sigstop && !shell.resets_modes) continue;
        SCOPED_TRACE(act.type);
        Type(session, act.type);
        const auto gone = [&] { return !InWaitModes(session); };
        switch (act.then) {
          case Then::WaitModes:
            EXPECT_TRUE(WaitFor(session, [&] { return InWaitModes(session); }))
                << "the wait modes did not come";
            break;
          case Then::Gone:
            EXPECT_TRUE(WaitFor(session, gone)) << "the wait modes stayed";
            break;
          case Then::Screen:
            EXPECT_TRUE(WaitForScreen(session, act.text == "?" ? shell.stopped : act.text))
                << session.screen;
            break;
          case Then::Stty:
            EXPECT_EQ(SttyG(session), stty_before);
            break;
          case Then::Sigstop:
            // SIGSTOP reaches no handler; the shell puts its own modes back,
            // and only SIGCONT tells the program to take the terminal again.
            kill(-tcgetpgrp(session.master), SIGSTOP);
            EXPECT_TRUE(WaitFor(session, gone));
            Type(session, "fg\n");
            EXPECT_TRUE(WaitFor(session, [&] { return InWaitModes(session); }))
                << "no wait modes after SIGSTOP and fg";
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

namespace {

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
  if (std::string(VALGRIND).empty()) GTEST_SKIP() << "valgrind not found";
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

namespace {

// Job control through a shell of the test's own, step by step; a step that
// finds something wrong says so on the shell's standard error.
enum class Step {
  Foreground,       // start the program as the foreground job
  Background,       // ... as a background job
  Orphaned,         // ... in the shell's own group, which no shell controls
  AwaitWaitModes,   // until echo is off
  Stop,             // ^Z, and see it stop
  TakeRaw,          // the shell takes the terminal and puts raw modes there
  Continue,         // bg
  Fg,               // the modes from before, the terminal to the job, SIGCONT
  Handover,         // the terminal to another group, modes untouched
  Settle,           // 100 ms in which the job must neither stop nor end
  ExpectShells,     // the terminal has the shell's raw modes
  ExpectBefore,     // the terminal has the modes from before the job
  AwaitBefore,      // ... within 5 s
  EndByTerm,        // kill %1: SIGTERM, SIGCONT, and see it die by SIGTERM
  Reclaim,          // the shell takes the terminal back, modes untouched
  Second,           // a second copy as the foreground job
  ExpectWaitModes,  // the terminal still has wait modes (no echo)
  KeyEndsSecond,    // a key on the keyboard, and see the second copy exit 0
};

int RunJobSteps(const std::vector<Step>& steps) {
  const termios before = BecomeShell();
  termios shells = before;
  pid_t job = -1;
  pid_t other = -1;
  pid_t second = -1;
  int failures = 0;
  auto fail = [&](size_t step, const char* what) {
    ++failures;
    dprintf(2, "step %zu: %s\n", step + 1, what);
  };
  for (size_t i = 0; i < steps.size() && failures == 0; ++i) {
    int status = 0;
    switch (steps[i]) {
      case Step::Foreground:
      case Step::Background:
      case Step::Orphaned:
        job = StartJob(ANYKEY_BINARY, steps[i] == Step::Foreground   ? Group::Foreground
                                      : steps[i] == Step::Background ? Group::Background
                                                                     : Group::Shells);
        break;
      case Step::AwaitWaitModes:
        if (!AwaitEcho(false)) fail(i, "the wait modes never came");
        break;
      case Step::Stop:
        kill(job, SIGTSTP);
        if (!WIFSTOPPED(AwaitJob(job, WUNTRACED))) fail(i, "did not stop");
        break;
      case Step::TakeRaw:
        shells = TakeTerminal();
        break;
      case Step::Continue:
        kill(job, SIGCONT);
        break;
      case Step::Fg:
        GiveTerminal(job, before);
        kill(job, SIGCONT);
        break;
      case Step::Handover:
        other = fork();
        if (other == 0) {
          setpgid(0, 0);
          pause();
          _exit(0);
        }
        setpgid(other, other);
        tcsetpgrp(0, other);
        break;
      case Step::Settle:
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (waitpid(job, &status, WUNTRACED | WNOHANG) != 0) fail(i, "stopped or ended");
        break;
      case Step::ExpectShells:
        if (!SameModes(CurrentModes(), shells)) fail(i, "the shell's modes were overwritten");
        break;
      case Step::ExpectBefore:
      case Step::AwaitBefore:
        if (!(steps[i] == Step::AwaitBefore ? AwaitModes(before)
                                            : SameModes(CurrentModes(), before)))
          fail(i, "the modes from before are not back");
        break;
      case Step::Reclaim:
        tcsetpgrp(0, getpgrp());
        break;
      case Step::Second:
        second = StartJob(ANYKEY_BINARY, Group::Foreground);
        break;
      case Step::ExpectWaitModes:
        if ((CurrentModes().c_lflag & ECHO) != 0) fail(i, "the wait modes were overwritten");
        break;
      case Step::KeyEndsSecond:
        if (write(BodyKeyboard, "k", 1) != 1) fail(i, "no keyboard");
        status = AwaitJob(second, 0);
        if (status != -1) second = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail(i, "the key did not end it");
        break;
      case Step::EndByTerm:
        kill(job, SIGTERM);
        kill(job, SIGCONT);
        status = AwaitJob(job, 0);
        if (status != -1) job = -1;
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGTERM) fail(i, "did not die by SIGTERM");
        break;
    }
  }
  for (const pid_t left : {job, other, second}) {
    if (left > 0) {
      kill(left, SIGKILL);
      waitpid(left, nullptr, 0);
    }
  }
  GiveTerminal(getpgrp(), before);
  return failures;
}

// Runs a body as the session leader on a fresh terminal; what it wrote on
// standard output and standard error.
std::pair<std::string, std::string> RunShell(const std::function<int()>& body, int seconds) {
  Launch launch;
  launch.body = body;
  launch.out_path = Temp(-4, ".out");
  launch.err_path = Temp(-4, ".err");
  PtySession session = Start(launch);
  const int status = Finish(session, seconds);
  EXPECT_TRUE(WIFEXITED(status)) << "the shell ran out of time: status " << status;
  return {ReadFile(launch.out_path), ReadFile(launch.err_path)};
}

TEST(Terminal, LeavesOtherJobsModesAloneUnderJobControl) {
  using S = Step;
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"kill %1 on a stopped job",
       {S::Foreground, S::AwaitWaitModes, S::Stop, S::ExpectBefore, S::TakeRaw, S::EndByTerm,
        S::ExpectShells}},
      {"kill %1 on a background job",
       {S::TakeRaw, S::Background, S::Settle, S::ExpectShells, S::EndByTerm, S::ExpectShells}},
      {"bg while the shell holds raw modes",
       {S::Foreground, S::AwaitWaitModes, S::Stop, S::TakeRaw, S::Continue, S::Settle,
        S::ExpectShells, S::Fg, S::AwaitWaitModes, S::EndByTerm, S::ExpectBefore}},
      {"started in the background, then fg",
       {S::Background, S::Settle, S::ExpectBefore, S::Fg, S::AwaitWaitModes, S::Stop,
        S::ExpectBefore, S::Fg, S::AwaitWaitModes, S::EndByTerm, S::ExpectBefore}},
      {"orphaned in the background",
       {S::Orphaned, S::AwaitWaitModes, S::Handover, S::AwaitBefore, S::EndByTerm,
        S::ExpectBefore}},
      // Ended before its next check sees the background: the handler restores.
      {"ended at once in an orphaned background",
       {S::Orphaned, S::AwaitWaitModes, S::Handover, S::EndByTerm, S::ExpectBefore}},
      // A copy stopped and continued in the background leaves a second
      // copy's wait modes alone, though they equal its own.
      {"a second copy while the first is in the background",
       {S::Foreground, S::AwaitWaitModes, S::Stop, S::Reclaim, S::ExpectBefore, S::Continue,
        S::Settle, S::ExpectBefore, S::Second, S::AwaitWaitModes, S::Settle, S::ExpectWaitModes,
        S::KeyEndsSecond, S::ExpectBefore, S::EndByTerm, S::ExpectBefore}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RunShell([&] { return RunJobSteps(row.steps); }, 30).second, "");
  }
}

// A seeded storm of stops, continues and ends at microsecond delays. Whenever
// the program is stopped or gone, the terminal has exactly the modes from
// before it started, and it ended by the signal that ended it.
int Storm(unsigned seed, int rounds, int events_per_round) {
  const termios before = BecomeShell();
  std::mt19937 random(seed);
  auto micros = [&](unsigned most) { usleep(static_cast<useconds_t>(random() % most)); };
  int events = 0;
  int failures = 0;
  auto fail = [&](int round, const char* what) {
    ++failures;
    dprintf(2, "seed %u round %d event %d: %s\n", seed, round, events, what);
  };
  for (int round = 0; round < rounds && failures == 0; ++round) {
    const pid_t job = StartJob(ANYKEY_BINARY, Group::Foreground);
    if (!AwaitEcho(false)) fail(round, "the wait modes never came");
    for (int i = 0; i < events_per_round && failures == 0; ++i, ++events) {
      const unsigned pick = random() % 8;
      if (pick < 4) {
        kill(job, SIGTSTP);
        if (!WIFSTOPPED(AwaitJob(job, WUNTRACED))) {
          fail(round, "did not stop");
        } else if (!SameModes(CurrentModes(), before)) {
          fail(round, "stopped with other modes than before");
        }
        micros(200);
        kill(job, SIGCONT);
        // The stop handler's window after a continue is a few microseconds wide.
        micros(random() % 4 != 0 ? 1 : 100);
      } else if (pick < 7) {
        micros(300);
      } else {
        // Lets the wait modes come back, so that the next stop meets them.
        AwaitEcho(false);
      }
    }
    const int end = random() % 2 != 0 ? SIGTERM : SIGINT;
    kill(job, end);
    kill(job, SIGCONT);
    const int status = AwaitJob(job, 0);
    if (status == -1) {
      fail(round, "still running after its end");
      kill(job, SIGKILL);
      waitpid(job, nullptr, 0);
    } else if (!WIFSIGNALED(status) || WTERMSIG(status) != end) {
      fail(round, "ended otherwise than by its signal");
    }
    if (!SameModes(CurrentModes(), before)) fail(round, "ended with other modes than before");
  }
  dprintf(1, "%d events\n", events);
  return failures;
}

TEST(Terminal, KeepsItsInvariantUnderASignalStorm) {
  const char* seed_text = getenv("ANYKEY_STORM_SEED");
  const unsigned seed = seed_text != nullptr ? static_cast<unsigned>(atol(seed_text)) : 20261208;
  const auto [out, err] = RunShell([&] { return Storm(seed, 40, 150); }, 120);
  EXPECT_EQ(err, "");
  EXPECT_EQ(out, "6000 events\n");
}

}  // namespace
