// The real POSIX binary in a pseudo-terminal, as a user meets it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <thread>

#include "pty_session.h"
#include "terminal_rows.h"

namespace {

struct Case {
  const char* name;
  Stdin in = Stdin::Terminal;
  Stdout out = Stdout::File;
  bool junk = false;       // arguments and environment that must make no difference
  const char* ahead = "";  // typed before the program starts
  const char* keys = "";   // typed once the program waits; pieces split by Gap
  int sent = 0;            // a signal sent once the program waits, or HangsUp
  int exit = 0;            // unless ...
  int died = 0;            // ... a signal ended it
  bool core = false;       // and left a core
  // On the terminal after the typed-ahead echo, beyond the prompt where the
  // output shows it (Shown); nullptr: not looked at.
  const char* screen = "";
  int gap = 0;  // ms between the pieces of keys
  // After keys, a key every 2 ms until the program has ended; those after
  // the end reach the screen and stay pending: neither is looked at then.
  bool stream = false;
  Ctty ctty = Ctty::Controlling;
  int open_files = 0;          // RLIMIT_NOFILE, when not 0
  const char* wrap = nullptr;  // a shell command that runs the program as "$0"
  bool early = false;          // typed 2 ms after the prompt shows, not once echo is off
  bool new_erase = false;      // at Act, the other side sets VERASE, which must stay theirs
  bool quiet = false;          // little processor time while it waits
};

// Splits keys into the pieces that are written apart; Act sends the
// row's signal there instead of at the end (SIGSTOP: and SIGCONT once stopped).
constexpr char Gap = '\xff';
constexpr char Act = '\xfe';
// Sent instead of a signal: the terminal's master and the caller's pipes close.
constexpr int HangsUp = -1;
// The status of a wait that no key ended.
constexpr int NoKey = 129;

// Shell commands as a user pastes them, 1000 bytes, in pieces that arrive
// over more than a poll interval; Act after the given piece.
std::string Paste(int pieces, int act_after = 0) {
  std::string text;
  for (int line = 100; text.size() < 1000; ++line)
    text += "echo pasted " + std::to_string(line) + "\n";
  text.resize(1000);
  for (int piece = pieces - 1; piece > 0; --piece) {
    text.insert(static_cast<size_t>(1000 / pieces * piece), 1, piece == act_after ? Act : Gap);
  }
  return text;
}
const std::string PasteInPieces = Paste(6);
const std::string PasteWithSignal = Paste(10, 5);

// The prompt as the screen shows it: on the terminal, or from the caller's pipe.
std::string Shown(Stdout out) {
  return out == Stdout::Terminal ? PromptOnScreen : out == Stdout::Pipe ? Prompt : "";
}

// What the other side of the terminal sets meanwhile, as stty -F does.
termios NewErase(termios modes) {
  modes.c_cc[VERASE] = modes.c_cc[VERASE] == 8 ? 0x7f : 8;
  return modes;
}

// The poll loop's pause, and how early a run may seem to end after one began:
// the read that shows the pause began may come a little after it.
// A signal is sent within SignalSoon of the pause's start, so that a run
// that ended on it, not slept out, would end well before the pause's end.
constexpr std::chrono::milliseconds Pause(10), PauseSlack(2), SignalSoon(3);

// A row whose only signal is a continue, sent at Act with no gaps, is sent
// as a pause begins: the run must then last that whole pause.
bool SignalInAPause(const Case& row) {
  return row.sent == SIGCONT && std::strchr(row.keys, Act) != nullptr &&
         std::strchr(row.keys, Gap) == nullptr;
}

// Waits for the program to begin a pause, its next voluntary context switch
// (the wait blocks in its sleep alone), and gives a time no later than that:
// the last look before the switch showed. False if no switch came within a
// second with nothing forced beside it and the looks close together.
bool AwaitPause(pid_t pid, Clock::time_point* start) {
  long voluntary = 0, forced = 0, now_voluntary = 0, now_forced = 0;
  if (!ContextSwitches(pid, &voluntary, &forced)) return false;
  Clock::time_point last = Clock::now();
  const Clock::time_point deadline = last + std::chrono::seconds(1);
  for (Clock::time_point now = last; now < deadline; last = now) {
    now = Clock::now();
    if (!ContextSwitches(pid, &now_voluntary, &now_forced)) return false;
    if (now_voluntary == voluntary + 1 && now_forced == forced &&
        now - last < std::chrono::milliseconds(1)) {
      *start = last;
      return true;
    }
    voluntary = now_voluntary;
    forced = now_forced;
  }
  return false;
}

// Types the row's keys as the program waits: pieces apart, or a stream that
// goes on until the program has ended (its status then, or -1). Sets unmet
// when the run can say nothing about the row: a piece may have come later
// than Close after the step before it (from before that step began to after
// the piece's write returned), or a signal meant for the start of a pause
// came later. PAUSED: when that pause began.
int TypeKeys(PtySession& session, const Case& row, const char** unmet, Clock::time_point* paused) {
  std::string piece;
  Clock::time_point since{};  // none before the first piece
  if (SignalInAPause(row) && !AwaitPause(session.pid, paused))
    *unmet = "no pause was seen to begin";
  for (const char* key = row.keys;; ++key) {
    if (*key != Gap && *key != Act && *key != '\0') {
      piece += *key;
      continue;
    }
    const Clock::time_point start = Clock::now();
    Type(session, piece);
    if (since != Clock::time_point{} && Clock::now() - since >= Close && row.gap > 0 &&
        row.gap < Close.count())
      *unmet = "pieces typed too far apart";
    since = start;
    piece.clear();
    if (*key == '\0') break;
    if (*key == Act && row.new_erase) {
      const termios changed = NewErase(Modes(session.slave));
      tcsetattr(session.slave, TCSANOW, &changed);
    } else if (*key == Act) {
      since = Clock::now();
      kill(session.pid, row.sent);
      if (SignalInAPause(row) && Clock::now() - *paused > SignalSoon)
        *unmet = "the signal came too long after the pause began";
      if (row.sent == SIGSTOP && waitpid(session.pid, nullptr, WUNTRACED) == session.pid) {
        since = Clock::now();
        kill(session.pid, SIGCONT);
      }
      // A stop the system drops: the wait must go on in its own modes.
      if (row.sent == SIGTSTP || row.sent == SIGTTIN || row.sent == SIGTTOU) {
        EXPECT_TRUE(WaitForSignalTaken(session.pid));
        EXPECT_TRUE(WaitForEcho(session.slave, false));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(row.gap));
  }
  int status = -1;
  if (row.stream) {
    WaitFor([&] {
      Type(session, "x");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return waitpid(session.pid, &status, WNOHANG) == session.pid;
    });
  }
  return status;
}

// Why the run said nothing about the row (its premise did not hold), or
// nothing once it is judged.
std::string RunCase(const Case& row, int index) {
  Launch launch = ProgramLaunch(index);
  if (row.wrap != nullptr) launch.argv = {"/bin/sh", "-c", row.wrap, ANYKEY_BINARY};
  launch.env = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "TERM=xterm"};
  // Another system's poll, stood in for in the program alone.
  if (const char* preload = std::getenv("ANYKEY_PRELOAD"))
    launch.env.push_back(std::string("LD_PRELOAD=") + preload);
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
  launch.core_dir = ::testing::TempDir();
  std::ofstream(launch.in_path) << "from a file\n";

  PtySession session = Start(launch);
  const termios before = row.new_erase ? NewErase(session.at_start) : session.at_start;
  const size_t echoed = session.screen.size();
  int status = -1;
  Clock::time_point paused{};
  if (*row.ahead == '\0') {
    // Not an ASSERT: Finish ends the program whatever happens.
    EXPECT_TRUE(row.early || row.ctty == Ctty::None || WaitForEcho(session.slave, false))
        << "the wait never turned echo off";
    // The wait modes come before the prompt: the wait begins after it.
    EXPECT_TRUE(WaitForScreen(session, Shown(row.out)));
    // Asleep with echo off and the output held: in the prompt's write.
    if (row.out == Stdout::HeldTerminal) {
      EXPECT_TRUE(WaitFor([&] { return ReadProcStat(session.pid).state == 'S'; }));
    }
    if (row.out == Stdout::File) WaitFor([&] { return ReadFile(launch.out_path) == Prompt; });
    const char* unmet = nullptr;
    if (row.quiet) {
      // Little processor time over 50 of its pauses (voluntary context
      // switches, the wait's sleeps), whatever the clock; a spin makes none.
      long first = 0, switches = 0, forced = 0;
      ContextSwitches(session.pid, &first, &forced);
      const long ticks_before = ReadProcStat(session.pid).ticks, most = sysconf(_SC_CLK_TCK) / 10;
      const Clock::time_point start = Clock::now();
      const bool slept = WaitFor([&] {
        return ContextSwitches(session.pid, &switches, &forced) && switches >= first + 50;
      });
      const long ticks = ReadProcStat(session.pid).ticks - ticks_before;
      // 49 whole pauses lie between; a lower bound with room for a few other
      // switches, which a busy machine only lengthens.
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
      EXPECT_TRUE(!slept || took >= 40 * Pause)
          << "50 pauses in " << took.count() << " ms: shorter than the poll interval";
      if (!slept && ticks < most) unmet = "no 50 pauses in 5 s, and little processor time";
      EXPECT_TRUE(slept || ticks < most)
          << "no 50 pauses in 5 s, and " << ticks << " ticks: it spins";
      EXPECT_LT(ticks, most) << "50 pauses of waiting used this many ticks";
    }
    status = TypeKeys(session, row, &unmet, &paused);
    if (unmet != nullptr) {
      Finish(session);
      return unmet;
    }
    if (row.sent == HangsUp) HangUp(session);
    if (row.sent > 0 && std::strchr(row.keys, Act) == nullptr) kill(session.pid, row.sent);
    if (row.out == Stdout::HeldTerminal) {
      tcflow(session.slave, TCOON);
      EXPECT_TRUE(WaitForScreen(session, row.screen));
    }
  }
  // A stream's status is the one it ended with while keys still came.
  const int finished = Finish(session);
  if (!row.stream) status = finished;
  if (status == -1) {
    ADD_FAILURE() << (row.stream ? "a stream of keys kept it waiting" : "still waiting");
    return {};
  }
  // A pause cut short by a signal is slept out before the next check.
  if (SignalInAPause(row) && Clock::now() - paused < Pause - PauseSlack) {
    ADD_FAILURE() << "ended sooner than a whole pause after one began, with a signal in it";
  }
  if (row.died == 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.exit) << "status " << status;
  } else {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.died) << "status " << status;
    EXPECT_EQ(WCOREDUMP(status) != 0, row.core) << "status " << status;
    std::remove((launch.core_dir + "core").c_str());
  }
  if (row.out == Stdout::File || row.out == Stdout::FileAtLimit) {
    EXPECT_EQ(ReadFile(launch.out_path), row.out == Stdout::File ? Prompt : "");
  }
  EXPECT_EQ(ReadFile(launch.err_path), "");
  if (row.screen != nullptr && !row.stream) {
    EXPECT_EQ(session.screen.substr(echoed), Shown(row.out) + row.screen);
  }
  const termios after =
      row.sent == HangsUp ? before : Modes(session.slave);  // nothing left to read
  EXPECT_TRUE(SameModes(after, before))
      << "terminal modes not restored: lflag " << std::hex << after.c_lflag << ", was "
      << before.c_lflag << "; iflag " << after.c_iflag << ", was " << before.c_iflag;
  // What was typed stays for the next reader, unless it was typed on the
  // standard input, which the program empties; a hang-up leaves nothing.
  std::string typed = row.keys;
  std::erase_if(typed, [](char key) { return key == Gap || key == Act; });
  if (!row.stream && row.sent != HangsUp) {
    EXPECT_EQ(PendingInput(session.slave), row.in == Stdin::Terminal ? "" : typed);
  }
  return {};
}

TEST(Terminal, BehavesInEveryCase) {
  const char* paste = PasteInPieces.c_str();
  const char* with_signal = PasteWithSignal.c_str();
  const Case cases[] = {
      {.name = "key", .keys = "k"},
      {.name = "junk arguments", .junk = true, .keys = " "},
      {.name = "prompt on terminal", .out = Stdout::Terminal, .keys = "k"},
      {.name = "typed ahead", .ahead = "abc"},
      {.name = "arrow and more", .out = Stdout::Terminal, .keys = "\x1b[Axyz"},
      {.name = "stdin /dev/null", .in = Stdin::DevNull, .keys = "k"},
      {.name = "stdin file", .in = Stdin::File, .keys = "k"},
      {.name = "stdout closed", .out = Stdout::Closed, .keys = "k"},
      {.name = "stdout reader gone", .out = Stdout::BrokenPipe, .keys = "k"},
      {.name = "stdout at the file-size limit", .out = Stdout::FileAtLimit, .keys = "k"},
      {.name = "^C", .keys = "\x03", .died = SIGINT},
      {.name = "^\\", .keys = "\x1c", .died = SIGQUIT, .core = true},
      {.name = "SIGTERM", .out = Stdout::Terminal, .sent = SIGTERM, .died = SIGTERM},
      {.name = "SIGHUP", .sent = SIGHUP, .died = SIGHUP},
      {.name = "SIGUSR1", .sent = SIGUSR1, .died = SIGUSR1},
      {.name = "SIGALRM", .sent = SIGALRM, .died = SIGALRM},
      {.name = "SIGABRT", .sent = SIGABRT, .died = SIGABRT, .core = true},
      {.name = "SIGPIPE", .sent = SIGPIPE, .died = SIGPIPE},
      // Someone's SIGPIPE is not lost to the prompt's own handling of a
      // reader that has gone: it ends the run once the line's write is over.
      {.name = "SIGPIPE while the prompt waits for held output",
       .out = Stdout::HeldTerminal,
       .sent = SIGPIPE,
       .died = SIGPIPE,
       .screen = "Press any key to end polling"},
      {.name = "real-time", .sent = SIGRTMIN + 1, .died = SIGRTMIN + 1},
      // With no shell in its session the program's process group is
      // orphaned, and the system drops stop signals instead of stopping it.
      {.name = "SIGTSTP dropped", .keys = "\xfek", .sent = SIGTSTP},
      {.name = "SIGTTIN dropped", .keys = "\xfek", .sent = SIGTTIN},
      {.name = "SIGTTOU dropped", .keys = "\xfek", .sent = SIGTTOU},
      {.name = "stdin closed", .in = Stdin::Closed, .keys = "k"},
      {.name = "stdin closed, no descriptor above 2",
       .in = Stdin::Closed,
       .keys = "k",
       .open_files = 3},
      {.name = "stdin pty master", .in = Stdin::Master, .out = Stdout::Terminal, .keys = "k"},
      {.name = "terminal on 0-2 that is not the controlling one",
       .keys = "k",
       .ctty = Ctty::Standard},
      {.name = "paste in pieces 3 ms apart", .keys = paste, .gap = 3},
      {.name = "escape sequence split 5 ms apart", .keys = "\x1b\xff[15~", .gap = 5},
      // Pieces that come after the end are echoed: the screen is not looked at.
      {.name = "paste in pieces, stdin /dev/null",
       .in = Stdin::DevNull,
       .keys = paste,
       .screen = nullptr,
       .gap = 3},
      {.name = "a stream that never stops", .keys = "x", .stream = true},
      // A continue with no stop, or after a SIGSTOP that no handler saw and a
      // shell that leaves the modes alone, in the middle of a discard.
      {.name = "SIGCONT during a paste's discard", .keys = with_signal, .sent = SIGCONT, .gap = 3},
      {.name = "SIGSTOP and continue during a paste's discard",
       .keys = with_signal,
       .sent = SIGSTOP,
       .gap = 3},
      {.name = "a key after a signal cut a pause short",
       .keys = "\xfek",
       .sent = SIGCONT,
       .gap = 2},
      {.name = "VERASE changed by the other side", .keys = "\xfek", .gap = 5, .new_erase = true},
      {.name = "a key right after the prompt", .out = Stdout::Terminal, .keys = "k", .early = true},
      {.name = "Backspace right after the prompt",
       .out = Stdout::Terminal,
       .keys = "\x7f",
       .early = true},
      {.name = "bracketed paste, its start marker alone",
       .keys = "\x1b[200~\xff"
               "echo pasted\n\xff\x1b[201~",
       .gap = 15},
      // No key was pressed: a script's "anykey && next" must not go on.
      {.name = "hang-up with SIGHUP ignored",
       .sent = HangsUp,
       .exit = NoKey,
       .wrap = "trap '' HUP; exec \"$0\""},
      // With no controlling terminal there is no keyboard to watch: the wait
      // goes on without spinning, and a signal ends it.
      {.name = "no controlling terminal, quiet",
       .in = Stdin::DevNull,
       .sent = SIGTERM,
       .died = SIGTERM,
       .ctty = Ctty::None,
       .quiet = true},
      // A remote shell's server, gone with its client: no terminal, only pipes.
      {.name = "no terminal, its caller gone",
       .in = Stdin::Pipe,
       .out = Stdout::Pipe,
       .sent = HangsUp,
       .exit = NoKey,
       .ctty = Ctty::None},
  };
  RunRows(cases, RunCase);
}

// The same for roots that only root can make here.
TEST(Terminal, BehavesInABareRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount over /dev in a namespace of its own";
  if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "unshare (util-linux) not found";
  // In a chroot whose / is no mount point, a namespace of its own cannot
  // make / private, and a mount there could reach the machine's own /dev.
  if (std::system("unshare -m true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "unshare -m cannot make / private here (a chroot whose / is no mount point)";
  }
  const char* no_tty = "exec unshare -m sh -c 'mount -t tmpfs none /dev && exec \"$0\"' \"$0\"";
  const Case cases[] = {
      {.name = "no /dev/tty", .keys = "k", .wrap = no_tty},
      {.name = "no /dev/tty, stdin a file",
       .in = Stdin::File,
       .out = Stdout::Terminal,
       .keys = "k",
       .wrap = no_tty},
  };
  RunRows(cases, [](const Case& row, int index) { return RunCase(row, 100 + index); });
}

// A whole run, key included, allocates nothing on the heap.
// Valgrind counts a dynamic executable's allocations. A static one's malloc
// is out of its sight, but any heap needs memory from the system, by calls
// that strace sees (brk, mmap, mremap): the static run must make none.
TEST(Terminal, AllocatesNoHeapMemory) {
  const bool by_calls = !std::string(STRACE).empty();
  if (!by_calls && std::string(VALGRIND).empty()) GTEST_SKIP() << "valgrind not found";
  Launch launch = ProgramLaunch(-3);
  const std::string log = launch.out_path + ".heap";
  std::remove(log.c_str());  // an earlier run's log is no sign of this one's
  launch.argv = {VALGRIND, "--tool=memcheck", "--log-file=" + log, ANYKEY_BINARY};
  if (by_calls) {
    const char* calls = "--trace=%memory,exit_group";  // the end too: a log without it says nothing
    launch.argv = {STRACE, "-fqq", calls, "--signal=none", "-o", log, ANYKEY_BINARY};
  }
  launch.env = {"PATH=/usr/bin:/bin"};
  PtySession session = Start(launch);
  ASSERT_TRUE(WaitForEcho(session.slave, false, 60));
  Type(session, "k");
  const int status = Finish(session, 60);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  if (by_calls) {
    EXPECT_TRUE(std::regex_match(ReadFile(log), std::regex("[0-9]+ +exit_group\\(0\\) += \\?\n")))
        << ReadFile(log);
  } else {
    EXPECT_NE(ReadFile(log).find("total heap usage: 0 allocs"), std::string::npos) << ReadFile(log);
  }
}

}  // namespace
