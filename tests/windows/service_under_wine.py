#!/usr/bin/python3
"""One line's Windows service under wine's service manager and sc.exe.

    service_under_wine.py --quaylink bin/quaylink.exe --termsim bin/termsim.exe

Runs inside tests/windows/run-under-wine.sh (its prefix and wineserver).
Links two COM ports of the prefix to the ends of a socat pair, installs the
service "Quaylink NAME" for a direct line on one of them with
`quaylink.exe --install-service`, starts it with `sc start`, checks that `sc
query` says RUNNING, plays a terminal with termsim.exe on the other port (a
session that ends with LINESTOP, and a second one that the service serves
after its pause), checks the files in %ProgramData%\\Quaylink\\NAME, stops it
with `sc stop` (the time until STOPPED is printed and checked with room for
wine's own start-up of sc.exe), removes it with --remove-service and checks
that nothing of it is registered any more. A second service on a port that
does not exist ends with status 1; the service manager of Windows starts it
again 5 s later, which wine's does not do: that step is skipped with the
reason when wine does not restart it. Steps wine cannot do at all are
printed as SKIP with the reason. Exit status 0 when every step passed.
"""

import argparse
import os
import re
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_under_wine as e2e  # noqa: E402  the pty pair and the COM links

STEP_S = 60        # one wine command (the first start of a program is slow)
RUNNING_S = 60     # until the service reports RUNNING
# From the return of sc stop (the control has reached the service) until
# STOPPED is seen, one start of wine's sc.exe included (0.2 s on an idle
# machine, seconds on a loaded one). The service itself stops within a
# second; the limit only has to tell that from a service that does not stop
# on its own (the line is idle: it would wait for ever).
STOP_LIMIT_S = 10.0
RESTART_WATCH_S = 15


Failed = e2e.StepFailed
check = e2e.check
windows_path = e2e.windows_path


def wine(args, timeout=STEP_S):
    return e2e.run_quietly(['wine'] + args, timeout)


def service_state(service):
    """RUNNING, STOPPED, ... from sc query; None when no such service."""
    rc, text = wine(['sc', 'query', service])
    match = re.search(r'STATE\s*:\s*\d+\s+(\w+)', text)
    if match:
        return match.group(1)
    if rc != 0:
        return None
    raise Failed('sc query %s printed no state:\n%s' % (service, text))


def wait_state(service, wanted, seconds):
    deadline = time.monotonic() + seconds
    state = service_state(service)
    while state != wanted and time.monotonic() < deadline:
        time.sleep(0.1)
        state = service_state(service)
    return state


def registry(key):
    rc, text = wine(['reg', 'query', key])
    return text if rc == 0 else None


class Run:
    def __init__(self, args, folder):
        self.args = args
        self.folder = folder
        self.line_name = 'wine%d' % os.getpid()
        self.service = 'Quaylink ' + self.line_name
        prefix = os.environ['WINEPREFIX']
        self.data = os.path.join(prefix, 'drive_c', 'ProgramData', 'Quaylink', self.line_name)
        self.links = []
        self.installed = []
        self.line = None

    def settings(self, name, commport):
        path = os.path.join(self.folder, name + '.ini')
        with open(path, 'w', newline='') as f:
            f.write('[setup]\r\ncommport=%s\r\nconnect=direct\r\nbaudrate=115200\r\n'
                    'interchardelay=50\r\n' % commport)
        return windows_path(path)

    def install(self, line_name, settings):
        rc, text = wine([self.args.quaylink, '--install-service', line_name, '--config', settings])
        check(rc == 0 and 'installed' in text,
              'quaylink.exe --install-service %s registers the service\n%s' % (line_name, text))
        self.installed.append(line_name)

    def remove(self, line_name):
        rc, text = wine([self.args.quaylink, '--remove-service', line_name])
        if line_name in self.installed:
            self.installed.remove(line_name)
        return rc, text

    def terminal(self, com, commands, timeout=STEP_S):
        return wine([self.args.termsim, com] + commands, timeout=timeout)

    # ---- the steps ----

    def registration(self):
        key = 'HKLM\\System\\CurrentControlSet\\Services\\' + self.service
        text = registry(key) or ''
        check(re.search(r'Start\s+REG_DWORD\s+0x2\b', text) is not None,
              'the service starts automatically (Start = 2)\n' + text)
        check('--service ' + self.line_name in text and '-IZ:' in text,
              'its command line runs the line with its settings file\n' + text)
        check('LocalService' in text, 'it runs as LocalService\n' + text)
        check('Quaylink communications server on line ' + self.line_name in text,
              'its description names the line\n' + text)
        if re.search(r'FailureActions\s+REG_BINARY', text):
            print('ok: the restart after a failure is registered')
        else:
            print('SKIP: wine does not store failure actions; the restart after 5 s '
                  'must be checked with "sc qfailure" on Windows')
        source = registry('HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\' +
                          self.service) or ''
        check('EventMessageFile' in source and 'quaylink.exe' in source.lower(),
              'the event log source is registered with the program\'s messages\n' + source)

    def serve(self, term_com):
        state = wait_state(self.service, 'RUNNING', RUNNING_S)
        check(state == 'RUNNING', 'sc query reports RUNNING after sc start (it said %s)' % state)
        rc, text = self.terminal(term_com, ['DATETIME', 'DIR,LIST.TXT', 'LINESTOP'])
        # termsim ends with status 0 only when every command got its success reply.
        check(rc == 0 and text.count('< ') == 3,
              'termsim.exe is served over the COM link (status %d)\n%s' % (rc, text))
        listing = os.path.join(self.data, 'LIST.TXT')
        check(os.path.isfile(listing),
              'DIR wrote its list in %%ProgramData%%\\Quaylink\\%s (%s)' % (self.line_name, listing))
        # A direct line ends after LINESTOP; the service serves the next
        # terminal after its pause instead of ending.
        time.sleep(1)
        check(service_state(self.service) == 'RUNNING', 'the service runs on after the session')
        deadline = time.monotonic() + 30
        served = False
        while not served and time.monotonic() < deadline:
            rc, text = self.terminal(term_com, ['DATETIME', 'LINESTOP'], timeout=STEP_S)
            served = rc == 0
        check(served, 'a second session is served after the pause\n' + text)
        status_log = os.path.join(self.data, 'service.log')
        text = open(status_log, encoding='latin-1').read() if os.path.isfile(status_log) else ''
        check(text.count('Running Quaylink') >= 2,
              'the status lines of both sessions are in service.log\n' + text[-2000:])

    def stop(self):
        start = time.monotonic()
        rc, text = wine(['sc', 'stop', self.service])
        sent = time.monotonic()
        state = wait_state(self.service, 'STOPPED', 10)
        took = time.monotonic() - start
        print('measured: sc stop returned after %.2f s, STOPPED seen after %.2f s'
              % (sent - start, took))
        check(state == 'STOPPED' and took - (sent - start) < STOP_LIMIT_S,
              'the service is STOPPED %.2f s after sc stop returned (state %s)\n%s'
              % (took - (sent - start), state, text))

    def removal(self):
        rc, text = self.remove(self.line_name)
        check(rc == 0 and 'removed' in text, '--remove-service removes it\n' + text)
        check(service_state(self.service) is None, 'sc query knows the service no more')
        check(registry('HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\' +
                       self.service) is None, 'its event log source is gone')
        check(os.path.isfile(os.path.join(self.data, 'service.log')),
              'its folder and the files in it are kept')
        rc, text = self.remove(self.line_name)
        check(rc == 1 and 'No service' in text, 'removing it again says there is none\n' + text)
        settings = self.settings(self.line_name, '1')
        rc, text = wine([self.args.quaylink, '--install-service', self.line_name, '--config',
                         settings, '--account', 'nosuchuser%d' % os.getpid()])
        check(rc == 1 and 'No account' in text and service_state(self.service) is None,
              'an unknown --account is refused and nothing is registered\n' + text)
        rc, text = wine([self.args.quaylink, '--install-service', 'a/b', '--config', settings])
        check(rc == 1 and 'line name' in text, 'a line name with a separator is refused\n' + text)

    def failure_restart(self):
        line_name = self.line_name + 'x'
        service = 'Quaylink ' + line_name
        self.install(line_name, self.settings(line_name, '250'))  # no COM250
        wine(['sc', 'start', service])
        stopped = wait_state(service, 'STOPPED', RUNNING_S)
        check(stopped == 'STOPPED', 'a service whose port cannot be opened ends (%s)' % stopped)
        restarted = wait_state(service, 'RUNNING', RESTART_WATCH_S)
        if restarted == 'RUNNING':
            print('ok: the service manager started it again')
        else:
            print('SKIP: wine\'s service manager does not restart a failed service; '
                  'check the restart after 5 s on Windows')
        self.remove(line_name)

    def run(self):
        self.line = e2e.Line(self.folder)
        server_no, link = e2e.link_com_port(os.path.realpath(self.line.server_end), first=40)
        self.links.append(link)
        term_no, link = e2e.link_com_port(os.path.realpath(self.line.terminal_end), first=40)
        self.links.append(link)
        os.close(self.line.fd)  # termsim.exe plays the terminal on that end
        self.line.fd = -1
        self.install(self.line_name, self.settings(self.line_name, str(server_no)))
        self.registration()
        rc, text = wine(['sc', 'start', self.service])
        check(rc == 0, 'sc start starts it\n' + text)
        self.serve('COM%d' % term_no)
        self.stop()
        self.removal()
        self.failure_restart()
        print('SKIP: wine keeps no event log (ReportEvent writes nowhere): the start, stop '
              'and failure lines must be read in the Event Viewer on Windows')
        print('SKIP: wine has no user sessions to log off: that a log-off leaves the '
              'service running must be checked on Windows')

    def close(self):
        for line_name in list(self.installed):
            self.remove(line_name)
        for link in self.links:
            try:
                os.unlink(link)
            except FileNotFoundError:
                pass
        if self.line:
            self.line.close()
        for name in (self.line_name, self.line_name + 'x'):
            shutil.rmtree(os.path.join(os.path.dirname(self.data), name), ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--quaylink', required=True)
    parser.add_argument('--termsim', required=True)
    args = parser.parse_args()
    return e2e.main_under_wine('service_under_wine.py', 'ql-service-',
                               lambda folder: Run(args, folder))


if __name__ == '__main__':
    sys.exit(main())
