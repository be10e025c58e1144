// The baseline for the wait's processor use: nothing but 10 ms sleeps.
#include <ctime>

int main() {
  const timespec interval{0, 10000000L};
  for (;;) nanosleep(&interval, nullptr);
}
