// Runs inside the emulated machine: the 32-bit image under Wine's 32-bit
// loader, each program on a terminal of its own, as a user starts it there.
//   guest_checks WINE DIR VERDICTS
// DIR holds console_driver.exe, anykey.exe and sleep_loop.exe. The console
// driver's table writes the first verdict lines; then come a key typed on
// the terminal and the processor use while waiting. A verdict line is
// "PASS name:" or "FAIL name: what went wrong".
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../pty_session.h"

namespace {

const std::string Prompt("Press any key to end polling\r\n");
// An ELF file's magic and class: a 32-bit program.
const std::string Elf32 = std::string("\x7f") + "ELF\x01";
std::string wine, dir;

// Whether the program has ended, leaving it to be waited for.
bool Ended(const PtySession& session) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(session.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == session.pid;
}

// Its wait status, or -1 if it did not end in time (it is killed then).
int End(PtySession& session, int seconds) {
  // Reading the screen keeps the terminal's output moving, so that Wine
  // never blocks on it.
  if (WaitFor(
          session,
          [&] {
            ReadScreen(session);
            return Ended(session);
          },
          seconds)) {
    return Finish(session, 1);
  }
  Finish(session, 0);
  return -1;
}

void Idle(PtySession& session, int seconds) {
  WaitFor(
      session,
      [&] {
        ReadScreen(session);
        return false;
      },
      seconds);
}

PtySession Run(const std::string& exe, const std::vector<std::string>& args = {}) {
  Launch launch;
  launch.argv = {wine, dir + "/" + exe};
  launch.argv.insert(launch.argv.end(), args.begin(), args.end());
  for (const char* name :
       {"PATH", "HOME", "WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "XDG_RUNTIME_DIR"}) {
    if (const char* value = getenv(name)) launch.env.push_back(std::string(name) + "=" + value);
  }
  launch.env.push_back("TERM=xterm");
  if (args.empty()) {  // the image itself: stdout to a file, Wine's messages kept
    launch.out_path = dir + "/" + exe + ".stdout";
    launch.err_path = dir + "/" + exe + ".stderr";
    unlink(launch.out_path.c_str());  // an earlier run's prompt is no sign of this one's
  } else {
    launch.out = Stdout::Terminal;
  }
  return Start(launch);
}

// Waits for the program's stdout to hold the whole prompt, or for its end.
bool WaitForPrompt(PtySession& session, const std::string& exe, int seconds) {
  return WaitFor(
      session,
      [&] {
        ReadScreen(session);
        return ReadFile(dir + "/" + exe + ".stdout").size() >= Prompt.size() || Ended(session);
      },
      seconds);
}

// Wine's own words in TEXT: its messages about the program and the
// loader's errors, not the chatter of its debug channels (a crash starts a
// debugger that looks for a display), joined by SEPARATOR.
std::string Words(const std::string& text, const std::string& separator) {
  static const std::regex chatter("^[0-9a-f]+:(fixme|err|warn|trace):(?!module:).*");
  std::istringstream lines(text);
  std::string words, line;
  while (std::getline(lines, line)) {
    if (!line.empty() && !std::regex_match(line, chatter))
      words += (words.empty() ? "" : separator) + line;
  }
  return words;
}

std::string Said(const std::string& exe) {
  return " wine said: \"" + Words(ReadFile(dir + "/" + exe + ".stderr"), " / ") + "\"";
}

// What Wine drew on a terminal, without its control sequences.
std::string Plain(const std::string& screen) {
  static const std::regex control("\x1b\\[[0-9;?]*[A-Za-z]|\x1b\\][^\x07]*\x07|\r");
  return std::regex_replace(screen, control, "");
}

// The driver's table; on a fault, its terminal (where Wine reports on the
// image) goes to this program's output.
std::string DriverTable(const std::string& verdicts) {
  PtySession session = Run("console_driver.exe", {dir + "/anykey.exe", verdicts});
  const bool ended = End(session, 400) != -1;
  if (!ended || ReadFile(verdicts).find("FAIL") != std::string::npos)
    std::printf("The console driver's terminal:\n%s\n", Words(Plain(session.screen), "\n").c_str());
  return ended ? "" : "FAIL console driver: did not finish in 400 s;";
}

std::string TypedKey() {
  PtySession session = Run("anykey.exe");
  if (!WaitForPrompt(session, "anykey.exe", 120) ||
      ReadFile(dir + "/anykey.exe.stdout") != Prompt) {
    End(session, 0);
    return "FAIL key typed on the terminal: anykey.exe did not write the prompt;" +
           Said("anykey.exe");
  }
  Type(session, "k");
  const int status = End(session, 30);
  const bool ended = status != -1;
  std::string fault;
  if (!ended) fault += " still waiting 30 s after the key;";
  if (ended && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
    fault += " ended with wait status " + std::to_string(status) + ";";
  if (ReadFile(dir + "/anykey.exe.stdout") != Prompt) fault += " stdout is not the 30-byte prompt;";
  return (fault.empty() ? "PASS" : "FAIL") + std::string(" key typed on the terminal:") + fault +
         (fault.empty() ? "" : Said("anykey.exe"));
}

// The session's process that runs EXE (Wine names the process after it):
// its processor time in clock ticks, -1 if there is none, and whether a
// 32-bit loader runs it; the time of Wine's server and console host, which
// answer its key checks; and the names of all the session's processes.
struct Sample {
  long ticks = -1;
  long wine_ticks = 0;
  bool loader32 = false;
  std::string names;
};

Sample Probe(pid_t session_id, const std::string& exe) {
  Sample sample;
  DIR* proc = opendir("/proc");
  while (dirent* entry = proc ? readdir(proc) : nullptr) {
    const std::string path = std::string("/proc/") + entry->d_name;
    const std::string text = ReadFile(path + "/stat");
    const size_t open = text.find(" ("), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long session = 0, user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 6) session = std::stol(field);
      if (i == 14) user = std::stol(field);
      if (i == 15) system = std::stol(field);
    }
    const std::string name = text.substr(open + 2, close - open - 2);
    if (name.rfind("wineserver", 0) == 0 || name == "conhost.exe")
      sample.wine_ticks += user + system;
    if (session != session_id) continue;
    sample.names += " " + name;
    if (name != exe.substr(0, 15)) continue;
    sample.ticks = (sample.ticks < 0 ? 0 : sample.ticks) + user + system;
    sample.loader32 = ReadFile(path + "/exe").compare(0, Elf32.size(), Elf32) == 0;
  }
  if (proc) closedir(proc);
  return sample;
}

// Milliseconds of processor EXE and Wine's own processes use over Window
// seconds after its prompt, or -1 with the reason in FAULT.
const int Window = 5;
struct Use {
  long own = -1, wine = -1;
  std::string Text() const {
    return std::to_string(own) + " ms + Wine's server and console host " + std::to_string(wine) +
           " ms";
  }
};

Use Waiting(const std::string& exe, std::string& fault) {
  PtySession session = Run(exe);
  Use use;
  Sample before;
  if (!WaitForPrompt(session, exe, 120) || ReadFile(dir + "/" + exe + ".stdout") != Prompt) {
    fault += " " + exe + " did not write the prompt;" + Said(exe);
  } else if (before = Probe(session.pid, exe); before.ticks < 0) {
    fault += " no process named " + exe + " in its session (there:" + before.names + ");";
  } else if (!before.loader32) {
    fault += " " + exe + " does not run in a 32-bit loader;";
  } else {
    Idle(session, Window);
    const Sample after = Probe(session.pid, exe);
    const long ms = 1000 / sysconf(_SC_CLK_TCK);
    if (after.ticks < 0) fault += " " + exe + " ended while waiting;" + Said(exe);
    if (after.ticks >= 0)
      use = {(after.ticks - before.ticks) * ms, (after.wine_ticks - before.wine_ticks) * ms};
  }
  End(session, 0);
  return use;
}

// Emulation makes any figure here many times the native one, so the wait is
// judged beside a bare Sleep(10) loop run the same way. Each key check is a
// request to Wine's server and console host, so a loop that no longer sleeps
// keeps them busy too: with them it takes the whole window, and by itself
// six and a half to eleven times what the bare loop takes; the landed image, half the
// window and three to four times. Both must hold for a spin: a busy host
// inflates the first, and the second leaves out Wine's server, whose own
// background work varies from run to run.
std::string ProcessorUse() {
  std::string fault;
  const Use image = Waiting("anykey.exe", fault);
  const Use bare = Waiting("sleep_loop.exe", fault);
  const long loop = image.own + image.wine;
  if (fault.empty() && loop > Window * 800 && image.own > 5 * std::max(bare.own, 10L))
    fault = " it spins;";
  return (fault.empty() ? "PASS" : "FAIL") + std::string(" processor use while waiting:") + fault +
         " anykey.exe " + image.Text() + ", bare Sleep(10) loop " + bare.Text() + ", over " +
         std::to_string(Window) + " s;";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  wine = argv[1];
  dir = argv[2];
  const std::string verdicts = argv[3];
  std::printf("loader.run: the console driver's table\n");
  std::fflush(stdout);
  const std::string driver = DriverTable(verdicts);
  std::ofstream out(verdicts, std::ios::app);
  if (!driver.empty()) out << driver << "\n" << std::flush;
  std::printf("%s", ReadFile(verdicts).c_str());
  for (const auto check : {TypedKey, ProcessorUse}) {
    const std::string verdict = check();
    out << verdict << "\n" << std::flush;
    std::printf("%s\n", verdict.c_str());
    std::fflush(stdout);
  }
  return 0;
}
