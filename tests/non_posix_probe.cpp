// A program with one call that POSIX does not define: the import check must
// reject it.
#include <sys/random.h>

int main() {
  char byte = 0;
  return static_cast<int>(getrandom(&byte, 1, 0));
}
