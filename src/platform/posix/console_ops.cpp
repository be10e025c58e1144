// The plain operations: handles, writing, sleeping and ending the process.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <errno.h>
#include <time.h>

#include "console/key_wait.h"
#include "platform/console_ops.h"
#include "platform/posix/modes.h"
#include "platform/posix/readiness.h"
#include "platform/posix/terminal.h"

namespace anykey {

HANDLE GetStdHandle(DWORD which) {
  switch (which) {
    case STD_INPUT_HANDLE:
      return STDIN_FILENO;
    case STD_OUTPUT_HANDLE:
      return STDOUT_FILENO;
    case STD_ERROR_HANDLE:
      return STDERR_FILENO;
    default:
      return INVALID_HANDLE_VALUE;
  }
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written,
               OVERLAPPED* /*overlapped*/) {
  // A pipe whose reader has gone, or a file at its size limit, fails the
  // write, as on Windows, instead of killing the process before the wait.
  // The two signals are blocked for the write, not ignored: one sent by
  // someone else meanwhile (a write to a held terminal can take any time)
  // stays pending and is handled as at any other moment once the write is
  // over. Only the one the write raised itself is taken back.
  sigset_t both;
  sigemptyset(&both);
  sigaddset(&both, SIGPIPE);
  sigaddset(&both, SIGXFSZ);
  sigset_t before;
  sigprocmask(SIG_BLOCK, &both, &before);
  // All of the piece, as a blocking write on Windows does: a stop (whose
  // handlers do not restart calls) or a short count is no reason to drop
  // the rest, nor is a description that someone left non-blocking.
  const auto* bytes = static_cast<const unsigned char*>(data);
  DWORD done = 0;
  int failure = 0;
  bool said_ready = false;
  while (done < size && failure == 0) {
    const ssize_t count = write(file, bytes + done, size - done);
    if (count > 0) {
      done += static_cast<DWORD>(count);
      said_ready = false;
    } else if (count == 0) {
      failure = EIO;  // nothing taken and no reason given: trying again would spin
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Until it takes more. A held terminal can say it does and still
      // refuse: a pause then, not a spin.
      if (said_ready) {
        Sleep(PollInterval);
      }
      said_ready = Readiness(file, POLLOUT, -1) > 0;
    } else if (errno != EINTR) {
      failure = errno;
    }
  }
  if (failure == EPIPE || failure == EFBIG) {
    // Only a pending signal is taken, so sigwait returns at once; sigpending
    // and sigwait are what every system has.
    const int raised = failure == EPIPE ? SIGPIPE : SIGXFSZ;
    sigset_t pending;
    if (sigpending(&pending) == 0 && sigismember(&pending, raised) == 1) {
      sigdelset(&both, raised == SIGPIPE ? SIGXFSZ : SIGPIPE);
      int taken = 0;
      sigwait(&both, &taken);
    }
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  *written = done;
  return failure == 0 ? 1 : 0;
}

void Sleep(DWORD milliseconds) {
  // A signal (input, a continue) cuts the pause short; what is left of it
  // comes back from nanosleep in every C library, so the check still follows
  // a whole pause.
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void ExitProcess(UINT code) {
  LeaveTerminal();
  _exit(code == 0 && EndedWithoutKey() ? NoKeyStatus : static_cast<int>(code));
}

}  // namespace anykey
