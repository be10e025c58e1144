#!/usr/bin/env python3
"""Measures anykey beside a peer that blocks on the terminal and a bare loop
of 10 ms sleeps, all in one run on one machine, and checks each figure
against its budget. Prints one table; exits 1 when a budget does not hold.

    python3 bench/run.py [--runs N] [--rounds N] [--seconds S] [--copies N] [--no-build]
"""
import argparse, os, random, re, select, shutil, statistics, subprocess, sys, tempfile, termios, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
ANYKEY = os.path.join(BUILD, "anykey")
STATIC = os.path.join(BUILD, "static", "anykey")
PEER = ["/bin/bash", "-c", 'read -rsn1 -p "Press any key to end polling"']
PROMPT = b"Press any key to end polling"


class Pty:
    """One program on a fresh pseudo-terminal that is its controlling terminal."""

    def __init__(self, argv, stdout_to_terminal=True):
        self.master, self.slave = os.openpty()
        self.started = time.perf_counter()
        self.pid = os.fork()
        if self.pid == 0:
            os.setsid()
            import fcntl
            fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
            for fd in (0, 1, 2):
                os.dup2(self.slave, fd)
            os.closerange(3, 256)
            os.execv(argv[0], argv)
        self.pidfd = os.pidfd_open(self.pid)

    def first_output(self):
        select.select([self.master], [], [], 5)
        return time.perf_counter()

    def echo_off(self):
        deadline = time.time() + 5
        while termios.tcgetattr(self.slave)[3] & termios.ECHO:
            if time.time() > deadline:
                raise RuntimeError("never started waiting")
            time.sleep(0.001)

    def key_to_exit(self):
        """Sends a key and returns the seconds until the process has ended."""
        sent = time.perf_counter()
        os.write(self.master, b"k")
        select.select([self.pidfd], [], [], 5)
        ended = time.perf_counter()
        self.close()
        return ended - sent

    def close(self):
        try:
            os.kill(self.pid, 9)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)
        for fd in (self.master, self.slave, self.pidfd):
            os.close(fd)


def machine():
    with open("/proc/cpuinfo") as f:
        model = re.search(r"model name\s*:\s*(.+)", f.read())
    return "machine: %s, %d cores, Linux %s" % (
        model.group(1) if model else "?", os.cpu_count(), os.uname().release)


def cpu_and_switches(pid):
    with open(f"/proc/{pid}/schedstat") as f:
        cpu_ns = int(f.read().split()[0])
    with open(f"/proc/{pid}/status") as f:
        status = f.read()
    switches = sum(int(n) for n in re.findall(r"ctxt_switches:\s+(\d+)", status))
    return cpu_ns, switches


def vm_hwm_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def latency(argv):
    p = Pty(argv)
    p.echo_off()
    # A random moment, out of step with the 10 ms polling.
    time.sleep(0.02 + random.random() * 0.03)
    return p.key_to_exit() * 1000


def alternating(measures, rounds):
    """Runs each measure once per round, in turn, so that a busy spell on the
    machine falls on all of them alike; one list of results per measure."""
    results = [[] for _ in measures]
    for _ in range(rounds):
        for measure, out in zip(measures, results):
            out.append(measure())
    return results


def waiting_together(argvs, seconds):
    """Processor milliseconds, wake-ups per second and peak memory of each
    program over one window in which all of them wait."""
    ptys = [Pty(argv) for argv in argvs]
    for p, argv in zip(ptys, argvs):
        if argv[0] == ANYKEY:
            p.echo_off()
    time.sleep(0.3)
    before = [cpu_and_switches(p.pid) for p in ptys]
    time.sleep(seconds)
    after = [cpu_and_switches(p.pid) for p in ptys]
    out = [((a[0] - b[0]) / 1e6, (a[1] - b[1]) / seconds, vm_hwm_kib(p.pid))
           for p, b, a in zip(ptys, before, after)]
    for p in ptys:
        p.close()
    return out


def waiting_cost(argv, seconds):
    p = Pty(argv)
    if argv[0] == ANYKEY:
        p.echo_off()
    time.sleep(0.3)
    cpu0, sw0 = cpu_and_switches(p.pid)
    time.sleep(seconds)
    cpu1, sw1 = cpu_and_switches(p.pid)
    hwm = vm_hwm_kib(p.pid)
    p.close()
    return (cpu1 - cpu0) / 1e6, (sw1 - sw0) / seconds, hwm


def calls_per_wakeup(seconds):
    """System calls per wake-up over a few seconds of waiting, counted by
    strace (which slows the calls, not their number). The wake-ups are the
    pauses: the calls that wait 10 ms."""
    if not shutil.which("strace"):
        return None
    p = Pty([ANYKEY])
    p.echo_off()
    time.sleep(0.3)
    with tempfile.NamedTemporaryFile() as log:
        tracer = subprocess.Popen(["strace", "-qq", "-o", log.name, "-p", str(p.pid)])
        time.sleep(seconds)
        tracer.terminate()
        tracer.wait()
        calls = [line for line in open(log.name).read().splitlines()
                 if re.match(r"\w+\(", line)]
    p.close()
    pauses = [c for c in calls if re.match(
        r"(clock_)?nanosleep\(|poll\(.*, 10\)|p?select6?\(.*tv_(usec=10000|nsec=10000000)\b", c)]
    return len(calls), len(pauses)


def time_to_prompt(argv, runs):
    out = []
    for _ in range(runs):
        p = Pty(argv)
        out.append((p.first_output() - p.started) * 1000)
        p.close()
    return out


def heap_allocations():
    if not shutil.which("valgrind"):
        return None
    with tempfile.NamedTemporaryFile() as log:
        p = Pty(["/usr/bin/valgrind", "--tool=memcheck", f"--log-file={log.name}", ANYKEY])
        deadline = time.time() + 30
        while termios.tcgetattr(p.slave)[3] & termios.ECHO and time.time() < deadline:
            time.sleep(0.01)
        os.write(p.master, b"k")
        select.select([p.pidfd], [], [], 30)
        p.close()
        text = open(log.name).read()
    found = re.search(r"total heap usage: ([\d,]+) allocs", text)
    return int(found.group(1).replace(",", "")) if found else None


def stripped_size(path, strip="strip"):
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, "x")
        subprocess.run([strip, "-o", out, path], check=True)
        return os.path.getsize(out)


def progress(what):
    """What is being measured now, on stderr: a run is long, and quiet otherwise."""
    print("measuring " + what + " ...", file=sys.stderr, flush=True)


def main():
    parser = argparse.ArgumentParser()
    # 400: the median of a key that lands anywhere in a 10 ms pause moves by
    # about 0.25 ms from run to run, and the two builds are held within 1 ms.
    parser.add_argument("--runs", type=int, default=400, help="latency runs of each, interleaved")
    # 11: single rounds on a shared machine range from 0.7 to 1.5 times the
    # loop; the median of 7 still moved by 0.1 from run to run.
    parser.add_argument("--rounds", type=int, default=11, help="processor-time rounds")
    parser.add_argument("--seconds", type=float, default=3, help="length of one round")
    parser.add_argument("--copies", type=int, default=8, help="copies of each program in a round")
    parser.add_argument("--no-build", action="store_true")
    args = parser.parse_args()
    if not args.no_build:
        progress("nothing yet: building the bench preset")
        for step in (["cmake", "--preset", "bench"], ["cmake", "--build", "--preset", "bench"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)

    rows = []

    def row(figure, value, budget, holds):
        rows.append((figure, value, budget, "yes" if holds else "NO"))

    print(machine(), flush=True)
    progress("key to exit, %d runs of each" % args.runs)
    # The static executable pauses with another C library's nanosleep: after
    # a key it must sleep out only what is left of the pause, as the dynamic
    # one does.
    mine, static, peer = alternating(
        [lambda: latency([ANYKEY]), lambda: latency([STATIC]), lambda: latency(PEER)], args.runs)
    m = (statistics.median(mine), percentile(mine, 90), max(mine))
    s = (statistics.median(static), percentile(static, 90), max(static))
    b = (statistics.median(peer), percentile(peer, 90), max(peer))
    row("key to exit, median / p90 / max (ms)", "%.1f / %.1f / %.1f" % m,
        "<= peer's %.1f + 6 / %.1f + 11" % (b[0], b[1]), m[0] <= b[0] + 6 and m[1] <= b[1] + 11)
    row("  static executable, same", "%.1f / %.1f / %.1f" % s,
        "median within 1 of the above, <= peer's + 6", abs(s[0] - m[0]) <= 1 and s[0] <= b[0] + 6)
    row("  blocking peer (bash read), same", "%.1f / %.1f / %.1f" % b, "", True)

    # A few milliseconds of processor time over a round, and the cost of a
    # wake-up on a shared virtual machine varies from moment to moment: the
    # copies of both wait through the same window, which side starts first
    # alternates, and the verdict is the median of the per-round ratios.
    progress("processor time, %d rounds of %g s" % (args.rounds, args.seconds))
    loop_argv = [os.path.join(BUILD, "sleep_loop")]
    costs, loop_costs, ratios = [], [], []
    for turn in range(args.rounds):
        sides = [[ANYKEY], loop_argv] if turn % 2 == 0 else [loop_argv, [ANYKEY]]
        measured = waiting_together(sides * args.copies, args.seconds)
        mine = [m for m, argv in zip(measured, sides * args.copies) if argv[0] == ANYKEY]
        loop = [m for m, argv in zip(measured, sides * args.copies) if argv[0] != ANYKEY]
        costs += mine
        loop_costs += loop
        ratios.append(sum(m[0] for m in mine) / sum(m[0] for m in loop))
    ratio = statistics.median(ratios)
    row("processor time, %d rounds of %g s, %d copies each (ms per copy)"
        % (args.rounds, args.seconds, args.copies),
        "%.1f (loop %.1f)" % (statistics.median(c[0] for c in costs),
                              statistics.median(c[0] for c in loop_costs)), "", True)
    row("  ratio to the sleep loop, median (spread)",
        "%.2f (%.2f-%.2f)" % (ratio, min(ratios), max(ratios)), "<= 1.10", ratio <= 1.10)
    wakeups = max(c[1] for c in costs)
    row("wake-ups per second, most of any copy", "%.0f" % wakeups,
        "about 100, never more (loop: %.0f)" % max(c[1] for c in loop_costs), wakeups <= 105)
    progress("system calls per wake-up, under strace")
    counted = calls_per_wakeup(args.seconds)
    if counted is None:
        row("system calls per wake-up", "? (strace not found)", "<= 1.15", False)
    else:
        calls, pauses = counted
        row("system calls per wake-up (%d calls, %d pauses in %g s)" % (calls, pauses, args.seconds),
            "%.2f" % (calls / max(pauses, 1)), "<= 1.15", pauses > 0 and calls <= 1.15 * pauses)
    hwm = max(c[2] for c in costs)
    _, _, peer_hwm = waiting_cost(PEER, 1)

    progress("time to the prompt, heap and sizes")
    # One start of each in turn, as for the latency: a busy spell falls on both.
    prompt, printf = alternating(
        [lambda: time_to_prompt([ANYKEY], 1)[0],
         lambda: time_to_prompt(["/usr/bin/printf", "Press any key to end polling\r\n"], 1)[0]], 40)
    row("fork to prompt, median (ms)", "%.2f" % statistics.median(prompt),
        "<= 1.1 x printf's %.2f" % statistics.median(printf),
        statistics.median(prompt) <= 1.1 * statistics.median(printf))

    row("peak memory while waiting (KiB)", str(hwm), "<= half of bash's %d" % peer_hwm, hwm * 2 <= peer_hwm)

    allocs = heap_allocations()
    row("heap allocations in a whole run", "?" if allocs is None else str(allocs), "0", allocs == 0)

    sizes = [("POSIX", stripped_size(ANYKEY), 20480),
             ("32-bit Windows", os.path.getsize(os.path.join(BUILD, "win32", "anykey.exe")), 1024),
             ("64-bit Windows", os.path.getsize(os.path.join(BUILD, "win64", "anykey.exe")), 1536)]
    for name, size, budget in sizes:
        row("%s executable, stripped (bytes)" % name, str(size), "<= %d" % budget, size <= budget)

    widths = [max(len(r[i]) for r in rows + [("figure", "measured", "budget", "holds")]) for i in range(4)]
    for r in [("figure", "measured", "budget", "holds")] + rows:
        print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
    return 0 if all(r[3] == "yes" for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
