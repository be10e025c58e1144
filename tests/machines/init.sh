#!/bin/busybox sh
# PID 1 of the emulated machine: the terminal suite against each executable, then
# power off. The kernel finds no /dev/console in the initramfs, so the
# console is taken once devtmpfs is there.
/bin/busybox mkdir -p /proc /sys /dev /tmp
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
echo "machine: $(uname -m), kernel $(uname -r)"
# Rows that need a shell of the machine's own, unshare or valgrind are
# left out: this machine has busybox alone. The suite runs /anykey.
cd /tmp
for build in static packaged; do
  cp /anykey.$build /anykey
  TEST_TMPDIR=/tmp/ /guest_suite --gtest_color=no \
    --gtest_filter='Terminal.*:-Terminal.KeepsItsPromisesUnderInteractiveShells:Terminal.AllocatesNoHeapMemory:Terminal.BehavesInABareRoot'
  echo "guest suite, $build executable: status $?"
done
poweroff -f
