# The checks, run by the machine's init from the host's share: the programs
# are copied to the machine's own disk and run from there; the verdicts go to
# the console.
export HOME=/root WINEPREFIX=/root/.wine XDG_RUNTIME_DIR=/tmp PATH=/usr/bin:/bin
# Wine's own messages about a program stay; of its debug channels, only
# the loader's errors. No debugger on a crash: the crash's own exit code,
# at once, says more than a debugger that looks for a display.
export WINEDEBUG=-all,err+module WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
mkdir -p /tmp/run
cp /mnt/host/*.exe /tmp/run/
echo "loader.run: $(wine --version), $(uname -m) kernel $(uname -r)"
# One server and one set of Wine's own services for every run, as in a
# desktop session, rather than a start-up for each.
wineserver -p
/mnt/host/loader_guest_checks /usr/bin/wine /tmp/run
wineserver -k
