// The baseline that the image's processor use under Wine is judged beside:
// the same prompt, then nothing but the 10 ms sleeps of its poll loop. Built
// with SPIN, the image's poll loop gone wrong, that the check must catch:
// a key check after each Sleep(0).
#include <conio.h>
#include <windows.h>

int main() {
  const char prompt[] = "Press any key to end polling\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), prompt, sizeof prompt - 1, &written, nullptr);
#ifdef SPIN
  while (!_kbhit()) Sleep(0);
#else
  for (;;) Sleep(10);
#endif
}
