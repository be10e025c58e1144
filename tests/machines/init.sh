#!/bin/busybox sh
# PID 1 of the emulated machine: the terminal suite against each executable,
# its verdicts on the console, then power off. The kernel hands the words of
# its command line it does not know to init's environment: PROCESSOR, what
# uname must say, and CASES, how many cases the filter picks. It finds no
# /dev/console in the initramfs, so the console is taken once devtmpfs is there.
/bin/busybox mkdir -p /proc /sys /dev /tmp
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
echo "machine: $(uname -m), kernel $(uname -r)"
echo "cases 3"
if [ "$(uname -m)" = "$PROCESSOR" ]; then echo "PASS processor: $PROCESSOR"
else echo "FAIL processor: the suite did not run on an $PROCESSOR processor"; fi
# Rows that need a shell of the machine's own, unshare or valgrind are
# left out: this machine has busybox alone. The suite runs /anykey.
cd /tmp
for build in static packaged; do
  cp /anykey.$build /anykey
  { TEST_TMPDIR=/tmp/ /guest_suite --gtest_color=no \
    --gtest_filter='Terminal.*:-Terminal.KeepsItsPromisesUnderInteractiveShells:Terminal.AllocatesNoHeapMemory:Terminal.BehavesInABareRoot'
    echo $? >status; } | tee suite.txt
  if [ "$(cat status)" != 0 ]; then
    echo "FAIL $build executable: the suite did not end with status 0 but $(cat status)"
  elif ! grep -qE "^\[==========\] $CASES tests? from .* ran" suite.txt; then
    echo "FAIL $build executable: not $CASES cases ran"
  else echo "PASS $build executable: the suite's $CASES cases"; fi
done
poweroff -f
