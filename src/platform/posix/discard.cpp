// The discard of a burst. A terminal emulator writes a paste in pieces as
// the input queue drains, and an escape sequence can arrive split over a slow
// link: one flush would leave the rest to the next reader, as typed text.
#include "platform/posix/discard.h"

#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "console/key_wait.h"
#include "platform/posix/modes.h"

namespace anykey {
namespace {

constexpr unsigned char Escape = 0x1b;
constexpr long BurstLimitMs = 1000;

// The length of the keystroke at the start of bytes, or 0 when it is cut
// short. A keystroke is a byte, a UTF-8 character, or an escape sequence:
// ESC [ parameters final, ESC O key, or ESC and one more byte (Alt+key).
size_t KeyLength(const unsigned char* bytes, size_t count) {
  const unsigned char first = bytes[0];
  if (first == Escape) {
    if (count < 2) {
      return 0;
    }
    if (bytes[1] == 'O') {
      return count < 3 ? 0 : 3;
    }
    if (bytes[1] != '[') {
      return bytes[1] == Escape ? 1 : 2;
    }
    for (size_t i = 2; i < count; ++i) {
      if (bytes[i] >= 0x40 && bytes[i] <= 0x7e) {
        return i + 1;  // the final byte
      }
      if (bytes[i] < 0x20 || bytes[i] > 0x3f) {
        return i;  // not a sequence after all: it ends before this byte
      }
    }
    return 0;
  }
  size_t length = 1;
  if (first >= 0xc0 && first < 0xf8) {
    length = first >= 0xf0 ? 4 : first >= 0xe0 ? 3 : 2;
  }
  for (size_t i = 1; i < length; ++i) {
    if (i == count) {
      return 0;
    }
    if ((bytes[i] & 0xc0) != 0x80) {
      return i;  // a stray lead byte counts alone
    }
  }
  return length;
}

long MillisecondsSince(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
}

// In the program's own-call bracket: from the background, the read fails
// and the flush is refused instead of stopping the process.
ssize_t ReadPending(int fd, unsigned char* bytes, size_t room) {
  pollfd watch{fd, POLLIN, 0};
  ssize_t count = 0;
  const sigset_t before = BeginOwnCall();
  if (poll(&watch, 1, 0) > 0 && (watch.revents & POLLIN) != 0) {
    count = read(fd, bytes, room);
  }
  EndOwnCall(before);
  return count;
}

bool Flush(int fd) {
  const sigset_t before = BeginOwnCall();
  const bool flushed = tcflush(fd, TCIFLUSH) == 0;
  EndOwnCall(before);
  return flushed;
}

}  // namespace

bool MoreIsComing(const unsigned char* bytes, size_t count, size_t room) {
  if (count >= room) {
    return true;
  }
  size_t keys = 0;
  for (size_t at = 0; at < count; ++keys) {
    const size_t length = KeyLength(bytes + at, count - at);
    if (length == 0 || keys == 1) {
      return true;
    }
    at += length;
  }
  return false;
}

bool DiscardInput(int fd, bool may_read) {
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  unsigned char bytes[64];
  const ssize_t count = may_read ? ReadPending(fd, bytes, sizeof bytes) : 0;
  const bool flushed = Flush(fd);
  if (count <= 0 || !MoreIsComing(bytes, static_cast<size_t>(count), sizeof bytes)) {
    return flushed;
  }
  // Until a whole poll interval passes without input. A stop or the
  // background (the wait modes no longer the program's) ends it too.
  for (long left = BurstLimitMs; left > 0 && HoldsTerminal();
       left = BurstLimitMs - MillisecondsSince(start)) {
    pollfd watch{fd, POLLIN, 0};
    const long interval = static_cast<long>(PollInterval);  // long is 32 bits on armhf
    const int ready = poll(&watch, 1, static_cast<int>(left < interval ? left : interval));
    if (ready == 0 || (ready > 0 && watch.revents != POLLIN)) {
      break;  // quiet, or hung up
    }
    if (ready > 0) {
      Flush(fd);
    }
  }
  return flushed;
}

}  // namespace anykey
