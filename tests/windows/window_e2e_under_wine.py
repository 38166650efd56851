#!/usr/bin/python3
"""The windows of the Windows build end to end, under wine on an X server.

Under wine it draws on the X server of the wine launcher (with --linux on an
Xvfb of its own), with openbox for the window frames when it is installed;
then:

1. quaylink.exe with its operator window (no --console) on a COM link, one
   end of a socat pty pair. The first command frames come from here, to time
   how long the window takes to be up and serving; then termsim.exe, under
   wine on a second COM link to the pair's other end, plays a terminal
   session: LINEBID, SEND of a few megabytes, RECV of it back, DIR and the
   RECV of its listing. The files are compared byte for byte and the
   server's log must show each step. Half way through the SEND the main
   window is photographed.
2. STOP is clicked with xdotool: the log must show the communication thread
   ending while the program stays. SETTINGS opens the "Connect" dialog
   (photographed, then cancelled with Esc), and EXIT ends the program with
   status 0.
3. formwright.exe and rowsmith.exe -D are started, their windows are
   photographed and closed (Alt+F4, Esc); each must end with status 0.

    window_e2e_under_wine.py --bin build-windows/bin [--shots FOLDER]
    window_e2e_under_wine.py --linux --bin build/bin

Under wine it needs the prefix, wineserver and X server of
run-under-wine.sh (WINEPREFIX, QL_WINE_DISPLAY). With --linux the same run drives the Linux programs, on the
pty ends themselves instead of COM links.
The photographs (windows-main.png, windows-connect.png,
windows-formwright.png, windows-rowsmith.png) go to --shots. Buttons are
found from the main window's bottom corners, where its layout keeps them.
Every wait has a deadline; the X server, socat and every program started
are always ended. Exit status: 0 when every step passed, 1 when one failed,
2 on a bad command line or a missing tool.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from e2e_under_wine import (Deadline, Line, Naming, Reply, RunOut, StepFailed,
                            command_frame, finish, link_com_port, run_step, stop_process,
                            wait_until)

START_S = 90          # until the window is up (a first wine start is slow)
STEP_S = 30           # one step
SESSION_S = 150       # the whole termsim session
BIG_SIZE = 3 * 1024 * 1024 + 321
MAIN_TITLE = 'Quaylink V2.28'


def run(words, env=None, timeout=20, **kwargs):
    return subprocess.run(words, env=env, timeout=timeout, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **kwargs)


class Display:
    """Xvfb (and openbox) on a display number the server picks itself; or,
    given one (under wine: the launcher's, which every Windows program of the
    run shares, see run-under-wine.sh), openbox on that one."""

    def __init__(self, folder, given=None):
        self.procs = []
        self.log = open(os.path.join(folder, 'x.log'), 'wb')
        try:
            if given:
                self._use(given)
            else:
                self._start()
        except BaseException:
            self.close()
            raise

    def _use(self, name):
        self.name = name
        self._set_env()

    def _start(self):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1280x900x24',
             '-nolisten', 'tcp'],
            pass_fds=(write_end,), stdout=self.log, stderr=self.log, start_new_session=True)
        os.close(write_end)
        self.procs.append(xvfb)
        number = b''
        deadline = Deadline(20)
        while not number.endswith(b'\n') and not deadline.passed():
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            raise StepFailed('Xvfb gave no display number (see x.log)')
        self.name = ':' + number.decode().strip()
        self._set_env()

    def _set_env(self):
        self.env = dict(os.environ, DISPLAY=self.name)
        # The wine launchers' Qt settings (offscreen for the unit tests)
        # must not reach the windows shown here.
        for key in list(self.env):
            if key.startswith('WINEQT_') or key.startswith('QT_'):
                del self.env[key]
        if shutil.which('openbox'):
            self.procs.append(subprocess.Popen(['openbox', '--sm-disable'], env=self.env,
                                               stdout=self.log, stderr=self.log,
                                               start_new_session=True))
            time.sleep(0.5)

    def xdotool(self, *words):
        return run(['xdotool'] + list(words), env=self.env).stdout.decode().strip()

    def find(self, title, seconds):
        """The X window id of the first window named exactly title, or None."""
        found = []

        def look():
            ids = self.xdotool('search', '--onlyvisible', '--name', '^%s$' % title).split()
            found[:] = ids
            return bool(ids)

        wait_until(look, seconds, pause=0.1)
        return found[0] if found else None

    def window_names(self):
        """The names of the windows on the screen, for a failure's message."""
        ids = self.xdotool('search', '--onlyvisible', '--name', '.').split()
        return ', '.join(repr(self.xdotool('getwindowname', i)) for i in ids) or 'none'

    def geometry(self, window):
        """x, y, width, height of the window's inside, in screen pixels
        (xwininfo: xdotool misplaces a window its manager has framed)."""
        values = {}
        info = run(['xwininfo', '-id', window], env=self.env).stdout.decode()
        for line in info.splitlines():
            key, _, value = line.strip().partition(':')
            if value.strip().lstrip('-').isdigit():
                values[key] = int(value)
        return (values['Absolute upper-left X'], values['Absolute upper-left Y'],
                values['Width'], values['Height'])

    def click(self, window, x, y):
        """A left click at x, y inside the window (negative: from the right or
        bottom edge)."""
        _, _, width, height = self.geometry(window)
        x = x if x >= 0 else width + x
        y = y if y >= 0 else height + y
        self.xdotool('mousemove', '--window', window, str(x), str(y))
        time.sleep(0.2)
        self.xdotool('click', '1')

    def key(self, window, name):
        """A key pressed as a user presses it (through the X server's test
        extension, so that the window manager sees it too), with the window
        given the focus first."""
        self.xdotool('windowactivate', '--sync', window)
        self.xdotool('windowfocus', '--sync', window)
        time.sleep(0.3)
        self.xdotool('key', name)

    def photograph(self, window, path):
        """The window with its frame, as the screen shows it."""
        x, y, width, height = self.geometry(window)
        left = right = top = bottom = 0
        frame = run(['xprop', '-id', window, '_NET_FRAME_EXTENTS'], env=self.env).stdout.decode()
        if '=' in frame:
            left, right, top, bottom = [int(v) for v in frame.split('=')[1].split(',')]
        shot = path + '.full.png'
        run(['import', '-window', 'root', shot], env=self.env, timeout=30)
        run(['convert', shot, '-crop', '%dx%d+%d+%d' % (
            width + left + right, height + top + bottom, max(0, x - left), max(0, y - top)),
            '+repage', path], timeout=30)
        os.unlink(shot)
        if not os.path.exists(path):
            raise StepFailed('no photograph of window %s' % window)

    def close(self):
        for proc in reversed(self.procs):
            stop_process(proc, 'X')
        self.log.close()


def open_display(args, folder):
    """Under wine the launcher's X server: a second one would not do, since
    the Windows programs of one wineserver all draw where the first drew."""
    if args.linux:
        return Display(folder)
    given = os.environ.get('QL_WINE_DISPLAY')
    if not given:
        raise StepFailed('no QL_WINE_DISPLAY: run this under tests/windows/run-under-wine.sh')
    return Display(folder, given)


class Program:
    """A program of the build on the test display (under wine when the
    first word is a Windows program)."""

    def __init__(self, words, display, folder, name, cwd=None):
        self.name = name
        self.out = open(os.path.join(folder, name + '.out'), 'wb')
        if words[0].endswith('.exe'):
            words = ['wine'] + words
        self.proc = subprocess.Popen(words, env=display.env, cwd=cwd,
                                     stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT, start_new_session=True)

    def wait_exit(self, seconds):
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def close(self):
        stop_process(self.proc, self.name)
        self.out.close()


class Run:
    def __init__(self, args, folder):
        self.args = args
        self.folder = folder
        self.naming = Naming(not args.linux)
        self.results = []
        self.parts = []
        self.display = None
        self.server = None
        self.window = None
        self.timings = []

    def step(self, name, function):
        return run_step(self.results, name, function, 34)

    def exe(self, name):
        """The program name, with .exe under wine."""
        return os.path.join(self.args.bin, name if self.args.linux else name + '.exe')

    def link_port(self, device):
        """The settings' or termsim's name for one end of the pair: a COM
        port linked to it under wine, the pty itself on Linux."""
        if self.args.linux:
            return device
        number, link = link_com_port(os.path.realpath(device), first=40)
        self.parts.append(Unlink(link))
        return 'COM%d' % number

    def shot(self, window, name):
        os.makedirs(self.args.shots, exist_ok=True)
        self.display.photograph(window, os.path.join(self.args.shots, name))

    def close(self):
        for part in reversed(self.parts):
            part.close()

    # ---- the operator window ----

    def log_text(self):
        path = os.path.join(self.folder, 'log', 'quaylink.log')
        if not os.path.exists(path):
            return ''
        with open(path, 'rb') as f:
            return f.read().decode('latin-1')

    def expect_log(self, text, seconds=STEP_S, after=0):
        """Waits until the log holds text (after its first `after`
        characters); returns the position just past it."""
        found = []

        def look():
            at = self.log_text().find(text, after)
            if at >= 0:
                found.append(at + len(text))
            return at >= 0

        if not wait_until(look, seconds, pause=0.1):
            raise StepFailed('the log does not show %r within %d s; its end:\n%s'
                             % (text, seconds, self.log_tail()))
        return found[0]

    def log_tail(self, lines=12):
        return '\n'.join('  | ' + l for l in self.log_text().splitlines()[-lines:])

    def start_server(self):
        self.work = os.path.join(self.folder, 'work')
        self.terminal = os.path.join(self.folder, 'terminal')
        for sub in ('work', 'terminal', 'log'):
            os.mkdir(os.path.join(self.folder, sub))
        self.line = Line(self.folder)
        self.parts.append(self.line)
        server_port = self.link_port(self.line.server_end)
        if server_port.startswith('COM'):
            server_port = server_port[3:]
        self.terminal_port = self.link_port(self.line.terminal_end)
        ini = os.path.join(self.folder, 'quaylink.ini')
        keys = [('workdir', self.naming.folder(self.work)), ('logfile', 'CREATE'),
                ('logdir', self.naming.folder(os.path.join(self.folder, 'log'))),
                ('commport', server_port), ('connect', 'direct'), ('baudrate', '115200'),
                ('interchardelay', '50')]
        with open(ini, 'w', newline='') as f:
            f.write('[setup]\r\n' + ''.join('%s=%s\r\n' % kv for kv in keys))
        started = time.monotonic()
        self.server = Program([self.exe('quaylink'), '-I' + self.naming.path(ini)],
                              self.display, self.folder, 'quaylink')
        self.parts.append(self.server)
        self.window = self.display.find(MAIN_TITLE, START_S)
        if self.window is None:
            raise StepFailed('no window "%s" within %d s; on the screen: %s'
                             % (MAIN_TITLE, START_S, self.display.window_names()))
        shown = time.monotonic() - started
        # Serving: the first command frame that gets its good reply. Frames
        # go out every half second from before the port is open, so the
        # first one the server reads may be a piece of one and the rest of
        # the next: it answers CHECK SUM ERROR, and a terminal sends again.
        deadline = Deadline(START_S)
        reply = Reply(b'')
        while not deadline.passed() and reply.status != '0':
            self.line.discard()
            self.line.write(command_frame('DATETIME'))
            reply = Reply(self.line.read_reply(0.5))
        ready = time.monotonic() - started
        if reply.status != '0':
            raise StepFailed('no reply to DATETIME within %d s: %s' % (START_S, reply))
        self.timings.append('window shown %.2f s, first reply %.2f s after the start'
                            % (shown, ready))
        print('     ' + self.timings[-1], flush=True)

    def session(self):
        big = os.urandom(BIG_SIZE)
        with open(os.path.join(self.terminal, 'BIG.DAT'), 'wb') as f:
            f.write(big)
        script = os.path.join(self.folder, 'session.txt')
        with open(script, 'w') as f:
            f.write('LINEBID\n:expect 0\n:send BIG.DAT BIG.DAT\n:recv BIG.DAT BACK.DAT\n'
                    'DIR,LIST.TXT\n:recv LIST.TXT LIST.TXT\n')
        mark = len(self.log_text())
        termsim = Program([self.exe('termsim'), '-x', '-b', '115200', '-f',
                           self.naming.path(script), self.terminal_port],
                          self.display, self.folder, 'termsim', cwd=self.terminal)
        self.parts.append(termsim)
        # Half way through the SEND: the server's file in the working folder
        # (a temporary name until it is complete) has half the bytes.
        self.expect_log('SEND BIG.DAT', after=mark)

        def half_there():
            sizes = [os.path.getsize(os.path.join(self.work, n)) for n in os.listdir(self.work)]
            return any(BIG_SIZE * 0.4 < s < BIG_SIZE * 0.9 for s in sizes)

        if wait_until(half_there, STEP_S, pause=0.05):
            self.shot(self.window, 'windows-main.png')
        else:
            print('     (the SEND went by too fast to be photographed half way)', flush=True)
        rc = termsim.wait_exit(SESSION_S)
        with open(os.path.join(self.folder, 'termsim.out'), 'rb') as f:
            said = f.read().decode('latin-1')
        if rc != 0:
            raise StepFailed('termsim ended with %s:\n%s\nlog:\n%s' % (rc, said, self.log_tail()))
        with open(os.path.join(self.work, 'BIG.DAT'), 'rb') as f:
            if f.read() != big:
                raise StepFailed('the file the server received differs from the one sent')
        with open(os.path.join(self.terminal, 'BACK.DAT'), 'rb') as f:
            back = f.read()
        if back[:BIG_SIZE] != big or back[BIG_SIZE:].strip(b'\0\x1a'):
            raise StepFailed('the file received back differs from the one sent')
        with open(os.path.join(self.terminal, 'LIST.TXT'), 'rb') as f:
            if b'BIG.DAT' not in f.read():
                raise StepFailed('the DIR listing does not name BIG.DAT')
        at = mark
        for text in ('LINEBID', 'SEND BIG.DAT', 'RECV SUCCESSFUL', 'RECV BIG.DAT',
                     'SEND SUCCESSFUL', 'DIR LIST.TXT', 'RECV LIST.TXT', 'SEND SUCCESSFUL'):
            at = self.expect_log(text, 5, at)

    def stop(self):
        mark = len(self.log_text())
        self.display.click(self.window, -137, -23)  # START/STOP, left of EXIT
        self.expect_log('Communication thread Ending', after=mark)
        time.sleep(1)
        if self.server.proc.poll() is not None:
            raise StepFailed('the program ended on STOP')

    def settings(self):
        self.display.click(self.window, 51, -23)  # SETTINGS, bottom left
        dialog = self.display.find('Connect', STEP_S)
        if dialog is None:
            raise StepFailed('SETTINGS opened no "Connect" dialog')
        time.sleep(0.5)
        self.shot(dialog, 'windows-connect.png')
        self.display.key(dialog, 'Escape')
        if not wait_until(lambda: not self.display.find('Connect', 0), 10):
            raise StepFailed('the dialog did not close on Esc')

    def exit(self):
        self.display.click(self.window, -51, -23)  # EXIT, bottom right
        rc = self.server.wait_exit(STEP_S)
        if rc is None:
            raise StepFailed('the program still runs %d s after EXIT' % STEP_S)
        if rc != 0:
            raise StepFailed('the program ended with %d after EXIT' % rc)

    # ---- formwright and rowsmith ----

    def other_window(self, words, title, photo, cwd, close='Escape'):
        program = Program(words, self.display, self.folder, photo.split('.')[0], cwd=cwd)
        self.parts.append(program)
        window = self.display.find(title, START_S)
        if window is None:
            raise StepFailed('no window "%s" within %d s; on the screen: %s'
                             % (title, START_S, self.display.window_names()))
        time.sleep(0.5)
        self.shot(window, photo)
        self.display.key(window, close)
        rc = program.wait_exit(STEP_S)
        if rc != 0:
            raise StepFailed('%s ended with %s after %s' % (os.path.basename(words[0]), rc, close))

    def formwright(self):
        folder = os.path.join(self.folder, 'formwright')
        os.mkdir(folder)
        self.other_window([self.exe('formwright')], 'Formwright Setup V2.02',
                          'windows-formwright.png', folder,
                          close='alt+F4')  # Esc does not close it: it would lose every edit

    def rowsmith(self):
        folder = os.path.join(self.folder, 'rowsmith')
        os.mkdir(folder)
        with open(os.path.join(folder, 'DATA.TXT'), 'wb') as f:
            f.write(b'A-01-03,4006381333931\r\nA-01-04,4006381333948\r\n')
        self.other_window([self.exe('rowsmith'), '-D',
                           '-S' + self.naming.path(os.path.join(folder, 'DATA.TXT')),
                           '-T' + self.naming.path(os.path.join(folder, 'DEVSCAN.CSV'))],
                          'Rowsmith V1.01', 'windows-rowsmith.png', folder)


class Unlink:
    def __init__(self, path):
        self.path = path

    def close(self):
        if os.path.islink(self.path):
            os.unlink(self.path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--bin', required=True, help='the Windows build\'s bin folder')
    parser.add_argument('--shots', help='folder for the photographs (default: none kept)')
    parser.add_argument('--limit', type=int, default=280, help='seconds for the whole run')
    parser.add_argument('--keep', action='store_true', help='keep the run folder')
    parser.add_argument('--linux', action='store_true', help='the Linux programs, no wine')
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)  # the programs run in folders of their own

    tools = ['socat', 'Xvfb', 'xdotool', 'import', 'xprop', 'xwininfo'] + ([] if args.linux else ['wine'])
    for tool in tools:
        if shutil.which(tool) is None:
            print('missing tool: %s (tools/setup-deps.sh windows installs it)' % tool,
                  file=sys.stderr)
            return 2
    if args.linux:
        needed = ('quaylink', 'quaylink_window.so', 'termsim', 'formwright', 'rowsmith',
                  'rowsmith_window.so')
    else:
        needed = ('quaylink.exe', 'quaylink_window.dll', 'termsim.exe', 'formwright.exe',
                  'rowsmith.exe', 'rowsmith_window.dll', 'platforms/qwindows.dll')
    for name in needed:
        if not os.path.exists(os.path.join(args.bin, name)):
            print('no %s in %s' % (name, args.bin), file=sys.stderr)
            return 2
    if not args.linux and not os.environ.get('WINEPREFIX'):
        print('WINEPREFIX is not set: run through tests/windows/run-under-wine.sh',
              file=sys.stderr)
        return 2

    def out_of_time(signo, frame):
        raise RunOut()

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(args.limit)
    folder = tempfile.mkdtemp(prefix='ql-window-e2e-')
    photos = args.shots
    if photos is None:
        args.shots = os.path.join(folder, 'shots')
    r = Run(args, folder)
    print('run folder %s' % folder, flush=True)
    try:
        steps = [('X server', lambda: setattr(r, 'display', open_display(args, folder))),
                 ('operator window up and serving', r.start_server),
                 ('termsim session (SEND, RECV, DIR)', r.session),
                 ('STOP keeps the window', r.stop),
                 ('SETTINGS shows Connect', r.settings),
                 ('EXIT ends the program', r.exit),
                 ('formwright window', r.formwright),
                 ('rowsmith window (-D)', r.rowsmith)]
        for name, function in steps:
            if not r.step(name, function) and r.window is None:
                break
            if name == 'X server':
                r.parts.append(r.display)
    except RunOut:
        r.results.append(('whole run', 'FAIL', 'over %d s' % args.limit))
        print('FAIL the run took longer than %d s' % args.limit, flush=True)
    finally:
        signal.alarm(0)
        r.close()
    for line in r.timings:
        print('timing: ' + line)
    return finish(r.results, folder, args.keep)


if __name__ == '__main__':
    sys.exit(main())
