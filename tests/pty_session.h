// Runs a program as a terminal emulator runs a shell: the leader of a new
// session whose controlling terminal is a fresh pseudo-terminal. The test
// side holds the master (the keyboard and the screen) and a descriptor of
// the slave of its own, so it can read the terminal's modes at any time and
// they outlive the program.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

struct PtySession {
  int master = -1;
  int slave = -1;
  pid_t pid = -1;
  std::string screen;  // everything the master (and the caller's pipe) has read so far
  int caller_in = -1, caller_out = -1;  // the caller's ends of Stdin::Pipe and Stdout::Pipe
  termios at_start{};  // the modes before the program ran: it may set its own at once
};

// Master: the master side of the session's own terminal. Pipe: a pipe whose
// other end the test holds, as a caller without a terminal (a remote shell's
// server) does; what comes out of Stdout::Pipe is read onto the screen.
enum class Stdin { Terminal, DevNull, File, Closed, Master, Pipe };
// FileAtLimit: a file that may not grow (RLIMIT_FSIZE 0). HeldTerminal: the
// terminal, its output stopped from before the start (as ^S or Scroll Lock
// leave it), so the prompt's write blocks until the test resumes it.
enum class Stdout { File, Terminal, Closed, BrokenPipe, FileAtLimit, HeldTerminal, Pipe };
// Whether the session's terminal is its controlling terminal; Standard: it
// is not, but it is on the standard descriptors (as under su -c); None: no
// terminal anywhere.
enum class Ctty { Controlling, Standard, None };

// Where a body finds the terminal's master side (the keyboard).
constexpr int BodyKeyboard = 63;

struct Launch {
  std::vector<std::string> argv;
  std::vector<std::string> env;
  Stdin in = Stdin::Terminal;
  Stdout out = Stdout::File;
  Ctty ctty = Ctty::Controlling;
  int open_files = 0;       // RLIMIT_NOFILE when not 0
  std::string typed_ahead;  // typed and echoed before the program starts
  std::string out_path, in_path;
  std::string err_path;  // empty: the terminal
  std::string core_dir;  // not empty: cores allowed, written there
  // When set, runs in the session leader instead of argv; its result is the
  // exit status.
  std::function<int()> body;
};

PtySession Start(const Launch& launch);
// The modes of a terminal (a descriptor of it): the session's, or a shell's fd 0.
termios Modes(int terminal);
bool SameModes(const termios& a, const termios& b);
// Waits for the condition, five seconds and a look every half millisecond
// unless told otherwise; false if it never held.
bool WaitFor(const std::function<bool()>& condition, int seconds = 5, int every_us = 500);
// Reads what the terminal has written so far onto the screen, without waiting.
void ReadScreen(PtySession& session);
// Reads the screen; nothing else does before Finish, so output the program
// leaves unread stays in the terminal until then.
bool WaitForScreen(PtySession& session, const std::string& text);
bool WaitForEcho(int terminal, bool on, int seconds = 5);
// The wait status that waitpid reports with these options, or -1 if none
// came in time.
int WaitForStatus(pid_t pid, int options, int seconds = 5);
// The other ends go: the terminal's master (a hang-up) and the caller's pipes.
void HangUp(PtySession& session);
// False if the keys could not all be written.
bool Type(const PtySession& session, const std::string& keys);
// The wait status, or -1 if the program did not end in time (it is killed
// then). With read_meanwhile, reads the screen while it waits, so that the
// program never blocks on it; a body that reads the keyboard's side itself
// must not have its output taken.
int Finish(PtySession& session, int seconds = 5, bool read_meanwhile = false);
// Input left in the terminal for the next reader; leaves the terminal in
// non-canonical mode.
std::string PendingInput(int terminal);
std::string ReadFile(const std::string& path);

// What /proc/PID/stat tells of a process, DIR being /proc/PID: its state
// letter (R running, S asleep, T stopped; '?' once it is gone), session,
// processor time (user and system, in clock ticks) and name.
struct ProcStat {
  char state = '?';
  long session = 0;
  long ticks = 0;
  std::string name;
};
ProcStat ReadProcStat(const std::string& dir);
ProcStat ReadProcStat(pid_t pid);
// Its voluntary context switches (a wait in a blocking call each) and
// forced ones, and whether a signal is pending for its thread or for the
// process; false once it is gone.
bool ContextSwitches(pid_t pid, long* voluntary, long* forced, bool* pending = nullptr);
// Waits until no signal is pending for the process and it has blocked again
// since: whatever it does on a signal just sent, it has done.
bool WaitForSignalTaken(pid_t pid);
