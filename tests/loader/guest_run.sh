# The checks, run by the machine's init from the host's share: the programs
# are copied to the machine's own disk, run from there, and the verdicts go
# back to the share.
export HOME=/root WINEPREFIX=/root/.wine XDG_RUNTIME_DIR=/tmp PATH=/usr/bin:/bin
export WINEDEBUG=fixme-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p /tmp/run
cp /mnt/host/console_driver.exe /mnt/host/anykey.exe /mnt/host/sleep_loop.exe /tmp/run/
echo "loader.run: $(wine --version), $(uname -m) kernel $(uname -r)"
/mnt/host/guest_checks /usr/bin/wine /tmp/run /tmp/run/verdicts.txt
cp /tmp/run/verdicts.txt /mnt/host/verdicts.txt
wineserver -k
