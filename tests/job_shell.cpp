#include "job_shell.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "pty_session.h"

termios BecomeShell() {
  for (const int job_signal : {SIGTSTP, SIGTTIN, SIGTTOU}) signal(job_signal, SIG_IGN);
  return Modes(0);
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

termios TakeTerminal() {
  tcsetpgrp(0, getpgrp());
  termios raw = Modes(0);
  cfmakeraw(&raw);
  tcsetattr(0, TCSANOW, &raw);
  return Modes(0);
}

void GiveTerminal(pid_t group, const termios& modes) {
  tcsetattr(0, TCSANOW, &modes);
  tcsetpgrp(0, group);
}

std::string PendingOnTerminal() {
  tcsetpgrp(0, getpgrp());  // a read from the background fails
  const termios modes = Modes(0);
  std::string pending = PendingInput(0);
  tcsetattr(0, TCSANOW, &modes);
  return pending;
}
