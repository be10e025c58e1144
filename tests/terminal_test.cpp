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
#include <iterator>
#include <thread>

#include "pty_session.h"
#include "temp_file.h"

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
  int sent;             // a signal sent once the program waits, or HangUp
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
  bool early = false;          // typed 2 ms after the prompt shows, not once echo is off
  bool new_erase = false;      // at Act, the other side sets VERASE, which must stay theirs
};

// Splits typed text into the pieces that are written apart; Act sends the
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
const std::string Pasted = Paste(1);

// What the other side of the terminal sets meanwhile, as stty -F does.
termios NewErase(termios modes) {
  modes.c_cc[VERASE] = modes.c_cc[VERASE] == 8 ? 0x7f : 8;
  return modes;
}

// Pieces meant to arrive within one poll interval of the one before, with
// room for the program's own read: a busier machine types them further
// apart, and such a run says nothing about the row.
constexpr std::chrono::milliseconds Close(8);

using Clock = std::chrono::steady_clock;

// The poll loop's pause, and how early a run may seem to end after one began:
// the read that shows the pause began may come a little after it.
// A signal is sent within SignalSoon of the pause's start, so that a run
// that ended on it, not slept out, would end well before the pause's end.
constexpr std::chrono::milliseconds Pause(10), PauseSlack(2), SignalSoon(3);

// A row whose only signal is a continue, sent at Act with no gaps, is sent
// as a pause begins: the run must then last that whole pause.
bool SignalInAPause(const Case& row) {
  return row.sent == SIGCONT && std::strchr(row.typed, Act) != nullptr &&
         std::strchr(row.typed, Gap) == nullptr;
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
  for (const char* key = row.typed;; ++key) {
    if (*key == Gap || *key == Act || *key == '\0') {
      const Clock::time_point start = Clock::now();
      Type(session, piece);
      if (since != Clock::time_point{} && Clock::now() - since >= Close && row.gap_ms > 0 &&
          row.gap_ms < Close.count())
        *unmet = "pieces typed too far apart";
      since = start;
      piece.clear();
      if (*key == '\0') break;
      if (*key == Act && row.new_erase) {
        const termios changed = NewErase(Modes(session));
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
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(row.gap_ms));
    } else {
      piece += *key;
    }
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
// nullptr once it is judged.
const char* RunCase(const Case& row, int index) {
  Launch launch;
  launch.argv = {ANYKEY_BINARY};
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
  launch.out_path = Temp(index, ".out");
  launch.err_path = Temp(index, ".err");
  launch.in_path = Temp(index, ".in");
  launch.core_dir = ::testing::TempDir();
  std::ofstream(launch.in_path) << "from a file\n";

  PtySession session = Start(launch);
  const termios before = row.new_erase ? NewErase(session.at_start) : session.at_start;
  const size_t echoed = session.screen.size();
  int status = -1;
  Clock::time_point paused{};
  if (*row.ahead == '\0') {
    // Not an ASSERT: Finish ends the program whatever happens.
    if (row.early) {
      EXPECT_TRUE(row.out == Stdout::Terminal && WaitForScreen(session, PromptOnScreen));
    } else {
      EXPECT_TRUE(row.ctty == Ctty::None || WaitForEcho(session, false))
          << "the wait never turned echo off";
      // The wait modes come before the prompt: the wait begins after it.
      if (row.out == Stdout::Terminal || row.out == Stdout::Pipe)
        WaitForScreen(session, row.out == Stdout::Pipe ? Prompt : PromptOnScreen);
      // Asleep with echo off and the output held: in the prompt's write.
      if (row.out == Stdout::HeldTerminal) {
        EXPECT_TRUE(WaitFor([&] { return ReadProcStat(session.pid).state == 'S'; }));
      }
      if (row.out == Stdout::File) WaitFor([&] { return ReadFile(launch.out_path) == Prompt; });
    }
    const char* unmet = nullptr;
    status = TypeKeys(session, row, &unmet, &paused);
    if (unmet != nullptr) {
      Finish(session);
      return unmet;
    }
    if (row.sent == HangsUp) HangUp(session);
    if (row.sent > 0 && std::strchr(row.typed, Act) == nullptr) kill(session.pid, row.sent);
    if (row.out == Stdout::HeldTerminal) {
      tcflow(session.slave, TCOON);
      EXPECT_TRUE(WaitForScreen(session, row.screen));
    }
  }
  if (row.stream) {
    Finish(session);
    if (status == -1) ADD_FAILURE() << "a stream of keys kept it waiting";
  } else {
    status = Finish(session);
    if (status == -1) ADD_FAILURE() << "still waiting";
  }
  if (status == -1) return nullptr;
  // A pause cut short by a signal is slept out before the next check.
  if (SignalInAPause(row) && Clock::now() - paused < Pause - PauseSlack) {
    ADD_FAILURE() << "ended sooner than a whole pause after one began, with a signal in it";
  }
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
  const termios after = row.sent == HangsUp ? before : Modes(session);  // nothing left to read
  EXPECT_TRUE(SameModes(after, before))
      << "terminal modes not restored: lflag " << std::hex << after.c_lflag << ", was "
      << before.c_lflag << "; iflag " << after.c_iflag << ", was " << before.c_iflag;
  if (row.pending != nullptr) {
    EXPECT_EQ(PendingInput(session.slave), row.pending);
  }
  return nullptr;
}

// Runs each row, up to three times while its premise does not hold; a row
// that never had its premise is reported as a skip, with why.
void RunCases(const Case* rows, size_t count, int first_index) {
  std::string skipped;
  for (const Case* row = rows; row != rows + count; ++row) {
    SCOPED_TRACE(row->name);
    const char* unmet = nullptr;
    for (int run = 1; run <= 3; ++run) {
      unmet = RunCase(*row, first_index + static_cast<int>(row - rows));
      if (unmet == nullptr) break;
    }
    if (unmet != nullptr) skipped += std::string("\n") + row->name + ": " + unmet + ", three runs";
  }
  if (!skipped.empty() && !::testing::Test::HasFailure()) {
    GTEST_SKIP() << "the machine was too busy for some rows:" << skipped;
  }
  if (!skipped.empty()) std::printf("rows not judged, the machine too busy:%s\n", skipped.c_str());
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
      // Someone's SIGPIPE is not lost to the prompt's own handling of a
      // reader that has gone: it ends the run once the line's write is over.
      {"SIGPIPE while the prompt waits for held output", Stdin::Terminal, Stdout::HeldTerminal,
       false, "", "", SIGPIPE, -1, SIGPIPE, false, "Press any key to end polling", ""},
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
      // A continue with no stop, or after a SIGSTOP that no handler saw and a
      // shell that leaves the modes alone, in the middle of a discard.
      {"SIGCONT during a paste's discard", Stdin::Terminal, Stdout::File, false, "",
       PasteWithSignal.c_str(), SIGCONT, 0, 0, false, "", "", 3},
      {"SIGSTOP and continue during a paste's discard", Stdin::Terminal, Stdout::File, false, "",
       PasteWithSignal.c_str(), SIGSTOP, 0, 0, false, "", "", 3},
      {"a key after a signal cut a pause short", Stdin::Terminal, Stdout::File, false, "", "\xfek",
       SIGCONT, 0, 0, false, "", "", 5},
      {"VERASE changed by the other side", Stdin::Terminal, Stdout::File, false, "", "\xfek", 0, 0,
       0, false, "", "", 5, false, Ctty::Controlling, 0, nullptr, false, true},
      {"a key right after the prompt", Stdin::Terminal, Stdout::Terminal, false, "", "k", 0, 0, 0,
       false, PromptOnScreen.c_str(), "", 0, false, Ctty::Controlling, 0, nullptr, true},
      {"Backspace right after the prompt", Stdin::Terminal, Stdout::Terminal, false, "", "\x7f", 0,
       0, 0, false, PromptOnScreen.c_str(), "", 0, false, Ctty::Controlling, 0, nullptr, true},
      {"bracketed paste, its start marker alone", Stdin::Terminal, Stdout::File, false, "",
       "\x1b[200~\xff"
       "echo pasted\n\xff\x1b[201~",
       0, 0, 0, false, "", "", 15},
      // No key was pressed: a script's "anykey && next" must not go on.
      {"hang-up with SIGHUP ignored", Stdin::Terminal, Stdout::File, false, "", "", HangsUp, NoKey,
       0, false, "", nullptr, 0, false, Ctty::Controlling, 0, "trap '' HUP; exec \"$0\""},
      // A remote shell's server, gone with its client: no terminal, only pipes.
      {"no terminal, its caller gone", Stdin::Pipe, Stdout::Pipe, false, "", "", HangsUp, NoKey, 0,
       false, Prompt.c_str(), nullptr, 0, false, Ctty::None},
  };
  RunCases(cases, std::size(cases), 0);
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
  const Case cases[] = {
      {"no /dev/tty", Stdin::Terminal, Stdout::File, false, "", "k", 0, 0, 0, false, "", "", 0,
       false, Ctty::Controlling, 0,
       "exec unshare -m sh -c 'mount -t tmpfs none /dev && exec \"$0\"' \"$0\""},
      {"no /dev/tty, stdin a file", Stdin::File, Stdout::Terminal, false, "", "k", 0, 0, 0, false,
       PromptOnScreen.c_str(), "k", 0, false, Ctty::Controlling, 0,
       "exec unshare -m sh -c 'mount -t tmpfs none /dev && exec \"$0\"' \"$0\""},
  };
  RunCases(cases, std::size(cases), 100);
}

// With no controlling terminal there is no keyboard to watch: the prompt is
// written, the wait goes on without spinning, and a signal ends it. Quiet:
// little processor time over 50 of its pauses (voluntary context switches,
// the wait's sleeps), whatever the clock; a spin makes no pause at all.
TEST(Terminal, WaitsQuietlyWithoutAControllingTerminal) {
  Launch launch;
  launch.argv = {ANYKEY_BINARY};
  launch.ctty = Ctty::None;
  launch.in = Stdin::DevNull;
  launch.out_path = Temp(-1, ".out");
  launch.err_path = Temp(-1, ".err");
  PtySession session = Start(launch);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(launch.out_path) == Prompt; }));
  long first = 0, switches = 0, forced = 0;
  ContextSwitches(session.pid, &first, &forced);
  const long ticks_before = ReadProcStat(session.pid).ticks;
  const bool paused = WaitFor(
      [&] { return ContextSwitches(session.pid, &switches, &forced) && switches >= first + 50; });
  const long ticks = ReadProcStat(session.pid).ticks - ticks_before;
  kill(session.pid, SIGTERM);
  const int status = Finish(session);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_EQ(ReadFile(launch.out_path), Prompt);
  const long most = sysconf(_SC_CLK_TCK) / 10;
  if (!paused && ticks < most) {
    GTEST_SKIP() << "the machine was too busy: " << switches - first << " pauses in 5 s";
  }
  EXPECT_TRUE(paused) << "no 50 pauses in 5 s, and " << ticks << " ticks: it spins";
  EXPECT_LT(ticks, most) << "50 pauses of waiting used this many ticks";
}

}  // namespace

namespace {

// A whole run, key included, allocates nothing on the heap.
// Valgrind counts a dynamic executable's allocations. A static one's malloc
// is out of its sight, but any heap needs memory from the system, by calls
// that strace sees (brk, mmap, mremap): the static run must make none.
TEST(Terminal, AllocatesNoHeapMemory) {
  const bool by_calls = !std::string(STRACE).empty();
  if (!by_calls && std::string(VALGRIND).empty()) GTEST_SKIP() << "valgrind not found";
  Launch launch;
  const std::string log = Temp(-3, ".heap");
  launch.argv = {VALGRIND, "--tool=memcheck", "--log-file=" + log, ANYKEY_BINARY};
  if (by_calls)
    launch.argv = {STRACE, "-fqq", "--trace=%memory", "--signal=none", "-o", log, ANYKEY_BINARY};
  launch.env = {"PATH=/usr/bin:/bin"};
  launch.out_path = Temp(-3, ".out");
  launch.err_path = Temp(-3, ".err");
  PtySession session = Start(launch);
  ASSERT_TRUE(WaitForEcho(session, false, 60));
  Type(session, "k");
  const int status = Finish(session, 60);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  if (by_calls) {
    EXPECT_EQ(ReadFile(log), "");
  } else {
    EXPECT_NE(ReadFile(log).find("total heap usage: 0 allocs"), std::string::npos) << ReadFile(log);
  }
}

}  // namespace
