// The baseline that the image's processor use under Wine is judged beside:
// the same prompt, then nothing but the 10 ms sleeps of its poll loop.
#include <windows.h>

int main() {
  const char prompt[] = "Press any key to end polling\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), prompt, sizeof prompt - 1, &written, nullptr);
  for (;;) Sleep(10);
}
