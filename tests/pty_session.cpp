#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

void ReadScreen(PtySession& session) {
  char buffer[4096];
  pollfd ready{session.master, POLLIN, 0};
  while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
    const ssize_t n = read(session.master, buffer, sizeof buffer);
    if (n <= 0) break;
    session.screen.append(buffer, static_cast<size_t>(n));
  }
  for (ssize_t n; session.caller_out >= 0 && (n = read(session.caller_out, buffer, 64)) > 0;)
    session.screen.append(buffer, static_cast<size_t>(n));
}

void HangUp(PtySession& session) {
  for (int* end : {&session.master, &session.caller_in, &session.caller_out}) {
    if (*end >= 0) close(*end);
    *end = -1;
  }
}

namespace {

[[noreturn]] void Exec(const Launch& launch, int master, int slave, int in_pipe, int out_pipe) {
  setsid();
  if (launch.ctty == Ctty::Controlling) ioctl(slave, TIOCSCTTY, 0);
  // Everything is opened before the standard descriptors are rearranged, so
  // that no open lands on a descriptor closed on purpose.
  const int terminal = launch.ctty != Ctty::None ? slave : open("/dev/null", O_RDWR);
  const int in = launch.in == Stdin::Terminal || launch.in == Stdin::Closed ? terminal
                 : launch.in == Stdin::Master                               ? master
                 : launch.in == Stdin::Pipe                                 ? in_pipe
                 : launch.in == Stdin::DevNull ? open("/dev/null", O_RDONLY)
                                               : open(launch.in_path.c_str(), O_RDONLY);
  int out = launch.out == Stdout::File || launch.out == Stdout::FileAtLimit
                ? open(launch.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
            : launch.out == Stdout::Pipe ? out_pipe
                                         : terminal;
  if (launch.out == Stdout::BrokenPipe) {
    int ends[2];
    if (pipe(ends) == 0) {
      out = ends[1];
      close(ends[0]);
    }
  }
  const int err = launch.err_path.empty()
                      ? terminal
                      : open(launch.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (launch.out == Stdout::Closed) close(1);
  if (launch.in == Stdin::Closed) close(0);
  if (launch.body) {
    dup2(master, BodyKeyboard);
    fcntl(BodyKeyboard, F_SETFD, FD_CLOEXEC);
  }
  for (int fd = 3; fd < BodyKeyboard + (launch.body ? 0 : 1); ++fd) close(fd);
  // As a fresh program gets them from a login shell: a parent that ignores
  // one (Python ignores SIGXFSZ and SIGPIPE) would hide what it does.
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  if (launch.out == Stdout::FileAtLimit) {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_FSIZE, &none);
  }
  if (!launch.core_dir.empty() && chdir(launch.core_dir.c_str()) == 0) {
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_CORE, &unlimited);
  }
  if (launch.body) _exit(launch.body());
  if (launch.open_files > 0) {
    const rlimit files{static_cast<rlim_t>(launch.open_files),
                       static_cast<rlim_t>(launch.open_files)};
    setrlimit(RLIMIT_NOFILE, &files);
  }
  std::vector<char*> argv, env;
  for (const auto& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : launch.env) env.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  env.push_back(nullptr);
  execve(argv[0], argv.data(), env.data());
  _exit(127);
}

}  // namespace

PtySession Start(const Launch& launch) {
  PtySession session;
  openpty(&session.master, &session.slave, nullptr, nullptr, nullptr);
  if (!launch.typed_ahead.empty()) {
    Type(session, launch.typed_ahead);
    WaitForScreen(session, launch.typed_ahead.substr(launch.typed_ahead.size() - 1));
  }
  if (launch.out == Stdout::HeldTerminal) tcflow(session.slave, TCOOFF);
  session.at_start = Modes(session.slave);
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1};
  if (launch.in == Stdin::Pipe && pipe(in_pipe) != 0) in_pipe[0] = -1;
  if (launch.out == Stdout::Pipe && pipe(out_pipe) != 0) out_pipe[1] = -1;
  // The child closes descriptors up to BodyKeyboard only: the test's own
  // ends, wherever they are, must not reach the program, or a hang-up would
  // never come.
  for (const int own : {session.master, session.slave, in_pipe[1], out_pipe[0]})
    if (own >= 0) fcntl(own, F_SETFD, FD_CLOEXEC);
  session.pid = fork();
  if (session.pid == 0) Exec(launch, session.master, session.slave, in_pipe[0], out_pipe[1]);
  for (const int child_end : {in_pipe[0], out_pipe[1]})
    if (child_end >= 0) close(child_end);
  session.caller_in = in_pipe[1];
  session.caller_out = out_pipe[0];
  if (session.caller_out >= 0) fcntl(session.caller_out, F_SETFL, O_NONBLOCK);
  return session;
}

termios Modes(int terminal) {
  termios modes{};
  tcgetattr(terminal, &modes);
  return modes;
}

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

bool WaitFor(const std::function<bool()>& condition, int seconds, int every_us) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(every_us));
  }
  return false;
}

bool WaitForScreen(PtySession& session, const std::string& text) {
  return WaitFor([&] {
    ReadScreen(session);
    return session.screen.find(text) != std::string::npos;
  });
}

bool WaitForEcho(int terminal, bool on, int seconds) {
  return WaitFor([&] { return ((Modes(terminal).c_lflag & ECHO) != 0) == on; }, seconds);
}

int WaitForStatus(pid_t pid, int options, int seconds) {
  int status = -1;
  if (!WaitFor([&] { return waitpid(pid, &status, options | WNOHANG) == pid; }, seconds)) return -1;
  return status;
}

bool Type(const PtySession& session, const std::string& keys) {
  return write(session.master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

int Finish(PtySession& session, int seconds, bool read_meanwhile) {
  int status = -1;
  const bool ended = WaitFor(
      [&] {
        if (read_meanwhile) ReadScreen(session);
        return waitpid(session.pid, &status, WNOHANG) == session.pid;
      },
      seconds);
  if (!ended) {
    kill(session.pid, SIGKILL);
    waitpid(session.pid, nullptr, 0);
    status = -1;
  }
  ReadScreen(session);
  return status;
}

std::string PendingInput(int terminal) {
  termios raw = Modes(terminal);
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  tcsetattr(terminal, TCSANOW, &raw);
  std::string pending;
  char buffer[256];
  ssize_t n;
  while ((n = read(terminal, buffer, sizeof buffer)) > 0)
    pending.append(buffer, static_cast<size_t>(n));
  return pending;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

ProcStat ReadProcStat(const std::string& dir) {
  ProcStat stat;
  const std::string text = ReadFile(dir + "/stat");
  const size_t open = text.find(" ("), close = text.rfind(") ");
  if (open == std::string::npos || close == std::string::npos) return stat;
  stat.name = text.substr(open + 2, close - open - 2);
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 3) stat.state = field[0];
    if (i == 6) stat.session = std::stol(field);
    if (i >= 14) stat.ticks += std::stol(field);
  }
  return stat;
}

ProcStat ReadProcStat(pid_t pid) { return ReadProcStat("/proc/" + std::to_string(pid)); }

bool ContextSwitches(pid_t pid, long* voluntary, long* forced, bool* pending) {
  std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
  std::string key, mask;
  int found = 0;
  bool any_pending = false;
  while (status >> key) {
    if (key == "voluntary_ctxt_switches:" && status >> *voluntary) ++found;
    if (key == "nonvoluntary_ctxt_switches:" && status >> *forced) ++found;
    if ((key == "SigPnd:" || key == "ShdPnd:") && status >> mask)
      any_pending = any_pending || mask.find_first_not_of('0') != std::string::npos;
  }
  if (pending != nullptr) *pending = any_pending;
  return found == 2;
}

bool WaitForSignalTaken(pid_t pid) {
  long voluntary = 0, forced = 0, taken = -1;
  bool pending = true;
  return WaitFor([&] {
    if (!ContextSwitches(pid, &voluntary, &forced, &pending) || pending) return false;
    if (taken < 0) taken = voluntary;
    return voluntary > taken;
  });
}
