// Runs inside the emulated machine: the 32-bit image under Wine's 32-bit
// loader, each program on a terminal of its own, as a user starts it there.
//   guest_checks WINE DIR
// DIR holds console_driver.exe, anykey.exe, sleep_loop.exe and spin_loop.exe.
// The console driver's table writes the first verdict lines; then come a key
// typed on the terminal, the processor use while waiting, and that a
// spinning program is caught. A verdict line, on standard output (the
// machine's console), is "PASS name:" or "FAIL name: what went wrong"; a line
// "cases N" before each group says how many verdicts it brings.
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "../pty_session.h"

namespace {

const std::string Prompt("Press any key to end polling\r\n");
std::string wine, dir;

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

// Whether EXE's stdout holds the prompt, and nothing else, once it holds as
// much or the program has ended (left to be waited for: a zombie).
bool Prompted(PtySession& session, const std::string& exe) {
  const std::string out = dir + "/" + exe + ".stdout";
  WaitFor(
      [&] {
        ReadScreen(session);
        return ReadFile(out).size() >= Prompt.size() || ReadProcStat(session.pid).state == 'Z';
      },
      120);
  return ReadFile(out) == Prompt;
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

std::string Verdict(const std::string& name, const std::string& fault, const std::string& more) {
  return (fault.empty() ? "PASS " : "FAIL ") + name + ":" + fault + more;
}

// What Wine drew on a terminal, without its control sequences.
std::string Plain(const std::string& screen) {
  static const std::regex control("\x1b\\[[0-9;?]*[A-Za-z]|\x1b\\][^\x07]*\x07|\r");
  return std::regex_replace(screen, control, "");
}

// The driver's table, its verdicts written to a file; on a fault, its
// terminal (where Wine reports on the image) goes to this program's output.
void DriverTable() {
  const std::string file = dir + "/verdicts.txt";
  PtySession session = Run("console_driver.exe", {dir + "/anykey.exe", file});
  const bool ended = Finish(session, 400, true) != -1;
  const std::string verdicts = ReadFile(file);
  if (!ended || verdicts.find("FAIL") != std::string::npos)
    std::printf("The console driver's terminal:\n%s\n", Words(Plain(session.screen), "\n").c_str());
  std::printf("%s", verdicts.c_str());
  if (!ended) std::printf("FAIL console driver: did not finish in 400 s;\n");
  if (verdicts.rfind("cases ", 0) != 0) std::printf("FAIL console driver: announced no cases;\n");
}

std::string TypedKey() {
  PtySession session = Run("anykey.exe");
  std::string fault;
  if (!Prompted(session, "anykey.exe")) {
    fault = " anykey.exe did not write the prompt;";
    Finish(session, 0, true);
  } else {
    Type(session, "k");
    // As long as the prompt may take: Wine's tear-down under emulation on a
    // busy host took more than 30 s once. A hang still fails.
    const int status = Finish(session, 120, true);
    if (status == -1) fault += " still waiting 120 s after the key;";
    if (status != -1 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
      fault += " ended with wait status " + std::to_string(status) + ";";
    if (ReadFile(dir + "/anykey.exe.stdout") != Prompt)
      fault += " stdout is not the 30-byte prompt;";
  }
  return Verdict("key typed on the terminal", fault, fault.empty() ? "" : Said("anykey.exe"));
}

// The session's process that runs EXE (Wine names the process after it):
// its processor time in clock ticks, -1 if there is none, and whether a
// 32-bit loader runs it; the time of Wine's server and console host, which
// answer its key checks; and the names of all the session's processes.
struct Sample {
  long ticks = -1;
  std::string path;  // its /proc folder
  long wine_ticks = 0;
  bool loader32 = false;
  std::string names;
};

Sample Probe(pid_t session_id, const std::string& exe) {
  Sample sample;
  DIR* proc = opendir("/proc");
  while (dirent* entry = proc ? readdir(proc) : nullptr) {
    const std::string path = std::string("/proc/") + entry->d_name;
    const ProcStat stat = ReadProcStat(path);
    if (stat.state == '?') continue;
    if (stat.name.rfind("wineserver", 0) == 0 || stat.name == "conhost.exe")
      sample.wine_ticks += stat.ticks;
    if (stat.session != session_id) continue;
    sample.names += " " + stat.name;
    if (stat.name != exe.substr(0, 15)) continue;
    sample.ticks = (sample.ticks < 0 ? 0 : sample.ticks) + stat.ticks;
    sample.path = path;
    // An ELF file's magic and class: a 32-bit program.
    sample.loader32 = ReadFile(path + "/exe").rfind("\177ELF\001", 0) == 0;
  }
  if (proc) closedir(proc);
  return sample;
}

// Milliseconds of processor EXE and Wine's own processes use over Window
// seconds after its prompt, or -1 with the reason in FAULT.
const int Window = 5;
// Looks: how many times its threads were looked at; blocked: in how many of
// those looks some thread waited in each system call (by number).
struct Use {
  long own = -1, wine = -1, looks = 0;
  std::map<std::string, long> blocked;
  std::string Text() const {
    return std::to_string(own) + " ms + Wine's server and console host " + std::to_string(wine) +
           " ms";
  }
};

// The system calls that the threads of the process in PATH wait in now.
std::set<std::string> BlockedIn(const std::string& path) {
  std::set<std::string> calls;
  DIR* tasks = opendir((path + "/task").c_str());
  while (dirent* task = tasks ? readdir(tasks) : nullptr) {
    std::istringstream call(ReadFile(path + "/task/" + task->d_name + "/syscall"));
    std::string number;
    if (call >> number && number != "running") calls.insert(number);
  }
  if (tasks) closedir(tasks);
  return calls;
}

// Runs EXE and measures it over the window after its prompt.
Use Waiting(const std::string& exe, std::string& fault) {
  PtySession session = Run(exe);
  Use use;
  Sample before;
  if (!Prompted(session, exe)) {
    fault += " " + exe + " did not write the prompt;" + Said(exe);
  } else if (before = Probe(session.pid, exe); before.ticks < 0) {
    fault += " no process named " + exe + " in its session (there:" + before.names + ");";
  } else if (!before.loader32) {
    fault += " " + exe + " does not run in a 32-bit loader;";
  } else {
    WaitFor(
        [&] {
          ReadScreen(session);
          ++use.looks;
          for (const std::string& call : BlockedIn(before.path)) ++use.blocked[call];
          return false;
        },
        Window, 2000);
    const Sample after = Probe(session.pid, exe);
    const long ms = 1000 / sysconf(_SC_CLK_TCK);
    if (after.ticks < 0) {
      fault += " " + exe + " ended while waiting;" + Said(exe);
    } else {
      use.own = (after.ticks - before.ticks) * ms;
      use.wine = (after.wine_ticks - before.wine_ticks) * ms;
    }
  }
  Finish(session, 0, true);
  return use;
}

// Emulation makes processor time many times the native one, and a busy host
// moves it further; under Wine a spin's work is mostly its key checks, done
// by Wine's server and console host, and a busy enough host slows those
// below 100 a second. So the verdict is on what the program's threads wait
// in, looked at every few milliseconds: a poll loop waits in its 10 ms Sleep
// once a turn, in the system call that a bare Sleep(10) loop waits in (found
// from that loop, looked at the same way); a spin's Sleep(0) never waits
// there, whatever the load, and is never found there. A busy host lengthens
// the key check and so lowers the share of looks that find the image asleep:
// 30% beside two busy loops on the host, 5% with a build and a second
// emulated machine besides (the bare loop 86 to 94%, the spin 0% always).
const double Limit = 0.01;

std::string Sleeps(const std::string& name, const std::string& exe, bool spin_expected) {
  std::string fault;
  const Use image = Waiting(exe, fault);
  const Use bare = Waiting("sleep_loop.exe", fault);
  std::string sleep_call = "none";
  long most = 0;
  for (const auto& [call, looks] : bare.blocked) {
    if (looks > most) std::tie(sleep_call, most) = std::tie(call, looks);
  }
  const auto at = image.blocked.find(sleep_call);
  const double asleep =
      at == image.blocked.end() ? 0 : static_cast<double>(at->second) / std::max(image.looks, 1L);
  const bool spins = asleep < Limit;
  if (fault.empty() && spins != spin_expected)
    fault = spins ? " it spins;" : " a spinning program was not caught;";
  char shares[160];
  std::snprintf(shares, sizeof shares,
                " asleep (in system call %s) in %.0f%% of %ld looks (bare loop %.0f%% of %ld);",
                sleep_call.c_str(), 100 * asleep, image.looks,
                100.0 * most / std::max(bare.looks, 1L), bare.looks);
  return Verdict(name, fault,
                 shares + (" " + exe + " ") + image.Text() + ", bare Sleep(10) loop " +
                     bare.Text() + ", over " + std::to_string(Window) + " s;");
}

std::string ProcessorUse() { return Sleeps("processor use while waiting", "anykey.exe", false); }

std::string SpinCaught() { return Sleeps("a spin is caught", "spin_loop.exe", true); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  wine = argv[1];
  dir = argv[2];
  std::printf("loader.run: the console driver's table\n");
  std::fflush(stdout);
  DriverTable();
  std::string (*const checks[])() = {TypedKey, ProcessorUse, SpinCaught};
  std::printf("cases %zu\n", std::size(checks));
  for (const auto check : checks) {
    std::printf("%s\n", check().c_str());
    std::fflush(stdout);
  }
  return 0;
}
