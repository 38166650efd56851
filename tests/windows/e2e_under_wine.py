#!/usr/bin/python3
"""The console server end to end: a terminal played over a serial line.

Starts `quaylink --console` (the Windows build under wine, or the Linux
build as it stands), links it to a socat pseudo-terminal pair, and plays the
terminal on the other end: command frames (STX, text, 8-bit sum), the ACK
handshake and the block transfers with lrzsz (sx and rx run on the pty),
DIR, COPY, APPEND, DELETE, CWD, the terminal's FTP commands against a
local pyftpdlib server (tests/support/ftp_server.py) on 127.0.0.1, and its
IPCOMM commands against relayd (--relayd) on 127.0.0.1. Every
reply and every file the steps produce is checked; LINESTOP ends the session
and the program must then end by itself with status 0. A second short run
checks that an interrupt (Ctrl+C) stops a server waiting on an idle line,
and a third that a server whose cable is pulled waits without spinning and
still stops on Ctrl+C.

    e2e_under_wine.py --server wine build-windows/bin/quaylink.exe
    e2e_under_wine.py --server build/bin/quaylink

With a server command whose first word is `wine` the line is a COM port:
$WINEPREFIX/dosdevices/comN (the first free N from 20 up) is linked to the
server's end of the pair and the settings name port N and Windows paths
(Z:\\...). Every wait has a deadline and the whole run is bounded by
--limit seconds; socat, the FTP server and the server are always ended.
Exit status: 0 when every step passed, 1 when a step failed, 2 on a bad
command line or a missing tool.
"""

import argparse
import json
import os
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

STX, ACK, NAK, CAN = 0x02, 0x06, 0x15, 0x18
HERE = os.path.dirname(os.path.abspath(__file__))
FTP_SERVER = os.path.join(HERE, '..', 'support', 'ftp_server.py')
PYTHON = '/usr/bin/python3'

# Limits. The machine is shared and a first wine start is slow.
START_S = 90     # until the server shows READY
STEP_S = 20      # one reply
TRANSFER_S = 60  # one block transfer
END_S = 30       # until the program has ended
QUIET_S = 0.2    # a reply is complete after this much silence


class StepFailed(Exception):
    pass


class RunOut(Exception):
    """The whole run took longer than its limit."""


def checksum8(data):
    return sum(data) & 0xFF


def command_frame(text):
    body = text.encode('latin-1')
    return bytes([STX]) + body + bytes([checksum8(body)])


class Reply:
    """One reply frame as read from the line."""

    def __init__(self, raw):
        self.raw = raw
        self.lead = raw[0] if raw else None
        self.status = ''
        self.text = ''
        self.checksum_ok = len(raw) == 1
        if len(raw) >= 3:
            self.status = chr(raw[1])
            self.text = raw[2:-1].decode('latin-1')
            self.checksum_ok = checksum8(raw[1:-1]) == raw[-1]

    def line(self):
        return self.status + self.text

    def __str__(self):
        if not self.raw:
            return '(no reply)'
        names = {STX: 'STX', ACK: 'ACK', NAK: 'NAK', CAN: 'CAN'}
        lead = names.get(self.lead, '0x%02x' % self.lead)
        if len(self.raw) == 1:
            return lead
        return '%s %r (checksum %s)' % (lead, self.line(), 'ok' if self.checksum_ok else 'BAD')


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self):
        return max(0.0, self.end - time.monotonic())

    def passed(self):
        return time.monotonic() >= self.end


def wait_until(predicate, seconds, pause=0.05):
    deadline = Deadline(seconds)
    while not deadline.passed():
        if predicate():
            return True
        time.sleep(pause)
    return predicate()


# ---------------------------------------------------------------------------
# The parts of the run: the line, the FTP server, the program under test.

def run_step(results, name, function, width):
    """Runs one step: PASS, or FAIL with the StepFailed's text; printed at
    once and kept in results as (name, outcome, detail)."""
    started = time.monotonic()
    try:
        function()
        outcome, detail = 'PASS', ''
    except StepFailed as failure:
        outcome, detail = 'FAIL', str(failure)
    results.append((name, outcome, detail))
    print('%-4s %-*s %5.1f s %s' % (outcome, width, name, time.monotonic() - started,
                                    detail.replace('\n', '\n' + ' ' * 6)), flush=True)
    return outcome == 'PASS'


def finish(results, folder, keep):
    """The run's last line and its exit status; the run folder is kept
    when asked to or when a step failed."""
    failed = [name for name, outcome, _ in results if outcome != 'PASS']
    print('%d steps, %d failed%s' % (len(results), len(failed),
                                     (': ' + ', '.join(failed)) if failed else ''), flush=True)
    if keep or failed:
        print('run folder kept: %s' % folder)
    else:
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if failed else 0


def check(condition, what):
    """One check of the installer and service runs: its first line is
    printed when it holds, StepFailed with the whole text when not."""
    if not condition:
        raise StepFailed(what)
    print('ok: ' + what.split('\n')[0])


def run_quietly(words, timeout):
    """Runs a command to its end: (exit status, its output and errors as
    text without carriage returns)."""
    proc = subprocess.run(words, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    return proc.returncode, (proc.stdout + proc.stderr).decode('latin-1').replace('\r', '')


def windows_path(linux_path):
    """A Linux path as wine's Windows programs name it (drive Z:)."""
    return 'Z:' + linux_path.replace('/', '\\')


def main_under_wine(script, folder_prefix, make_run):
    """The main of a script run by run-under-wine.sh: make_run(folder) gives
    an object whose run() checks and close() cleans up; PASS and 0, or FAIL
    with the reason and 1; 2 outside the launcher's prefix."""
    if not os.environ.get('WINEPREFIX'):
        print('%s runs inside tests/windows/run-under-wine.sh' % script, file=sys.stderr)
        return 2
    folder = tempfile.mkdtemp(prefix=folder_prefix)
    run_ = make_run(folder)
    try:
        run_.run()
        print('PASS')
        return 0
    except (StepFailed, subprocess.TimeoutExpired) as e:
        print('FAIL: %s' % e)
        return 1
    finally:
        run_.close()
        shutil.rmtree(folder, ignore_errors=True)


class Line:
    """A socat pty pair; the terminal's end is opened here."""

    def __init__(self, folder):
        self.server_end = os.path.join(folder, 'tty-server')
        self.terminal_end = os.path.join(folder, 'tty-terminal')
        self.log = open(os.path.join(folder, 'socat.log'), 'wb')
        self.proc = subprocess.Popen(
            ['socat', '-d', '-d', 'pty,raw,echo=0,link=' + self.server_end,
             'pty,raw,echo=0,link=' + self.terminal_end],
            stdout=subprocess.DEVNULL, stderr=self.log, start_new_session=True)
        self.fd = -1
        if not wait_until(lambda: os.path.exists(self.server_end) and
                          os.path.exists(self.terminal_end), 10):
            raise StepFailed('socat made no pty pair within 10 s')
        self.fd = os.open(self.terminal_end, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)

    def discard(self):
        termios.tcflush(self.fd, termios.TCIFLUSH)
        while select.select([self.fd], [], [], 0)[0]:
            if not os.read(self.fd, 4096):
                break

    def write(self, data):
        deadline = Deadline(STEP_S)
        while data:
            if not select.select([], [self.fd], [], deadline.left())[1]:
                raise StepFailed('the line takes no more bytes')
            data = data[os.write(self.fd, data):]

    def read_reply(self, seconds=STEP_S):
        """Bytes until QUIET_S of silence after the first, or b'' after seconds."""
        data = b''
        deadline = Deadline(seconds)
        while True:
            wait = QUIET_S if data else deadline.left()
            if not select.select([self.fd], [], [], wait)[0]:
                return data
            chunk = os.read(self.fd, 4096)
            if not chunk:
                return data
            data += chunk
            if len(data) > 4096:  # no reply is this long
                return data

    def close(self):
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1
        stop_process(self.proc, 'socat')
        self.log.close()


class FtpServer:
    """pyftpdlib with the copy commands, serving one folder on 127.0.0.1."""

    USER, PASSWORD = 'quay', 'link'

    def __init__(self, folder):
        self.home = os.path.join(folder, 'ftphome')
        os.mkdir(self.home)
        port_file = os.path.join(folder, 'ftp.port')
        self.commands = os.path.join(folder, 'ftp.commands')
        self.log = open(os.path.join(folder, 'ftp.log'), 'wb')
        self.proc = subprocess.Popen(
            [PYTHON, FTP_SERVER, '--home', self.home, '--user', self.USER,
             '--password', self.PASSWORD, '--port-file', port_file,
             '--commands', self.commands],
            stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        if not wait_until(lambda: os.path.exists(port_file) or self.proc.poll() is not None, 20):
            raise StepFailed('the FTP server did not start within 20 s')
        if self.proc.poll() is not None:
            raise StepFailed('the FTP server ended at once (see ftp.log)')
        with open(port_file) as f:
            self.port = int(f.read().strip())

    def close(self):
        stop_process(self.proc, 'FTP server')
        self.log.close()


class RelayServer:
    """The loopback relay server (relayd; under wine in the Windows run),
    serving one folder on 127.0.0.1 and taking one login."""

    LOGIN = 'LOGIN'

    def __init__(self, command, folder, naming):
        self.root = os.path.join(folder, 'relayroot')
        os.mkdir(self.root)
        self.log = open(os.path.join(folder, 'relayd.log'), 'wb')
        self.proc = subprocess.Popen(
            command + ['--root', naming.path(self.root), '--login', self.LOGIN],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self.log,
            start_new_session=True)
        self.port = None
        ready = select.select([self.proc.stdout], [], [], START_S)[0]
        line = self.proc.stdout.readline().decode('latin-1') if ready else ''
        found = re.search(r'listening on 127\.0\.0\.1:(\d+)', line)
        if not found:
            stop_process(self.proc, 'relayd')
            raise StepFailed('relayd did not start within %d s: %r' % (START_S, line))
        self.port = int(found.group(1))

    def close(self):
        stop_process(self.proc, 'relayd')
        self.proc.stdout.close()
        self.log.close()


class Server:
    """The program under test, its output collected line by line."""

    def __init__(self, command, settings_arg, log_path):
        self.lines = []
        self.lock = threading.Lock()
        self.changed = threading.Condition(self.lock)
        self.log = open(log_path, 'wb')
        self.proc = subprocess.Popen(
            command + ['--console', '-I' + settings_arg],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            start_new_session=True)
        self.reader = threading.Thread(target=self._collect, daemon=True)
        self.reader.start()

    def _collect(self):
        for raw in self.proc.stdout:
            self.log.write(raw)
            self.log.flush()
            with self.changed:
                self.lines.append(raw.decode('latin-1').rstrip('\r\n'))
                self.changed.notify_all()
        with self.changed:
            self.lines.append(None)  # end of output
            self.changed.notify_all()

    def wait_for_line(self, part, seconds, start=0):
        """Index of the first line from start on that contains part (or any
        of a tuple of parts), or -1."""
        parts = part if isinstance(part, tuple) else (part,)
        deadline = Deadline(seconds)
        with self.changed:
            index = start
            while True:
                for index in range(index, len(self.lines)):
                    line = self.lines[index]
                    if line is None:
                        return -1
                    if any(p in line for p in parts):
                        return index
                index = len(self.lines)
                if deadline.passed():
                    return -1
                self.changed.wait(min(deadline.left(), 0.5))

    def count(self):
        with self.lock:
            return len(self.lines)

    def transcript(self, last=40):
        with self.lock:
            lines = [l for l in self.lines if l is not None][-last:]
        return '\n'.join('  | ' + l for l in lines)

    def wait_exit(self, seconds):
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def interrupt(self):
        """Ctrl+C: SIGINT, which wine hands to the console control handlers."""
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGINT)

    def close(self):
        stop_process(self.proc, 'server')
        self.reader.join(5)
        self.log.close()


def stop_process(proc, name):
    """Ends proc and its process group: SIGTERM, then SIGKILL after 5 s."""
    if proc is None or proc.poll() is not None:
        return
    for signo, wait in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
        try:
            os.killpg(proc.pid, signo)
        except ProcessLookupError:
            return
        try:
            proc.wait(timeout=wait)
            return
        except subprocess.TimeoutExpired:
            pass
    print('warning: %s (pid %d) did not end' % (name, proc.pid), file=sys.stderr)


# ---------------------------------------------------------------------------
# How the server names things: Linux paths, or Windows paths on drive Z:.

class Naming:
    def __init__(self, under_wine):
        self.under_wine = under_wine
        self.sep = '\\' if under_wine else '/'

    def path(self, linux_path):
        if self.under_wine:
            return 'Z:' + linux_path.replace('/', '\\')
        return linux_path

    def folder(self, linux_path):
        return self.path(linux_path) + self.sep


def dosdevices_folder():
    prefix = os.environ.get('WINEPREFIX') or os.path.expanduser('~/.wine')
    return os.path.join(prefix, 'dosdevices')


def link_com_port(device, first=20, last=256):
    """Links the first free comN (N >= first) to device; returns (N, link)."""
    folder = dosdevices_folder()
    if not os.path.isdir(folder):
        raise StepFailed('no wine prefix: %s is missing' % folder)
    for number in range(first, last + 1):
        link = os.path.join(folder, 'com%d' % number)
        try:
            os.symlink(device, link)
            return number, link
        except FileExistsError:
            continue
    raise StepFailed('no free COM number in %s' % folder)


# ---------------------------------------------------------------------------
# The terminal's side of the session.

class Session:
    def __init__(self, args, folder):
        self.args = args
        self.folder = folder
        self.work = os.path.join(folder, 'work')
        self.terminal = os.path.join(folder, 'terminal')
        os.mkdir(self.work)
        os.mkdir(self.terminal)
        self.server_command = args.server
        self.naming = Naming(os.path.basename(self.server_command[0]) == 'wine')
        self.line = None
        self.ftp = None
        self.relay = None
        self.with_relay = False  # the relay keys in the settings (they change EXEC)
        self.server = None
        self.com_link = None
        self.results = []

    # ---- set-up and clean-up ----

    def start_parts(self):
        self.line = Line(self.folder)
        self.ftp = FtpServer(self.folder)
        if self.args.relayd:
            # Under wine relayd runs the same way as the server.
            self.relay = RelayServer(self.server_command[:-1] + [self.args.relayd],
                                     self.folder, self.naming)
        if self.naming.under_wine:
            number, self.com_link = link_com_port(os.path.realpath(self.line.server_end))
            self.commport = str(number)
        else:
            self.commport = self.line.server_end

    def settings_text(self):
        keys = [
            ('workdir', self.naming.path(self.work)),
            ('logfile', 'CREATE'),
            ('logdir', self.naming.path(self.logdir)),
            ('commport', self.commport),
            ('connect', 'direct'),
            ('baudrate', '115200'),
            ('interchardelay', '50'),
            ('host', '127.0.0.1'),
            ('user', FtpServer.USER),
            ('password', FtpServer.PASSWORD),
            ('passive', 'yes'),
        ]
        if self.with_relay:
            keys += [('iphost', '127.0.0.1'), ('ipport', str(self.relay.port)),
                     ('ipuser', RelayServer.LOGIN)]
        return '[setup]\r\n' + ''.join('%s=%s\r\n' % kv for kv in keys)

    def start_server(self, name):
        self.logdir = os.path.join(self.folder, name)
        os.mkdir(self.logdir)
        ini = os.path.join(self.folder, name + '.ini')
        with open(ini, 'w', newline='') as f:
            f.write(self.settings_text())
        self.server = Server(self.server_command, self.naming.path(ini),
                             os.path.join(self.folder, name + '.out'))
        if self.server.wait_for_line('STATUS: READY', START_S) < 0:
            raise StepFailed('the server did not show READY within %d s:\n%s'
                             % (START_S, self.server.transcript()))

    def close(self):
        for part in (self.server, self.ftp, self.relay, self.line):
            if part is not None:
                part.close()
        if self.com_link and os.path.islink(self.com_link):
            os.unlink(self.com_link)

    # ---- steps ----

    def step(self, name, function):
        return run_step(self.results, name, function, 28)

    def exchange(self, text, expect=None, pattern=None):
        """Sends one command frame and checks the reply's status and text."""
        self.line.discard()
        self.line.write(command_frame(text))
        reply = Reply(self.line.read_reply())
        if self.args.verbose:
            print('     %s -> %s' % (text, reply), flush=True)
        if not reply.raw:
            raise StepFailed('%s: no reply within %d s' % (text, STEP_S))
        if not reply.checksum_ok or (len(reply.raw) > 1 and reply.lead != STX):
            raise StepFailed('%s: malformed reply %s' % (text, reply))
        if expect is not None and reply.line() != expect:
            raise StepFailed('%s: expected %r, got %s' % (text, expect, reply))
        if pattern is not None and not re.fullmatch(pattern, reply.line()):
            raise StepFailed('%s: expected /%s/, got %s' % (text, pattern, reply))
        return reply

    def run_lrzsz(self, words):
        """Runs sx or rx for the terminal, its bytes carried to and from the
        line through pipes. On the pty itself rx would lose its last ACK now
        and then: it flushes its tty's queues when it ends."""
        errors = os.path.join(self.folder, words[0] + '.err')
        with open(errors, 'wb') as err:
            proc = subprocess.Popen(words, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                    stderr=err, cwd=self.terminal, start_new_session=True)
            try:
                pumped = self.pump(proc, Deadline(TRANSFER_S))
                rc = proc.wait(timeout=5) if pumped else None
            except subprocess.TimeoutExpired:
                rc = None
            finally:
                stop_process(proc, words[0])
                proc.stdin.close()
                proc.stdout.close()
        with open(errors, 'rb') as err:
            said = err.read().decode('latin-1').strip()
        if rc is None:
            raise StepFailed('%s did not end within %d s: %s' % (' '.join(words), TRANSFER_S, said))
        if rc != 0:
            raise StepFailed('%s ended with %s: %s' % (' '.join(words), rc, said))

    def pump(self, proc, deadline):
        """Carries bytes between the line and proc until proc closes its
        output; False when the deadline passed first."""
        to_child, from_child = proc.stdin.fileno(), proc.stdout.fileno()
        pending = b''
        while not deadline.passed():
            readable = [from_child] + ([self.line.fd] if not pending else [])
            writable = [to_child] if pending else []
            r, w, _ = select.select(readable, writable, [], min(deadline.left(), 0.5))
            if from_child in r:
                chunk = os.read(from_child, 8192)
                if not chunk:
                    return True
                self.line.write(chunk)
            if self.line.fd in r:
                pending = os.read(self.line.fd, 8192)
            if to_child in w:
                try:
                    pending = pending[os.write(to_child, pending):]
                except BrokenPipeError:
                    pending = b''
        return False

    def send_file(self, local, remote, sx_options):
        """SEND: the terminal sends local as remote with sx."""
        size = os.path.getsize(local)
        mark = self.server.count()
        self.exchange('SEND,%s,%d' % (remote, size), expect='0')
        self.line.write(bytes([ACK]))
        self.run_lrzsz(['sx', '-q'] + sx_options + [local])
        self.expect_transfer_end(mark, 'RECV')

    def receive_file(self, remote, local):
        """RECV: the terminal fetches remote into local with rx (CRC, 1K)."""
        mark = self.server.count()
        reply = self.exchange('RECV,' + remote, pattern=r'0\d+')
        self.line.write(bytes([ACK]))
        # The server reads the ACK until the line has been quiet for its
        # inter-character delay; rx's first 'C' must not fall into that read.
        time.sleep(0.3)
        # rx takes names relative to its folder only.
        self.run_lrzsz(['rx', '-q', '-c', os.path.relpath(local, self.terminal)])
        self.expect_transfer_end(mark, 'SEND')
        return int(reply.text)

    def expect_transfer_end(self, mark, word):
        """The server's own verdict on a transfer: the file is complete (and
        renamed into place) only when it has logged success."""
        done = self.server.wait_for_line((word + ' SUCCESSFUL', word + ' ERROR'), STEP_S, mark)
        if done < 0 or 'SUCCESSFUL' not in self.server.lines[done]:
            raise StepFailed('the server did not log %s SUCCESSFUL:\n%s'
                             % (word, self.server.transcript(15)))

    def expect_clean_exit(self, after):
        """The program ends by itself within END_S, with status 0."""
        rc = self.server.wait_exit(END_S)
        if rc is None:
            raise StepFailed('the program still runs %d s after %s:\n%s'
                             % (END_S, after, self.server.transcript()))
        if rc != 0:
            raise StepFailed('the program ended with %d after %s:\n%s'
                             % (rc, after, self.server.transcript()))

    def server_name(self, name):
        return self.naming.folder(self.work) + name

    def expect_file(self, path, content):
        if not os.path.exists(path):
            raise StepFailed('%s is missing' % path)
        with open(path, 'rb') as f:
            got = f.read()
        if got != content:
            raise StepFailed('%s: %d bytes, not the %d expected%s' % (
                path, len(got), len(content),
                ' (same length, other bytes)' if len(got) == len(content) else ''))

    def expect_received(self, path, content):
        """What rx wrote: content, then the zero fill of the last block."""
        with open(path, 'rb') as f:
            got = f.read()
        padded = (len(content) + 127) // 128 * 128
        if got[:len(content)] != content or got[len(content):] != b'\0' * (len(got) - len(content)) \
                or len(got) != padded:
            raise StepFailed('%s: %d bytes that are not the %d sent plus the zero fill'
                             % (path, len(got), len(content)))


def sample_data():
    """A data file with what text-mode I/O would damage: CR LF, lone LF and
    CR, Ctrl+Z, NUL and bytes above 0x7F."""
    lines = [b'%013d,%d\r\n' % (4006381333931 + i * 7, i % 13) for i in range(300)]
    data = b''.join(lines) + b'\n\r\x1a\x00\xff\xfe' + bytes(range(256))
    return data


def run_steps(session):
    s = session
    data = sample_data()
    small = b'short file\r\n' * 20  # 240 bytes: 128-byte blocks only
    with open(os.path.join(s.terminal, 'DATA.TXT'), 'wb') as f:
        f.write(data)
    with open(os.path.join(s.terminal, 'SMALL.TXT'), 'wb') as f:
        f.write(small)
    os.mkdir(os.path.join(s.work, 'SUB'))
    sub_file = b'in the subfolder\r\n'
    with open(os.path.join(s.work, 'SUB', 'INSUB.TXT'), 'wb') as f:
        f.write(sub_file)
    remote = b'from the FTP server\r\n' * 50
    with open(os.path.join(s.ftp.home, 'REMOTE.TXT'), 'wb') as f:
        f.write(remote)
    got = lambda name: os.path.join(s.terminal, name)
    at_work = lambda name: os.path.join(s.work, name)

    def linebid():
        s.exchange('LINEBID', expect='0')

    def datetime_():
        reply = s.exchange('DATETIME', pattern=r'0\d{14}')
        stamp = time.mktime(time.strptime(reply.text, '%Y%m%d%H%M%S'))
        # Local time on both sides; a minute of slack for a slow reply.
        if abs(stamp - time.time()) > 90:
            raise StepFailed('DATETIME %s is %.0f s away from local time %s' % (
                reply.text, stamp - time.time(), time.strftime('%Y%m%d%H%M%S')))

    def send_1k():
        s.send_file(got('DATA.TXT'), 'DATA.TXT', ['-k'])
        s.expect_file(at_work('DATA.TXT'), data)

    def send_128():
        s.send_file(got('SMALL.TXT'), 'SMALL.TXT', [])
        s.expect_file(at_work('SMALL.TXT'), small)

    def recv():
        size = s.receive_file('DATA.TXT', got('BACK.TXT'))
        if size != len(data):
            raise StepFailed('RECV announced %d bytes for a file of %d' % (size, len(data)))
        s.expect_received(got('BACK.TXT'), data)

    def recv_missing():
        s.exchange('RECV,MISSING.TXT', expect='1 %s FILE NOT FOUND' % s.server_name('MISSING.TXT'))

    def dir_():
        s.exchange('DIR,LIST.TXT', expect='0%s COUNT 3' % s.server_name('LIST.TXT'))
        s.receive_file('LIST.TXT', got('LIST.TXT'))
        with open(got('LIST.TXT'), 'rb') as f:
            listing = f.read().rstrip(b'\0').decode('latin-1')
        lines = listing.split('\n')
        if lines[-1] != '' or '\r' in listing:
            raise StepFailed('listing lines must end in a single LF: %r' % listing)
        entry = re.compile(r'-rwxrwxrwx  1  hbr       hbr ([ \d]{8}) '
                           r'(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) '
                           r'\d\d \d\d:\d\d (.+)')
        found = {}
        for line in lines[:-1]:
            m = entry.fullmatch(line)
            if not m:
                raise StepFailed('listing line %r has not the listing format' % line)
            found[m.group(3)] = m.group(1).strip()
        want = {'DATA.TXT': str(len(data)), 'SMALL.TXT': str(len(small))}
        for name, size in want.items():
            if found.get(name) != size:
                raise StepFailed('listing: %s should be %s bytes: %r' % (name, size, listing))
        # The two files and the list file itself; the subfolder is left out.
        if set(found) != {'DATA.TXT', 'SMALL.TXT', 'LIST.TXT'}:
            raise StepFailed('listing names %s, expected DATA.TXT, SMALL.TXT, LIST.TXT'
                             % sorted(found))

    def copy_append_delete():
        s.exchange('COPY,DATA.TXT,DATA.BAK', expect='0COPY SUCCESSFUL')
        s.expect_file(at_work('DATA.BAK'), data)
        s.exchange('APPEND,SMALL.TXT,DATA.BAK', expect='0APPEND SUCCESSFUL')
        s.expect_file(at_work('DATA.BAK'), data + small)
        s.exchange('COPY,SMALL.TXT,DATA.BAK', expect='0COPY SUCCESSFUL')
        s.expect_file(at_work('DATA.BAK'), small)
        s.exchange('COPY,NOSUCH.TXT,OTHER.TXT', expect='1COPY FAILED')
        if os.path.exists(at_work('OTHER.TXT')):
            raise StepFailed('a failed COPY left OTHER.TXT behind')
        s.exchange('DELETE,DATA.BAK', expect='0DELETE SUCCESSFUL')
        if os.path.exists(at_work('DATA.BAK')):
            raise StepFailed('DATA.BAK is still there after DELETE')

    def cwd():
        s.exchange('CWD,NOSUCH', expect='1 %s INVALID DIRECTORY' % s.server_name('NOSUCH'))
        s.exchange('CWD,SUB', expect='0')
        s.receive_file('INSUB.TXT', got('INSUB.TXT'))
        s.expect_received(got('INSUB.TXT'), sub_file)
        s.exchange('CWD,', expect='0')
        s.exchange('RECV,INSUB.TXT', expect='1 %s FILE NOT FOUND' % s.server_name('INSUB.TXT'))

    def unknown_and_checksum():
        s.line.discard()
        s.line.write(command_frame('FOO'))
        reply = Reply(s.line.read_reply())
        if reply.raw != bytes([CAN]):
            raise StepFailed('FOO: expected the single byte CAN, got %s' % reply)
        frame = bytearray(command_frame('DATETIME'))
        frame[-1] = (frame[-1] + 1) & 0xFF
        s.line.discard()
        s.line.write(bytes(frame))
        reply = Reply(s.line.read_reply())
        if reply.line() != '1CHECK SUM ERROR' or not reply.checksum_ok:
            raise StepFailed('bad checksum: expected 1CHECK SUM ERROR, got %s' % reply)

    def ftp_open():
        s.exchange('FTP,OPEN,127.0.0.1,%s,%s,1,%d' % (FtpServer.USER, FtpServer.PASSWORD,
                                                      s.ftp.port),
                   expect='0FTP OPEN SUCCESSFUL ^')

    def ftp_send():
        s.exchange('FTP,SEND,DATA.TXT', expect='0FTP SEND SUCCESSFUL')
        s.expect_file(os.path.join(s.ftp.home, 'DATA.TXT'), data)
        s.exchange('FTP,SEND,SMALL.TXT,UP.TXT', expect='0FTP SEND SUCCESSFUL')
        s.expect_file(os.path.join(s.ftp.home, 'UP.TXT'), small)

    def ftp_recv():
        s.exchange('FTP,RECV,GOT.TXT,REMOTE.TXT', expect='0FTP RECV SUCCESSFUL')
        s.expect_file(at_work('GOT.TXT'), remote)
        s.exchange('FTP,RECV,NONE.TXT,NOSUCH.TXT', pattern=r'1FTP RECV FAILED:-\d+')
        if os.path.exists(at_work('NONE.TXT')):
            raise StepFailed('a failed FTP RECV left NONE.TXT behind')

    def ftp_dir():
        s.exchange('FTP,DIR,FTPLIST.TXT', expect='0FTP DIR SUCCESSFUL')
        with open(at_work('FTPLIST.TXT'), 'rb') as f:
            listing = f.read().decode('latin-1')
        for name in ('DATA.TXT', 'UP.TXT', 'REMOTE.TXT'):
            if name not in listing:
                raise StepFailed('the FTP listing does not name %s: %r' % (name, listing))
        size = s.receive_file('FTPLIST.TXT', got('FTPLIST.TXT'))
        s.expect_received(got('FTPLIST.TXT'), listing.encode('latin-1'))
        if size != len(listing):
            raise StepFailed('RECV of the FTP listing announced %d bytes' % size)

    def ftp_copy():
        s.exchange('FTP,COPY,DATA.TXT,COPY.TXT', expect='0FTP COPY SUCCESSFUL')
        s.expect_file(os.path.join(s.ftp.home, 'COPY.TXT'), data)
        s.exchange('FTP,APPEND,UP.TXT,COPY.TXT', expect='0FTP APPEND SUCCESSFUL')
        s.expect_file(os.path.join(s.ftp.home, 'COPY.TXT'), data + small)

    def ftp_close():
        s.exchange('FTP,CLOSE', expect='0FTP CLOSE SUCCESSFUL')
        s.exchange('FTP,CLOSE', expect='0FTP CLOSE N/A')

    def ftp_active():
        # Field 5 = 0: active mode, the server listens for the data connection.
        s.exchange('FTP,OPEN,127.0.0.1,%s,%s,0,%d' % (FtpServer.USER, FtpServer.PASSWORD,
                                                      s.ftp.port),
                   expect='0FTP OPEN SUCCESSFUL ^')
        s.exchange('FTP,SEND,SMALL.TXT,ACTIVE.TXT', expect='0FTP SEND SUCCESSFUL')
        s.expect_file(os.path.join(s.ftp.home, 'ACTIVE.TXT'), small)
        s.exchange('FTP,RECV,BACK2.TXT,ACTIVE.TXT', expect='0FTP RECV SUCCESSFUL')
        s.expect_file(at_work('BACK2.TXT'), small)
        s.exchange('FTP,CLOSE', expect='0FTP CLOSE SUCCESSFUL')

    def failed_send():
        # The terminal gives up at the start: the server's file goes away.
        before = sorted(os.listdir(s.work))
        mark = s.server.count()
        s.exchange('SEND,BROKEN.TXT,1000', expect='0')
        s.line.write(bytes([ACK]))
        prompt = s.line.read_reply(STEP_S)
        if prompt[:1] not in (b'C', bytes([NAK])):
            raise StepFailed('no C or NAK prompt after SEND and ACK: %r' % prompt[:16])
        s.line.write(bytes([CAN, CAN, CAN]))
        if s.server.wait_for_line('XM:StartRecvPacket', STEP_S, mark) < 0:
            raise StepFailed('the server did not log the refused start:\n%s'
                             % s.server.transcript(15))
        s.line.read_reply(1)  # the server's CAN
        s.exchange('LINEBID', expect='0')
        after = sorted(os.listdir(s.work))
        if after != before:
            raise StepFailed('a failed SEND changed the folder: %s -> %s' % (before, after))

    def programs():
        if s.args.child is None:
            raise StepFailed('no --child program given')
        shutil.copy(s.args.child, at_work('CHILD.EXE'))
        # The command line is handed over as it stands: its first word is
        # the one a program usually sees as its own name.
        s.exchange('EXEC,CHILD.EXE,child exit 3', expect='00003DONE')
        out = s.server_name('ARGS.TXT')
        s.exchange('EXEC,CHILD.EXE,child args %s one two' % out, expect='00002DONE')
        s.expect_file(at_work('ARGS.TXT'), b'one\ntwo\n')
        s.exchange('STAT', expect='1PROG STAT ERROR')
        s.exchange('EXEC,NOSUCH.EXE,x', expect='1PROG LOAD FAILED')
        # SYSTEM: the program, the working folder and the parameter, run by
        # the system's command interpreter.
        if s.naming.under_wine:
            script, text = 'RUN.BAT', '@echo off\r\necho %~2> "%~1SYSOUT.TXT"\r\n'
        else:
            script, text = 'RUN.SH', '#!/bin/sh\nprintf \'%s\\r\\n\' "$2" > "${1}SYSOUT.TXT"\n'
        with open(at_work(script), 'w', newline='') as f:
            f.write(text)
        os.chmod(at_work(script), 0o755)
        s.exchange('SYSTEM,%s,hello' % script, expect='00000DONE')
        s.expect_file(at_work('SYSOUT.TXT'), b'hello\r\n')
        s.exchange('SYSTEM,NOSUCH.BAT,x', expect='1SYSTEM FAILED')

    def linestop():
        mark = s.server.count()
        s.exchange('LINESTOP', expect='0')
        s.expect_clean_exit('LINESTOP')
        if s.server.wait_for_line('Communication thread Ending', 5, mark) < 0:
            raise StepFailed('no "Communication thread Ending" after LINESTOP:\n%s'
                             % s.server.transcript())

    def activity_log():
        path = os.path.join(s.logdir, 'quaylink.log')
        if not os.path.exists(path):
            raise StepFailed('no activity log at %s' % path)
        with open(path, 'rb') as f:
            log = f.read().decode('latin-1')
        for part in ('READY..', 'XM:Recv [ ', 'RECV SUCCESSFUL', 'SEND SUCCESSFUL',
                     'Communication thread Ending'):
            if part not in log:
                raise StepFailed('the activity log lacks %r' % part)

    def line_status():
        # The session's figures in the status file, which quaylink-status
        # (beside the server) reads as an ended line.
        with open(at_work('quaylink.status'), 'rb') as f:
            status = json.loads(f.read().decode('utf-8'))
        if status['state'] != 'ENDED':
            raise StepFailed('status file state %r after LINESTOP' % status['state'])
        least = {'sessions': 1, 'commands': 40, 'commands_failed': 5, 'files_received': 2,
                 'files_sent': 3, 'ftp_operations': 10, 'ftp_failures': 1, 'line_errors': 1}
        for name, value in least.items():
            if status[name] < value:
                raise StepFailed('status file: %s is %r, at least %d expected'
                                 % (name, status[name], value))
        program = os.path.join(os.path.dirname(s.server_command[-1]), 'quaylink-status')
        if s.naming.under_wine:
            program += '.exe'
        done = subprocess.run(s.server_command[:-1] + [program, s.naming.path(s.work)],
                              capture_output=True, timeout=STEP_S)
        table = done.stdout.decode('latin-1')
        if done.returncode != 1 or 'ENDED' not in table:
            raise StepFailed('quaylink-status on an ended line: status %d, output %r'
                             % (done.returncode, table))

    steps = [
        ('LINEBID', linebid), ('DATETIME', datetime_),
        ('SEND with sx (1K CRC)', send_1k), ('SEND with sx (128 CRC)', send_128),
        ('RECV with rx', recv), ('RECV of a missing file', recv_missing),
        ('DIR and RECV of the list', dir_), ('COPY, APPEND, DELETE', copy_append_delete),
        ('CWD', cwd), ('unknown word, bad checksum', unknown_and_checksum),
        ('FTP OPEN', ftp_open), ('FTP SEND', ftp_send), ('FTP RECV', ftp_recv),
        ('FTP DIR', ftp_dir), ('FTP COPY, APPEND', ftp_copy), ('FTP CLOSE', ftp_close),
        ('FTP in active mode', ftp_active), ('failed SEND leaves no file', failed_send),
        ('EXEC and SYSTEM', programs),
        ('LINESTOP ends the program', linestop), ('activity log', activity_log),
        ('status file and quaylink-status', line_status),
    ]
    for name, function in steps:
        if not s.step(name, function) and s.server.proc.poll() is not None:
            print('the server has ended:\n' + s.server.transcript(), flush=True)
            break


def run_relay(session):
    """A server whose settings name relayd: the terminal's IPCOMM commands.
    (The relay keys also go onto EXEC's command lines, so this is a run of
    its own.)"""
    s = session
    data = sample_data()
    remote = b'from the relay server\r\n' * 50

    def at_work(name):
        return os.path.join(s.work, name)

    with open(at_work('RDATA.TXT'), 'wb') as f:
        f.write(data)

    def relay():
        root = s.relay.root
        s.exchange('IPCOMM,OPEN', expect='0IP OPEN SUCCESSFUL ^')
        s.exchange('IPCOMM,SEND,RDATA.TXT', expect='0IP SEND SUCCESSFUL')
        s.expect_file(os.path.join(root, 'RDATA.TXT'), data)
        with open(os.path.join(root, 'FAR.TXT'), 'wb') as f:
            f.write(remote)
        s.exchange('IPCOMM,RECV,NEAR.TXT,FAR.TXT', expect='0IP RECV SUCCESSFUL')
        s.expect_file(at_work('NEAR.TXT'), remote)
        s.exchange('IPCOMM,COPY,FAR.TXT,FAR2.TXT', expect='0IP COPY SUCCESSFUL')
        s.expect_file(os.path.join(root, 'FAR2.TXT'), remote)
        s.exchange('IPCOMM,RECV,NONE.TXT,NOSUCH.TXT', pattern=r'1IP RECV FAILED:-?\d+')
        if os.path.exists(at_work('NONE.TXT')):
            raise StepFailed('a failed IPCOMM RECV left NONE.TXT behind')
        s.exchange('IPCOMM,CLOSE', expect='0IP CLOSE SUCCESSFUL')

    s.step('IPCOMM to relayd', relay)


def run_interrupt(session):
    """A second server on the same line: Ctrl+C while it waits for a frame."""
    s = session

    def interrupt():
        s.exchange('LINEBID', expect='0')
        s.server.interrupt()
        s.expect_clean_exit('Ctrl+C')

    s.step('Ctrl+C ends the program', interrupt)


def cpu_seconds(pid):
    """User and system CPU time a process has used so far, in seconds."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def run_pulled_cable(session):
    """A third server: the cable is pulled (the pty pair ends) while it waits
    for a frame. It must wait for the line without spinning, and Ctrl+C must
    still end it with status 0."""
    s = session

    def pulled():
        s.exchange('LINEBID', expect='0')
        s.line.close()
        s.line = None
        time.sleep(0.5)  # the server's next reads find the line gone
        before = cpu_seconds(s.server.proc.pid)
        time.sleep(3)
        used = cpu_seconds(s.server.proc.pid) - before
        print('     CPU on the pulled line: %.2f s in 3 s (%.2f s since the start)'
              % (used, before + used), flush=True)
        # A loop retrying a dead line at once burns a whole core (3 s here).
        if used > 0.6:
            raise StepFailed('the server used %.2f s of CPU in 3 s on a pulled line:\n%s'
                             % (used, s.server.transcript()))
        if s.server.proc.poll() is not None:
            raise StepFailed('the server ended when the cable was pulled:\n%s'
                             % s.server.transcript())
        s.server.interrupt()
        s.expect_clean_exit('Ctrl+C on a pulled line')

    s.step('pulled cable: waits, then Ctrl+C', pulled)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--server', required=True, nargs='+',
                        help='command that starts quaylink: wine PATH/quaylink.exe, or '
                             'PATH/quaylink (one quoted word is split like a shell would)')
    parser.add_argument('--child', help='the platform tests\' child program, for EXEC')
    parser.add_argument('--relayd', help='the relay server program, for IPCOMM')
    parser.add_argument('--limit', type=int, default=170, help='seconds for the whole run')
    parser.add_argument('--keep', action='store_true', help='keep the run folder')
    parser.add_argument('--verbose', action='store_true', help='print every exchange')
    args = parser.parse_args()

    for tool in ('socat', 'sx', 'rx'):
        if shutil.which(tool) is None:
            print('missing tool: %s (tools/setup-deps.sh installs it)' % tool, file=sys.stderr)
            return 2
    if len(args.server) == 1:
        args.server = shlex.split(args.server[0])
    if not os.path.exists(args.server[-1]):
        print('no program at %s' % args.server[-1], file=sys.stderr)
        return 2

    def out_of_time(signo, frame):
        raise RunOut()

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(args.limit)
    folder = tempfile.mkdtemp(prefix='ql-e2e-')
    session = Session(args, folder)
    print('run folder %s; server %s' % (folder, ' '.join(args.server)), flush=True)
    try:
        phases = [('session', run_steps), ('interrupt', run_interrupt),
                  ('pulled', run_pulled_cable)]
        if args.relayd:
            phases.insert(1, ('relay', run_relay))
        for name, phase in phases:
            setup = 'start (%s)' % name
            if not session.step(setup, lambda: start_phase(session, name)):
                break
            phase(session)
            session.server.close()
            session.server = None
    except RunOut:
        session.results.append(('whole run', 'FAIL', 'over %d s' % args.limit))
        print('FAIL the run took longer than %d s' % args.limit, flush=True)
    finally:
        signal.alarm(0)
        session.close()
    return finish(session.results, folder, args.keep)


def start_phase(session, name):
    if session.line is None:
        session.start_parts()
    session.with_relay = name == 'relay'
    session.start_server(name)


if __name__ == '__main__':
    sys.exit(main())
