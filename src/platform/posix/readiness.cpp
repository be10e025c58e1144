// poll, and select where poll refuses a descriptor that is open: some
// systems' poll does not support terminals and answers POLLNVAL for them.
#include "platform/posix/readiness.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>

namespace anykey {

int Readiness(int fd, short events, int timeout_ms) {
  pollfd watch{fd, events, 0};
  const int ready = poll(&watch, 1, timeout_ms);
  // select cannot name a descriptor at or above FD_SETSIZE; a closed one is
  // refused by both.
  if (ready <= 0 || watch.revents != POLLNVAL || fd >= FD_SETSIZE || fcntl(fd, F_GETFD) == -1) {
    return ready <= 0 ? ready : watch.revents;
  }
  fd_set readable;
  fd_set writable;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  if ((events & POLLIN) != 0) {
    FD_SET(fd, &readable);
  }
  if ((events & POLLOUT) != 0) {
    FD_SET(fd, &writable);
  }
  timeval limit{timeout_ms / 1000, static_cast<suseconds_t>(timeout_ms % 1000) * 1000};
  const int selected =
      select(fd + 1, &readable, &writable, nullptr, timeout_ms < 0 ? nullptr : &limit);
  if (selected <= 0) {
    return selected;
  }
  return (FD_ISSET(fd, &readable) ? POLLIN : 0) | (FD_ISSET(fd, &writable) ? POLLOUT : 0);
}

}  // namespace anykey
