#include "job_shell.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "pty_session.h"

namespace {

bool Within5s(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return false;
}

}  // namespace

termios BecomeShell() {
  for (const int job_signal : {SIGTSTP, SIGTTIN, SIGTTOU}) signal(job_signal, SIG_IGN);
  return CurrentModes();
}

pid_t StartJob(const char* path, Group group, bool to_terminal) {
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
    execl(path, path, static_cast<char*>(nullptr));
    _exit(127);
  }
  // Both sides set the group, so that it exists whichever runs first.
  if (group != Group::Shells) setpgid(job, job);
  if (group == Group::Foreground) tcsetpgrp(0, job);
  return job;
}

int AwaitJob(pid_t job, int options) {
  int status = -1;
  if (!Within5s([&] { return waitpid(job, &status, options | WNOHANG) == job; })) return -1;
  return status;
}

termios CurrentModes() {
  termios modes{};
  tcgetattr(0, &modes);
  return modes;
}

bool AwaitModes(const termios& modes) {
  return Within5s([&] { return SameModes(CurrentModes(), modes); });
}

bool AwaitEcho(bool on) {
  return Within5s([&] { return ((CurrentModes().c_lflag & ECHO) != 0) == on; });
}

termios TakeTerminal() {
  tcsetpgrp(0, getpgrp());
  termios raw = CurrentModes();
  cfmakeraw(&raw);
  tcsetattr(0, TCSANOW, &raw);
  return CurrentModes();
}

void GiveTerminal(pid_t group, const termios& modes) {
  tcsetattr(0, TCSANOW, &modes);
  tcsetpgrp(0, group);
}

std::string PendingOnTerminal() {
  tcsetpgrp(0, getpgrp());  // a read from the background fails
  const termios modes = CurrentModes();
  PtySession terminal;
  terminal.slave = 0;
  std::string pending = PendingInput(terminal);
  tcsetattr(0, TCSANOW, &modes);
  return pending;
}
