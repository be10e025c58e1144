// Preloaded into the program: poll answers POLLNVAL at once for every
// descriptor that is a terminal, as a system whose poll does not support
// devices does, and looks at the others without waiting then.
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace {

template <typename Call>
int Refuse(pollfd* fds, nfds_t count, Call look) {
  const int saved_errno = errno;
  bool terminal = false;
  for (nfds_t i = 0; i < count; ++i) terminal = terminal || (fds[i].fd >= 0 && isatty(fds[i].fd));
  errno = saved_errno;
  if (!terminal) return look(false);
  int ready = look(true);
  if (ready < 0) return ready;
  ready = 0;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].fd >= 0 && isatty(fds[i].fd)) fds[i].revents = POLLNVAL;
    ready += fds[i].revents != 0 ? 1 : 0;
  }
  errno = saved_errno;
  return ready;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  static const auto next = Next<int (*)(pollfd*, nfds_t, int)>("poll");
  return Refuse(fds, count, [&](bool at_once) { return next(fds, count, at_once ? 0 : timeout); });
}

extern "C" int __poll_chk(pollfd* fds, nfds_t count, int timeout, size_t /*room*/) {
  return poll(fds, count, timeout);
}

extern "C" int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
  static const auto next =
      Next<int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*)>("ppoll");
  const timespec now{};
  return Refuse(fds, count,
                [&](bool at_once) { return next(fds, count, at_once ? &now : timeout, mask); });
}
