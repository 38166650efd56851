#!/usr/bin/env python3
"""A RECV and a SEND through the whole console server (termsim on the other
end of a socat pty pair), with the status and metrics files on and with
statusfile=off: the median wall time of each, and the median CPU time the
server used for it. Over a pty every block waits for the other programs to
be scheduled, so on a busy machine the wall times scatter far more than
1 %; the server's CPU time does not depend on the load."""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def wait_for(path, seconds=20):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise RuntimeError(f"no {path}")
        time.sleep(0.05)


def start_line(bindir, root, name, status_on):
    work = os.path.join(root, name)
    os.mkdir(work)
    server_end, terminal_end = os.path.join(root, name + ".a"), os.path.join(root, name + ".b")
    socat = subprocess.Popen(["socat", f"pty,link={server_end},raw,echo=0",
                              f"pty,link={terminal_end},raw,echo=0"])
    wait_for(server_end)
    wait_for(terminal_end)
    extra = f"metricsfile={work}/line.prom\r\n" if status_on else "statusfile=off\r\n"
    ini = os.path.join(root, name + ".ini")
    with open(ini, "w") as f:
        f.write(f"[setup]\r\nconnect=direct\r\nbaudrate=115200\r\ninterchardelay=50\r\n"
                f"commport={server_end}\r\nworkdir={work}\r\n{extra}")
    server = subprocess.Popen([bindir + "/quaylink", "--console", "-I" + ini], cwd=work,
                              stdout=subprocess.PIPE, text=True)
    for line in server.stdout:
        if "STATUS: READY" in line:
            break
    subprocess.Popen(["cat"], stdin=server.stdout, stdout=subprocess.DEVNULL)
    return work, terminal_end, server.pid, [server, socat]


def cpu_ms(pid):
    """CPU time of all the server's threads so far, from the scheduler's
    nanosecond counts (the tick counts of /proc/PID/stat are too coarse)."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # a thread that just ended
    return total / 1e6


def timed_termsim(bindir, device, action, server_pid):
    before = cpu_ms(server_pid)
    start = time.perf_counter()
    done = subprocess.run([bindir + "/termsim", "-b", "115200", "-x", device, action],
                          capture_output=True, text=True)
    elapsed = (time.perf_counter() - start) * 1000
    if done.returncode != 0:
        raise RuntimeError(f"termsim {action}: {done.stdout}{done.stderr}")
    return elapsed, cpu_ms(server_pid) - before


def main():
    bindir, size, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    with tempfile.TemporaryDirectory() as root:
        payload = os.path.join(root, "PAYLOAD.DAT")
        with open(payload, "wb") as f:
            f.write(os.urandom(size))
        lines, procs = {}, []
        try:
            for name, on in (("on", True), ("off", False)):
                work, device, pid, started = start_line(bindir, root, name, on)
                os.link(payload, os.path.join(work, "BIG.DAT"))
                lines[name] = (work, device, pid)
                procs += started
            times = {(n, d): [] for n in lines for d in ("recv", "send")}
            # Interleaved, each taking the lead in turn, so that a change in
            # the machine's load hits both.
            for run in range(runs):
                order = ["on", "off"] if run % 2 == 0 else ["off", "on"]
                for name in order:
                    work, device, pid = lines[name]
                    times[(name, "recv")].append(timed_termsim(
                        bindir, device, f":recv BIG.DAT {root}/got-{name}.dat", pid))
                    times[(name, "send")].append(timed_termsim(
                        bindir, device, f":send {payload} UP.DAT", pid))
            if not os.path.exists(os.path.join(lines["on"][0], "quaylink.status")):
                print("the status file was not written", file=sys.stderr)
                return 1
        finally:
            for p in procs:
                p.terminate()
                p.wait(timeout=30)
    print(f"transfer through the server, {size} bytes, median of {runs} runs each:")
    for way in ("recv", "send"):
        for what, i in (("wall", 0), ("server CPU", 1)):
            on = statistics.median(t[i] for t in times[("on", way)])
            off = statistics.median(t[i] for t in times[("off", way)])
            print(f"  {way} {what}: status on {on:.1f} ms, off {off:.1f} ms, "
                  f"difference {100 * (on - off) / off:+.2f} % (target <= +1 %)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
