#!/usr/bin/env python3
"""Starts quaylink --console on a pty line, waits until it is READY, lets it
sit idle, and samples its resident set size five times."""
import os
import re
import subprocess
import sys
import tempfile
import time

TARGET_KB = 5 * 1024


def vm(pid, key):
    with open(f"/proc/{pid}/status") as f:
        match = re.search(rf"^{key}:\s+(\d+) kB", f.read(), re.M)
    return int(match.group(1)) if match else -1


def main():
    program = sys.argv[1]
    libs = subprocess.run(["readelf", "-d", program], capture_output=True, text=True).stdout
    print("linked: " + " ".join(re.findall(r"\(NEEDED\).*\[(.*)\]", libs)))
    master, slave = os.openpty()
    with tempfile.TemporaryDirectory() as work:
        ini = os.path.join(work, "idle.ini")
        with open(ini, "w") as f:
            f.write(f"[setup]\r\nconnect=direct\r\ncommport={os.ttyname(slave)}\r\n"
                    f"workdir={work}\r\n")
        server = subprocess.Popen([program, "--console", "-I" + ini], cwd=work,
                                  stdout=subprocess.PIPE, text=True)
        try:
            for line in server.stdout:
                if "STATUS: READY" in line:
                    break
            # Keep reading so that the pipe never fills.
            subprocess.Popen(["cat"], stdin=server.stdout, stdout=subprocess.DEVNULL)
            time.sleep(2)
            samples = []
            for _ in range(5):
                samples.append(vm(server.pid, "VmRSS"))
                time.sleep(1)
            hwm = vm(server.pid, "VmHWM")
        finally:
            server.terminate()
            server.wait(timeout=30)
    samples.sort()
    median = samples[len(samples) // 2]
    verdict = "met" if median < TARGET_KB else "NOT met"
    print(f"idle console server RSS: median {median} kB of {samples}, peak {hwm} kB; "
          f"target < {TARGET_KB} kB: {verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
