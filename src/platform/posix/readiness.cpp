// poll, and select where poll refuses a descriptor that is open: some
// systems' poll does not support terminals and answers POLLNVAL for them.
#include "platform/posix/readiness.h"

#include <poll.h>
#include <sys/select.h>

namespace anykey {

int Readiness(int fd, short events, int timeout_ms) {
  pollfd watch{fd, events, 0};
  const int ready = poll(&watch, 1, timeout_ms);
  // select cannot name a descriptor at or above FD_SETSIZE. One that is
  // closed fails select too (-1).
  if (ready <= 0 || watch.revents != POLLNVAL || fd >= FD_SETSIZE) {
    return ready <= 0 ? ready : watch.revents;
  }
  // One direction is asked at a time: input, or room for output.
  const bool output = (events & POLLOUT) != 0;
  fd_set set;
  FD_ZERO(&set);
  // The C libraries' FD_SET converts the descriptor to their own types,
  // differently on each (glibc, musl; 32 and 64 bits).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-conversion"
  FD_SET(fd, &set);
#pragma GCC diagnostic pop
  timeval limit{0, static_cast<suseconds_t>(timeout_ms) * 1000};
  const int selected = select(fd + 1, output ? nullptr : &set, output ? &set : nullptr, nullptr,
                              timeout_ms < 0 ? nullptr : &limit);
  return selected <= 0 ? selected : output ? POLLOUT : POLLIN;
}

}  // namespace anykey
