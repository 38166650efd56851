#!/usr/bin/env python3
"""32 idle console servers with status and metrics files: the time
quaylink-status takes to read them, and the CPU the servers use meanwhile."""
import json
import os
import subprocess
import sys
import tempfile
import time

LINES = 32
TARGET_MS = 100.0


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def statuses(status_bin, root):
    out = subprocess.run([status_bin, "--json", root], capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    bindir = sys.argv[1]
    program, status_bin = bindir + "/quaylink", bindir + "/quaylink-status"
    servers, ptys = [], []
    with tempfile.TemporaryDirectory() as root:
        lines_dir = os.path.join(root, "lines")
        os.mkdir(lines_dir)
        try:
            for n in range(LINES):
                master, slave = os.openpty()
                ptys += [master, slave]
                work = os.path.join(lines_dir, f"cradle{n:02d}")
                os.mkdir(work)
                ini = os.path.join(root, f"cradle{n:02d}.ini")
                with open(ini, "w") as f:
                    f.write(f"[setup]\r\nconnect=direct\r\ncommport={os.ttyname(slave)}\r\n"
                            f"workdir={work}\r\nmetricsfile={root}/cradle{n:02d}.prom\r\n")
                servers.append(subprocess.Popen([program, "--console", "-I" + ini], cwd=work,
                                                stdout=subprocess.DEVNULL))
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                got = statuses(status_bin, lines_dir)
                if len(got) == LINES and all(s["shown_state"] == "READY" for s in got):
                    break
                time.sleep(0.2)
            else:
                print("not every line became READY", file=sys.stderr)
                return 1

            # Wall time from start to end of the program, and the CPU time it
            # used: on a loaded machine the first includes waiting for a core.
            times, cpu = [], []
            for _ in range(15):
                start = time.perf_counter()
                proc = subprocess.Popen([status_bin, lines_dir], stdout=subprocess.DEVNULL)
                _, status, usage = os.wait4(proc.pid, 0)
                proc.returncode = os.waitstatus_to_exitcode(status)
                times.append((time.perf_counter() - start) * 1000)
                cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
                if proc.returncode != 0:
                    print(f"quaylink-status said a line is down ({proc.returncode})",
                          file=sys.stderr)
            times.sort()
            cpu.sort()
            median = times[len(times) // 2]
            verdict = "met" if median < TARGET_MS else "NOT met"
            print(f"quaylink-status, {LINES} lines: median {median:.1f} ms, "
                  f"fastest {times[0]:.1f} ms, slowest {times[-1]:.1f} ms (program start "
                  f"included), CPU median {cpu[len(cpu) // 2]:.1f} ms; "
                  f"target < {TARGET_MS:.0f} ms: {verdict}")

            files = [os.path.join(lines_dir, f"cradle{n:02d}", "quaylink.status")
                     for n in range(LINES)]
            files += [os.path.join(root, f"cradle{n:02d}.prom") for n in range(LINES)]
            stamps = [os.stat(p).st_mtime_ns for p in files]
            before = [cpu_ticks(s.pid) for s in servers]
            time.sleep(10)
            used = [cpu_ticks(s.pid) - b for s, b in zip(servers, before)]
            rewritten = sum(os.stat(p).st_mtime_ns != t for p, t in zip(files, stamps))
            tick_ms = 1000 / os.sysconf("SC_CLK_TCK")
            print(f"idle over 10 s, {LINES} servers: {sum(used) * tick_ms:.0f} ms CPU in all "
                  f"(most {max(used) * tick_ms:.0f} ms one server); status or metrics files "
                  f"rewritten: {rewritten} (target 0)")
        finally:
            for s in servers:
                s.terminate()
            for s in servers:
                s.wait(timeout=30)
            for fd in ptys:
                os.close(fd)
        ended = sum(s["state"] == "ENDED" for s in statuses(status_bin, lines_dir))
        print(f"after SIGTERM: {ended} of {LINES} status files say ENDED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
