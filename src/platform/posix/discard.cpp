// The discard of a burst. A terminal emulator writes a paste in pieces as
// the input queue drains, and an escape sequence can arrive split over a slow
// link: one flush would leave the rest to the next reader, as typed text.
#include "platform/posix/discard.h"

#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "console/key_wait.h"
#include "platform/posix/keystroke.h"
#include "platform/posix/modes.h"
#include "platform/posix/readiness.h"

namespace anykey {
namespace {

constexpr long BurstLimitMs = 1000;

timespec Now() {
  timespec now{};
  static_cast<void>(clock_gettime(CLOCK_MONOTONIC, &now));
  return now;
}

long MillisecondsSince(const timespec& start) {
  const timespec now = Now();
  // time_t is wider than long on 32-bit systems with 64-bit time; a burst's
  // seconds fit in a long.
  return static_cast<long>(now.tv_sec - start.tv_sec) * 1000L +
         (now.tv_nsec - start.tv_nsec) / 1000000L;
}

// In the program's own-call bracket: from the background, the read fails
// and the flush is refused instead of stopping the process.
ssize_t ReadPending(int fd, unsigned char* bytes, size_t room) {
  ssize_t count = 0;
  const sigset_t before = BeginOwnCall();
  const int ready = Readiness(fd, POLLIN, 0);
  if (ready > 0 && (ready & POLLIN) != 0) {
    count = read(fd, bytes, room);
  }
  EndOwnCall(before);
  return count;
}

// Reads everything pending, so that a paste's end marker is seen; false
// when a read fails (the background, a hang-up).
bool ReadAll(int fd, PasteMarkers& markers) {
  unsigned char bytes[256];
  ssize_t count = 0;
  while ((count = ReadPending(fd, bytes, sizeof bytes)) > 0) {
    markers.See(bytes, static_cast<size_t>(count));
  }
  return count == 0;
}

bool Flush(int fd) {
  const sigset_t before = BeginOwnCall();
  const bool flushed = tcflush(fd, TCIFLUSH) == 0;
  EndOwnCall(before);
  return flushed;
}

}  // namespace

bool DiscardInput(int fd, bool may_read) {
  unsigned char bytes[64];
  const ssize_t count = may_read ? ReadPending(fd, bytes, sizeof bytes) : 0;
  if (count <= 0 || !MoreIsComing(bytes, static_cast<size_t>(count), sizeof bytes)) {
    return Flush(fd);
  }
  PasteMarkers markers;
  markers.See(bytes, static_cast<size_t>(count));
  bool going = ReadAll(fd, markers);
  const bool flushed = Flush(fd);
  // Until a whole poll interval passes without input, outside a bracketed
  // paste. Back in the foreground after a stop, the limit starts again.
  timespec start = Now();
  while (going) {
    const Hold hold = KeepTerminal();
    if (hold == Hold::Lost) {
      break;
    }
    if (hold == Hold::Again) {
      start = Now();
    }
    // Measured after the look: time spent stopped is no part of the burst.
    const long left = BurstLimitMs - MillisecondsSince(start);
    if (left <= 0) {
      break;
    }
    const long interval = PollInterval;  // long is 32 bits on some machines: no sign change
    const int ready = Readiness(fd, POLLIN, static_cast<int>(left < interval ? left : interval));
    if ((ready == 0 && !markers.open) || (ready > 0 && ready != POLLIN)) {
      break;  // quiet, or hung up
    }
    going = ready <= 0 || ReadAll(fd, markers);
  }
  return flushed;
}

}  // namespace anykey
