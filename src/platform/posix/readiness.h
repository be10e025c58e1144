// Whether a descriptor is ready, asked the same way everywhere: the key
// check, the discard and a write that would block.
#pragma once

namespace anykey {

// Waits up to timeout_ms (under a second; 0: only looks; negative: as long
// as it takes) for the events (POLLIN or POLLOUT, not both) on fd. The poll
// events that came, POLLHUP and POLLERR among them; 0 when the time ran
// out; -1 when the wait failed (a signal cut it short, a closed descriptor).
int Readiness(int fd, short events, int timeout_ms);

}  // namespace anykey
