// Job control around the real POSIX binary: a job-control shell of the
// test's own, and a seeded storm of signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <utility>

#include "pty_session.h"
#include "terminal_rows.h"

namespace {

// A minimal job-control shell of the test's own, run as the body of a
// PtySession: it owns the terminal (fd 0) as an interactive shell does,
// starts jobs in process groups of their own, hands the terminal over and
// takes it back, and holds raw modes of its own while it has the terminal.
struct Shell {
  termios before{};  // the terminal's modes before any job
  termios shells{};  // the modes the shell itself puts there
  pid_t job = -1, other = -1, second = -1;
  bool to_terminal = false;  // jobs started from now on write to the terminal
  PtySession keyboard;       // on BodyKeyboard
  size_t step = 0;
  int failures = 0;
  bool late = false;                // a step's premise did not hold
  Clock::time_point after_fg = {};  // when the step before began, if that was an fg
};

// The shell: it ignores the job-control signals, as a shell does, and notes
// the terminal's modes.
Shell BecomeShell() {
  for (const int job_signal : {SIGTSTP, SIGTTIN, SIGTTOU}) signal(job_signal, SIG_IGN);
  Shell s;
  s.before = s.shells = Modes(0);
  s.keyboard.master = BodyKeyboard;
  return s;
}

// A job's own process group (or the shell's, for an orphaned one), standard
// output to /dev/null unless to the terminal, signals as a fresh program
// gets them.
enum class Group { Foreground, Background, Shells };
pid_t StartJob(Group group, bool to_terminal = false) {
  const pid_t job = fork();
  if (job == 0) {
    if (group != Group::Shells) setpgid(0, 0);
    if (group == Group::Foreground) tcsetpgrp(0, getpgrp());
    for (const int job_signal : {SIGTSTP, SIGTTIN, SIGTTOU}) signal(job_signal, SIG_DFL);
    const int null = to_terminal ? dup(0) : open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    // Another system's poll, stood in for in the job alone.
    if (const char* preload = getenv("ANYKEY_PRELOAD")) setenv("LD_PRELOAD", preload, 1);
    execl(ANYKEY_BINARY, ANYKEY_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  // Both sides set the group, so that it exists whichever runs first.
  if (group != Group::Shells) setpgid(job, job);
  if (group == Group::Foreground) tcsetpgrp(0, job);
  return job;
}

void GiveTerminal(pid_t group, const termios& modes) {
  tcsetattr(0, TCSANOW, &modes);
  tcsetpgrp(0, group);
}

// The job's wait status, or -1 if none came in time; once it came, the job is gone.
int Reap(pid_t* job) {
  const int status = WaitForStatus(*job, 0);
  if (status != -1) *job = -1;
  return status;
}

// The steps of a row, each run by the shell; a step that finds something
// wrong says so on the shell's standard error.
void Expect(Shell& s, bool holds, const char* what_is_wrong) {
  if (holds) return;
  ++s.failures;
  dprintf(2, "step %zu: %s\n", s.step + 1, what_is_wrong);
}
// The program as the foreground job, as a background job, or in the
// shell's own group, which no shell controls.
void Foreground(Shell& s) { s.job = StartJob(Group::Foreground, s.to_terminal); }
void Background(Shell& s) { s.job = StartJob(Group::Background, s.to_terminal); }
void Orphaned(Shell& s) { s.job = StartJob(Group::Shells, s.to_terminal); }
void ToTerminal(Shell& s) { s.to_terminal = true; }
// stty tostop: a background job's write stops it.
void Tostop(Shell& s) {
  s.shells = Modes(0);
  s.shells.c_lflag |= TOSTOP;
  tcsetattr(0, TCSANOW, &s.shells);
}
// Output held, as ^S does, and let go, as ^Q does.
void Hold(Shell&) { tcflow(0, TCOOFF); }
void LetGo(Shell&) { tcflow(0, TCOON); }
// O_NONBLOCK on the terminal's description, shared with the job.
void NonBlocking(Shell&) { fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK); }
// The job stops by itself.
void AwaitStopped(Shell& s) {
  Expect(s, WIFSTOPPED(WaitForStatus(s.job, WUNTRACED)), "did not stop");
}
// The whole prompt reaches the screen within 5 s.
void ExpectPrompt(Shell& s) {
  Expect(s, WaitForScreen(s.keyboard, PromptOnScreen), "the whole prompt never came");
}
void TypeKey(Shell& s) { Expect(s, Type(s.keyboard, "k"), "no keyboard"); }
// Until echo is off.
void AwaitWaitModes(Shell& s) { Expect(s, WaitForEcho(0, false), "the wait modes never came"); }
// ^Z, and see it stop.
void Stop(Shell& s) {
  kill(s.job, SIGTSTP);
  AwaitStopped(s);
}
// Leaves it stopped longer than a burst's discard may last.
void Linger(Shell&) { usleep(1200000); }
// The shell takes the terminal and puts raw modes there.
void TakeRaw(Shell& s) {
  tcsetpgrp(0, getpgrp());
  s.shells = Modes(0);
  cfmakeraw(&s.shells);
  tcsetattr(0, TCSANOW, &s.shells);
  s.shells = Modes(0);
}
// bg
void Continue(Shell& s) { kill(s.job, SIGCONT); }
// The modes from before, the terminal to the job, SIGCONT.
void Fg(Shell& s) {
  GiveTerminal(s.job, s.before);
  Continue(s);
}
// The terminal to another group, modes untouched.
void Handover(Shell& s) {
  s.other = fork();
  if (s.other == 0) {
    setpgid(0, 0);
    pause();
    _exit(0);
  }
  setpgid(s.other, s.other);
  tcsetpgrp(0, s.other);
}
// Five pauses of its wait, or a hundred looks through one sleep (a held
// write), in which the job must neither stop nor end.
void Settle(Shell& s) {
  long first = 0, now = 0, forced = 0, seen = -1;
  int looks = 0;  // in a row, finding it asleep in one call
  bool ended = !ContextSwitches(s.job, &first, &forced);
  const bool settled = WaitFor([&] {
    int status = 0;
    ended = ended || waitpid(s.job, &status, WUNTRACED | WNOHANG) != 0;
    if (ended || !ContextSwitches(s.job, &now, &forced)) return true;
    looks = now == seen && ReadProcStat(s.job).state == 'S' ? looks + 1 : 0;
    seen = now;
    return now >= first + 5 || looks >= 100;
  });
  Expect(s, !ended, "stopped or ended");
  Expect(s, settled, "made no five pauses");
}
// The terminal has the shell's raw modes.
void ExpectShells(Shell& s) {
  Expect(s, SameModes(Modes(0), s.shells), "the shell's modes were overwritten");
}
// The terminal has the modes from before the job, at once or within 5 s.
void ExpectBefore(Shell& s) {
  Expect(s, SameModes(Modes(0), s.before), "the modes from before are not back");
}
void AwaitBefore(Shell& s) {
  WaitFor([&] { return SameModes(Modes(0), s.before); });
  ExpectBefore(s);
}
// kill %1: SIGTERM, SIGCONT, and see it die by SIGTERM.
void EndByTerm(Shell& s) {
  kill(s.job, SIGTERM);
  Continue(s);
  const int status = Reap(&s.job);
  Expect(s, WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM, "did not die by SIGTERM");
}
// The shell takes the terminal back, modes untouched.
void Reclaim(Shell&) { tcsetpgrp(0, getpgrp()); }
// A second copy as the foreground job, and a key that must end it with 0.
void Second(Shell& s) { s.second = StartJob(Group::Foreground); }
void KeyEndsSecond(Shell& s) {
  TypeKey(s);
  const int status = Reap(&s.second);
  Expect(s, WIFEXITED(status) && WEXITSTATUS(status) == 0, "the key did not end it");
}
// The terminal still has wait modes (no echo).
void ExpectWaitModes(Shell& s) {
  Expect(s, (Modes(0).c_lflag & ECHO) == 0, "the wait modes were overwritten");
}
// 500 bytes of a paste on the keyboard, in pieces 3 ms apart, meant to come
// within Close of each other and of an fg that resumes a discard: late if not.
void Paste(Shell& s) {
  const std::string piece(
      "echo pasted 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 "
      "0123456789 0123456789\n",
      100);
  Clock::time_point since = s.after_fg;
  for (int count = 0; count < 5; ++count, usleep(3000)) {
    const Clock::time_point start = Clock::now();
    Expect(s, Type(s.keyboard, piece), "no keyboard");
    s.late = s.late || (since != Clock::time_point{} && Clock::now() - since >= Close);
    since = start;
  }
  if (s.late) dprintf(2, "late: step %zu: pieces of the paste typed too far apart\n", s.step + 1);
}
// The job exits 0, with nothing left pending for the next reader.
void ExitsZero(Shell& s) {
  const int status = Reap(&s.job);
  Expect(s, WIFEXITED(status) && WEXITSTATUS(status) == 0, "did not exit 0");
  tcsetpgrp(0, getpgrp());  // a read from the background fails
  const termios modes = Modes(0);
  Expect(s, PendingInput(0).empty(), "input was left pending");
  tcsetattr(0, TCSANOW, &modes);
}

using Step = void (*)(Shell&);

// Ends what the shell left running and puts the terminal back; its failures.
int EndShell(Shell& s) {
  for (const pid_t left : {s.job, s.other, s.second}) {
    if (left > 0) {
      kill(left, SIGKILL);
      waitpid(left, nullptr, 0);
    }
  }
  GiveTerminal(getpgrp(), s.before);
  return s.failures;
}

int RunJobSteps(const std::vector<Step>& steps) {
  Shell s = BecomeShell();
  Clock::time_point began{};
  for (; s.step < steps.size() && s.failures == 0 && !s.late; ++s.step) {
    s.after_fg = s.step > 0 && steps[s.step - 1] == Fg ? began : Clock::time_point{};
    began = Clock::now();
    steps[s.step](s);
  }
  return EndShell(s);
}

// Runs a body as the session leader on a fresh terminal; what it wrote on
// standard output and standard error.
std::pair<std::string, std::string> RunShell(const std::function<int()>& body, int seconds,
                                             int index) {
  Launch launch = ProgramLaunch(index);
  launch.body = body;
  PtySession session = Start(launch);
  const int status = Finish(session, seconds);
  EXPECT_TRUE(WIFEXITED(status)) << "the shell ran out of time: status " << status;
  return {ReadFile(launch.out_path), ReadFile(launch.err_path)};
}

TEST(Terminal, LeavesOtherJobsModesAloneUnderJobControl) {
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"kill %1 on a stopped job",
       {Foreground, AwaitWaitModes, Stop, ExpectBefore, TakeRaw, EndByTerm, ExpectShells}},
      {"kill %1 on a background job",
       {TakeRaw, Background, Settle, ExpectShells, EndByTerm, ExpectShells}},
      {"bg while the shell holds raw modes",
       {Foreground, AwaitWaitModes, Stop, TakeRaw, Continue, Settle, ExpectShells, Fg,
        AwaitWaitModes, EndByTerm, ExpectBefore}},
      {"started in the background, then fg",
       {Background, Settle, ExpectBefore, Fg, AwaitWaitModes, Stop, ExpectBefore, Fg,
        AwaitWaitModes, EndByTerm, ExpectBefore}},
      {"orphaned in the background",
       {Orphaned, AwaitWaitModes, Handover, AwaitBefore, EndByTerm, ExpectBefore}},
      // Ended before its next check sees the background: the handler restores.
      {"ended at once in an orphaned background",
       {Orphaned, AwaitWaitModes, Handover, EndByTerm, ExpectBefore}},
      // A copy stopped and continued in the background leaves a second
      // copy's wait modes alone, though they equal its own.
      // The discard goes on once the job is back in the foreground.
      {"^Z and fg in the middle of a paste",
       {Foreground, AwaitWaitModes, Paste, Stop, Linger, ExpectBefore, Paste, Fg, Paste, ExitsZero,
        ExpectBefore}},
      {"a second copy while the first is in the background",
       {Foreground, AwaitWaitModes, Stop, Reclaim, ExpectBefore, Continue, Settle, ExpectBefore,
        Second, AwaitWaitModes, Settle, ExpectWaitModes, KeyEndsSecond, ExpectBefore, EndByTerm,
        ExpectBefore}},
      // A write that a stop interrupts goes on after the continue.
      {"stty tostop, stopped by its prompt in the background, then fg",
       {Tostop, ToTerminal, Background, AwaitStopped, Fg, ExpectPrompt, AwaitWaitModes, TypeKey,
        ExitsZero}},
      {"^Z while the prompt waits for held output, let go, fg",
       {Hold, ToTerminal, Foreground, AwaitWaitModes, Settle, Stop, LetGo, Fg, ExpectPrompt,
        AwaitWaitModes, TypeKey, ExitsZero}},
      {"output held on a description left non-blocking, then let go",
       {Hold, NonBlocking, ToTerminal, Foreground, AwaitWaitModes, Settle, LetGo, ExpectPrompt,
        TypeKey, ExitsZero}},
  };
  // A row whose paste came late in every run says nothing.
  RunRows(cases, [](const auto& row, int index) {
    const std::string err =
        RunShell([&] { return RunJobSteps(row.steps); }, 30, 200 + index).second;
    if (err.rfind("late:", 0) == 0) return err.substr(0, err.find('\n'));
    EXPECT_EQ(err, "");
    return std::string();
  });
}

// A seeded storm of stops, continues and ends at microsecond delays, its
// events counted as steps. Whenever the program is stopped or gone, the
// terminal has exactly the modes from before it started, and it ended by the
// signal that ended it.
int Storm(unsigned seed, int rounds, int events_per_round) {
  Shell s = BecomeShell();
  std::mt19937 random(seed);
  auto micros = [&](unsigned most) { usleep(static_cast<useconds_t>(random() % most)); };
  for (int round = 0; round < rounds && s.failures == 0; ++round) {
    Foreground(s);
    AwaitWaitModes(s);
    for (int i = 0; i < events_per_round && s.failures == 0; ++i, ++s.step) {
      const unsigned pick = random() % 8;
      if (pick < 4) {
        Stop(s);
        if (s.failures == 0) ExpectBefore(s);
        micros(200);
        Continue(s);
        // The stop handler's window after a continue is a few microseconds wide.
        micros(random() % 4 != 0 ? 1 : 100);
      } else if (pick < 7) {
        micros(300);
      } else {
        // Lets the wait modes come back, so that the next stop meets them.
        WaitForEcho(0, false);
      }
    }
    const int end = random() % 2 != 0 ? SIGTERM : SIGINT;
    kill(s.job, end);
    Continue(s);
    const int status = Reap(&s.job);
    Expect(s, status != -1, "still running after its end");
    Expect(s, status == -1 || (WIFSIGNALED(status) && WTERMSIG(status) == end),
           "ended otherwise than by its signal");
    ExpectBefore(s);
  }
  if (s.failures != 0) dprintf(2, "seed %u, %zu events\n", seed, s.step);
  dprintf(1, "%zu events\n", s.step);
  return EndShell(s);
}

TEST(Terminal, KeepsItsInvariantUnderASignalStorm) {
  const char* seed_text = getenv("ANYKEY_STORM_SEED");
  const unsigned seed = seed_text != nullptr ? static_cast<unsigned>(atol(seed_text)) : 20261208;
  const auto [out, err] = RunShell([&] { return Storm(seed, 40, 150); }, 120, -4);
  EXPECT_EQ(err, "");
  EXPECT_EQ(out, "6000 events\n");
}

}  // namespace
