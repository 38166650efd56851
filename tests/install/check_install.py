#!/usr/bin/env python3
"""Stages the install of a build (DESTDIR) component by component and checks
what an installed copy must be: the file list of each package, the console
server free of window libraries, --version and --help of every program
(the options of --help in the manual pages), the window
modules found in their private folder, and the installed console server
serving a terminal (the installed termsim) over a pseudo-terminal."""
import argparse
import gzip
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINDOW_LIBS = re.compile(r"libQt|libX|libxcb|libGL|libEGL|libOpenGL|libwayland|libxkb")
failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def stage(args, root, component):
    env = dict(os.environ, DESTDIR=root)
    subprocess.run([args.cmake, "--install", args.build, "--component", component],
                   env=env, check=True, stdout=subprocess.DEVNULL)


def files_below(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add("/" + os.path.relpath(os.path.join(folder, name), root))
    return found


def check_file_list(component, found, expected, allowed_dirs):
    for path in sorted(expected - found):
        fail(f"{component}: {path} is not installed")
    for path in sorted(found):
        if not any(path.startswith(d + "/") for d in allowed_dirs):
            fail(f"{component}: {path} is outside the package's folders")


def needed_libraries(program):
    out = subprocess.run(["readelf", "-d", program], capture_output=True, text=True, check=True)
    return re.findall(r"\(NEEDED\).*\[(.*)\]", out.stdout)


def output_of(words, **kw):
    done = subprocess.run(words, capture_output=True, text=True, timeout=60, **kw)
    return done.returncode, done.stdout + done.stderr


def wait_for_mapping(proc, part, seconds):
    """True once the running process has a file containing part mapped."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and proc.poll() is None:
        try:
            with open(f"/proc/{proc.pid}/maps") as maps:
                if part in maps.read():
                    return True
        except OSError:
            pass
        time.sleep(0.2)
    return False


def stop(proc):
    if proc.poll() is None:
        proc.kill()
    proc.wait()


def check_versions(bindir, has_gui):
    wanted = {"quaylink": "Quaylink V2.28", "rowsmith": "Rowsmith V1.01", "termsim": ""}
    if has_gui:
        wanted["formwright"] = "Formwright Setup V2.02"
    for program, title in wanted.items():
        rc, text = output_of([os.path.join(bindir, program), "--version"])
        first = f"{program} (quaylink suite) {args.version}"
        if rc != 0 or not text.startswith(first) or title not in text:
            fail(f"{program} --version gave {rc}: {text!r}")


def check_help(bindir, mandir, has_gui):
    """--help of every program prints its usage and ends with 0, without a
    display and without opening a window, and the program's installed manual
    page lists every option the usage names."""
    programs = ["quaylink", "rowsmith", "termsim"] + (["formwright"] if has_gui else [])
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    for program in programs:
        rc, text = output_of([os.path.join(bindir, program), "--help"], env=env)
        if rc != 0 or "Usage:" not in text:
            fail(f"{program} --help gave {rc}: {text!r}")
            continue
        with gzip.open(os.path.join(mandir, "man1", program + ".1.gz"), "rt") as f:
            page = f.read().replace("\\-", "-")
        for option in sorted(set(re.findall(r"(?<![\w-])(--?[A-Za-z][\w-]*)", text))):
            if option not in page:
                fail(f"{program}.1 does not list the option {option} of --help")


def check_console_serves(root, bindir, work, launcher=(), what="installed server"):
    """The installed quaylink --console serves LINEBID and LINESTOP sent by the
    installed termsim over a pty pair, then ends by itself. launcher: words
    put before the server's command line (systemd-run and its properties)."""
    master, slave = os.openpty()
    settings = os.path.join(work, "cradle.ini")
    with open(settings, "w") as f:
        f.write(f"[setup]\r\nconnect=direct\r\ncommport={os.ttyname(slave)}\r\n"
                f"baudrate=57600\r\nworkdir={work}\r\nlogfile=CREATE\r\n")
    server = subprocess.Popen(list(launcher) +
                              [os.path.join(bindir, "quaylink"), "--console", "-I" + settings],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=work,
                              text=True)
    try:
        rc, text = output_of([os.path.join(bindir, "termsim"), "-t", "30000", "--fd",
                              str(master), "LINEBID", ":expect 0", "LINESTOP"],
                             pass_fds=[master])
        if rc != 0:
            fail(f"installed termsim against the {what}: {rc}\n{text}")
        try:
            server.wait(timeout=60)
        except subprocess.TimeoutExpired:
            fail(f"the {what} did not end after LINESTOP")
    finally:
        stop(server)
        os.close(master)
        os.close(slave)
    out = server.stdout.read()
    if server.returncode != 0 or "STATUS: READY" not in out:
        fail(f"the {what} ended with {server.returncode}:\n{out}")
    if not os.path.exists(os.path.join(work, "quaylink.log")):
        fail("the log did not go to the working directory")


MAX_EXPOSURE = 2.5


def check_unit_security(unit):
    """systemd-analyze security --offline=yes rates the installed unit (as an
    instance) at most MAX_EXPOSURE."""
    if shutil.which("systemd-analyze") is None:
        print("SKIP: unit security rating: systemd-analyze not found")
        return
    folder = tempfile.mkdtemp(prefix="ql-unit-")
    try:
        shutil.copy(unit, os.path.join(folder, "quaylink@.service"))
        os.symlink("quaylink@.service", os.path.join(folder, "quaylink@cradle1.service"))
        rc, text = output_of(["systemd-analyze", "security", "--offline=yes", "--no-pager",
                              "quaylink@cradle1.service"], cwd=folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    found = re.search(r"Overall exposure level for quaylink@cradle1\.service: ([0-9.]+)", text)
    if not found:
        fail(f"systemd-analyze security gave no rating ({rc}):\n{text}")
        return
    level = float(found.group(1))
    print(f"unit exposure level: {level}")
    if level > MAX_EXPOSURE:
        fail(f"unit exposure level {level} is above {MAX_EXPOSURE}:\n{text}")


# Settings of the unit's [Service] section that confine the process; the
# rest (user, folders, restart, logging) belongs to the installed service.
SANDBOX_KEYS = re.compile(r"^(NoNewPrivileges|Protect\w+|PrivateDevices|PrivateMounts|"
                          r"PrivateNetwork|PrivateUsers|Restrict\w+|SystemCall\w+|"
                          r"MemoryDenyWriteExecute|LockPersonality|CapabilityBoundingSet|"
                          r"AmbientCapabilities|UMask|DevicePolicy|DeviceAllow|RemoveIPC|"
                          r"ProcSubset)=")


def unit_sandbox(unit):
    with open(unit) as f:
        lines = [line.strip() for line in f]
    return [line for line in lines if SANDBOX_KEYS.match(line)]


def check_console_serves_under_unit(unit, root, bindir, work):
    """The installed server serves a termsim session with the unit's sandbox
    settings, run as a transient service by systemd."""
    if not os.path.isdir("/run/systemd/system") or shutil.which("systemd-run") is None:
        with open("/proc/1/comm") as f:
            init = f.read().strip()
        print(f"SKIP: session under the unit's sandbox: systemd is not the service manager "
              f"here (PID 1 is {init}), so it cannot run the server as a service")
        return
    properties = []
    for line in unit_sandbox(unit):
        properties += ["-p", line]
    # The test line is a pseudo-terminal, and the staged copy and its
    # working folder live in the test's temporary folder, which the unit's
    # ProtectSystem=strict would make read-only.
    properties += ["-p", "DeviceAllow=char-pts rw", "-p", f"ReadWritePaths={work}"]
    launcher = ["systemd-run", "--quiet", "--wait", "--pipe", "--collect",
                f"--working-directory={work}"] + properties
    check_console_serves(root, bindir, work, launcher, "installed server under the unit")


def check_window_module(bindir, modules, work, program, words, module, must_load):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    proc = subprocess.Popen([os.path.join(bindir, program)] + words, cwd=work, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        if must_load:
            if not wait_for_mapping(proc, os.path.join(modules, module), 60):
                fail(f"{program} did not load {module} from {modules}")
        else:
            proc.wait(timeout=60)
            out = proc.stdout.read()
            if proc.returncode == 0 or "not available" not in out:
                fail(f"{program} without its window module: {proc.returncode} {out!r}")
    finally:
        stop(proc)


def main():
    global args
    p = argparse.ArgumentParser()
    for name in ("build", "cmake", "version", "bindir", "moduledir", "etcdir", "unitdir",
                 "mandir", "docdir"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--gui", type=int, default=1)
    args = p.parse_args()

    top = tempfile.mkdtemp(prefix="ql-install-")
    try:
        core_root, both_root = os.path.join(top, "core"), os.path.join(top, "both")
        stage(args, core_root, "core")
        core = files_below(core_root)
        doc = args.docdir + "/quaylink"
        overrides = os.path.dirname(args.docdir) + "/lintian/overrides"
        check_file_list("core", core, {
            args.bindir + "/quaylink", args.bindir + "/rowsmith", args.bindir + "/termsim",
            args.bindir + "/quaylink-status", args.mandir + "/man1/quaylink-status.1.gz",
            doc + "/monitoring.md", doc + "/examples/quaylink-grafana.json",
            args.unitdir + "/quaylink@.service", args.etcdir + "/quaylink/example.ini",
            args.mandir + "/man1/quaylink.1.gz", args.mandir + "/man1/rowsmith.1.gz",
            args.mandir + "/man1/termsim.1.gz", args.mandir + "/man5/quaylink.ini.5.gz",
            doc + "/README.md", doc + "/service.md", doc + "/copyright", doc + "/changelog.gz",
            doc + "/examples/70-quaylink-cradles.rules", doc + "/examples/example.ini",
            overrides + "/quaylink"},
            [args.bindir, args.unitdir, args.etcdir + "/quaylink", args.mandir, doc, overrides])
        for path in core:
            if path.startswith(args.bindir + "/") and os.path.basename(path) not in (
                    "quaylink", "quaylink-status", "rowsmith", "termsim"):
                fail(f"core: unexpected program {path}")

        bindir = core_root + args.bindir
        for program in ("quaylink", "quaylink-status", "rowsmith", "termsim"):
            bad = [lib for lib in needed_libraries(os.path.join(bindir, program))
                   if WINDOW_LIBS.search(lib)]
            if bad:
                fail(f"{program} needs window libraries: {bad}")
        check_versions(bindir, False)
        check_help(bindir, core_root + args.mandir, False)

        work = os.path.join(top, "work")
        os.mkdir(work)
        check_console_serves(core_root, bindir, work)
        unit = core_root + args.unitdir + "/quaylink@.service"
        check_unit_security(unit)
        check_console_serves_under_unit(unit, core_root, bindir, work)
        check_window_module(bindir, core_root + args.moduledir, work, "quaylink",
                            ["-I" + os.path.join(work, "w.ini")], "quaylink_window.so", False)

        if args.gui:
            gui_root = os.path.join(top, "gui")
            stage(args, gui_root, "gui")
            gui = files_below(gui_root)
            gdoc = args.docdir + "/quaylink-gui"
            check_file_list("gui", gui, {
                args.bindir + "/formwright", args.moduledir + "/quaylink_window.so",
                args.moduledir + "/rowsmith_window.so", args.mandir + "/man1/formwright.1.gz",
                gdoc + "/copyright", gdoc + "/changelog.gz"},
                [args.bindir, args.moduledir, args.mandir, gdoc])
            overlap = core & gui
            if overlap:
                fail(f"files in both packages: {sorted(overlap)}")

            # Both packages in one root: the programs find their window modules.
            shutil.copytree(core_root, both_root, symlinks=True)
            shutil.copytree(gui_root, both_root, symlinks=True, dirs_exist_ok=True)
            both_bin, modules = both_root + args.bindir, both_root + args.moduledir
            check_versions(both_bin, True)
            check_help(both_bin, both_root + args.mandir, True)
            check_window_module(both_bin, modules, work, "quaylink",
                                ["-I" + os.path.join(work, "w.ini")], "quaylink_window.so", True)
            check_window_module(both_bin, modules, work, "rowsmith", ["-D"],
                                "rowsmith_window.so", True)
    finally:
        shutil.rmtree(top, ignore_errors=True)

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("install checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
