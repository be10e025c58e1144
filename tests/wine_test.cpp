// The 64-bit image in a real Windows console: Wine's, which it gives only to
// a program started on a terminal. The console driver does the work and
// writes its verdicts to a file; what Wine draws on the terminal is ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "pty_session.h"

namespace {

TEST(WindowsConsole, BehavesUnderWine) {
  const std::string prefix = std::string(WINE_WORK_DIR) + "/prefix";
  const std::string verdicts = std::string(WINE_WORK_DIR) + "/verdicts.txt";
  ASSERT_EQ(std::system(("rm -rf '" WINE_WORK_DIR "' && mkdir -p '" + prefix + "'").c_str()), 0);
  Launch launch;
  launch.argv = {WINE, CONSOLE_DRIVER, ANYKEY_EXE, verdicts};
  launch.env = {"PATH=/usr/bin:/bin", "HOME=" WINE_WORK_DIR, "WINEPREFIX=" + prefix,
                "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
  launch.out = Stdout::Terminal;
  PtySession session = Start(launch);
  const int status = Finish(session, 240);
  std::system(("WINEPREFIX='" + prefix + "' " WINESERVER " -k").c_str());
  ASSERT_NE(status, -1) << "the driver did not finish:\n" << session.screen;
  // A verdict for each of the cases the driver's first line announces.
  const std::string lines = ReadFile(verdicts);
  const int cases = lines.rfind("cases ", 0) == 0 ? std::atoi(lines.c_str() + 6) : 0;
  EXPECT_GT(cases, 0) << lines;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), cases + 1) << lines;
  EXPECT_EQ(lines.find("FAIL"), std::string::npos) << lines;
}

}  // namespace
