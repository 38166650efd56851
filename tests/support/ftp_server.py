#!/usr/bin/python3
"""A real FTP server for the tests, on pyftpdlib.

Serves one user with a home folder on 127.0.0.1 and understands the four
server-side copy commands the communications server sends:

    COPY <source> <target>      copy source to target          -> 220
    COPYDEL <source> <target>   copy, then delete the source    -> 220
    APPEND <source> <target>    append source to target         -> 220
    APPDEL <source> <target>    append, then delete the source  -> 220

A failure answers 550 (or 501 when the names are missing). An upload with an
empty name ("STOR " alone) goes into the home folder as dbin-NNN.dat.

Options:
    --home DIR         the user's home folder (required)
    --user NAME        user name (default quay)
    --password TEXT    password (default link)
    --port N           port to listen on (default 0: a free one)
    --port-file PATH   where to write the port once listening
    --commands PATH    every command line received is appended here
    --announce-size    preliminary RETR replies end in "(N bytes)."
    --host ADDRESS     address to listen on (default 127.0.0.1; ::1 for IPv6)
    --tls MODE         explicit: AUTH TLS, PBSZ and PROT are offered;
                       implicit: TLS from the first byte (needs --cert);
                       data connections must resume the control
                       connection's TLS session (522 otherwise)
    --cert PATH        PEM file with the server's certificate chain and key
    --refuse-epsv      EPSV is answered 502, as by servers that lack it
    --rate N           data connections move at most N bytes a second
    --holds DIR        while DIR/hold-<COMMAND> exists, the answer to that
                       command waits (20 s at most), so that a test can
                       step in while the client waits
    --log PATH         the server's own log goes here (default stderr)
    --keeper           also listen on a second loopback port (written to the
                       port file after the FTP port) and end when the one
                       connection accepted there sends a byte or closes (the
                       exit then closes it: the test knows the server is
                       gone), or when none comes within a minute: for a
                       test program that cannot signal or wait for this
                       process (a Windows program under wine starting a
                       Linux one)

Run with /usr/bin/python3 (the Debian python3-pyftpdlib package).
"""

import argparse
import logging
import os
import shutil
import socket
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
try:
    from OpenSSL._util import lib as ssl_lib
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
except ImportError:  # python3-openssl missing: plain FTP only
    TLS_FTPHandler = None
from pyftpdlib.servers import FTPServer

COPY_COMMANDS = {
    'COPY': ('Syntax: COPY <SP> source <SP> target (copy a file).', False, False),
    'COPYDEL': ('Syntax: COPYDEL <SP> source <SP> target (copy, delete source).', False, True),
    'APPEND': ('Syntax: APPEND <SP> source <SP> target (append a file).', True, False),
    'APPDEL': ('Syntax: APPDEL <SP> source <SP> target (append, delete source).', True, True),
}


def with_extensions(commands):
    """A handler's command table plus the copy family and the data bin."""
    commands = commands.copy()
    for name, (text, _append, _delete) in COPY_COMMANDS.items():
        commands[name] = dict(perm=None, auth=True, arg=True, help=text)
    # STOR with an empty name is the "data bin" upload: the server names it.
    commands['STOR'] = dict(commands['STOR'], arg=None)
    return commands


class Extensions:
    """What the test server adds to pyftpdlib's handlers, plain or TLS."""
    refuse_epsv = False

    commands_path = None
    holds_dir = None
    announce_size = False
    dbin_counter = 0

    def pre_process_command(self, line, cmd, arg):
        if self.commands_path:
            with open(self.commands_path, 'a', encoding='latin-1') as out:
                out.write(line + '\n')
        self._wait_while_held(cmd)
        if cmd == 'EPSV' and self.refuse_epsv:
            self.respond('502 EPSV not implemented.')
            return None
        return super().pre_process_command(line, cmd, arg)

    def _wait_while_held(self, cmd):
        # Blocks the whole server, which serves one client in these tests.
        if not self.holds_dir:
            return
        hold = os.path.join(self.holds_dir, 'hold-' + cmd)
        deadline = time.monotonic() + 20
        while os.path.exists(hold) and time.monotonic() < deadline:
            time.sleep(0.02)

    # ---- preliminary replies with the byte count ----
    _pending_size = None

    def ftp_RETR(self, file):
        if self.announce_size and os.path.isfile(file):
            self._pending_size = os.path.getsize(file)
        return super().ftp_RETR(file)

    def respond(self, resp, logfun=logging.debug):
        if self._pending_size is not None and resp[:4] in ('125 ', '150 '):
            resp = '%s (%d bytes).' % (resp.rstrip('.'), self._pending_size)
            self._pending_size = None
        elif resp[:1] in ('4', '5'):
            self._pending_size = None
        return super().respond(resp, logfun)

    # ---- the data bin ----
    def ftp_STOR(self, file, mode='w'):
        if os.path.isdir(file):
            Extensions.dbin_counter += 1
            file = os.path.join(file, 'dbin-%03d.dat' % Extensions.dbin_counter)
        return super().ftp_STOR(file, mode)

    # ---- the copy family ----
    def _copy_family(self, word, line):
        _help, append, delete = COPY_COMMANDS[word]
        names = line.split()
        if len(names) != 2:
            self.respond('501 Syntax error: %s needs a source and a target.' % word)
            return
        source, target = (self.fs.ftp2fs(n) for n in names)
        if not (self.fs.validpath(source) and self.fs.validpath(target)):
            self.respond('550 Path outside the home folder.')
            return
        try:
            if append:
                with open(source, 'rb') as src, open(target, 'ab') as dst:
                    shutil.copyfileobj(src, dst)
            else:
                shutil.copyfile(source, target)
            if delete:
                os.remove(source)
        except OSError as err:
            self.respond('550 %s failed: %s.' % (word, err.strerror))
            return
        self.respond('220 %s done.' % word)

    def ftp_COPY(self, line):
        self._copy_family('COPY', line)

    def ftp_COPYDEL(self, line):
        self._copy_family('COPYDEL', line)

    def ftp_APPEND(self, line):
        self._copy_family('APPEND', line)

    def ftp_APPDEL(self, line):
        self._copy_family('APPDEL', line)


class TestHandler(Extensions, FTPHandler):
    proto_cmds = with_extensions(FTPHandler.proto_cmds)


def tls_handler(implicit):
    """The test handler over TLS_FTPHandler (the same extensions)."""
    class ReusingDTPHandler(TLS_DTPHandler):
        """Data connections must resume the control connection's TLS
        session, as vsftpd's default require_ssl_reuse demands."""
        def handle_ssl_established(self):
            if not ssl_lib.SSL_session_reused(self.socket._ssl):
                self.cmd_channel.respond('522 SSL connection failed: session reuse required')
                self.close()
                return
            super().handle_ssl_established()

    class TlsTestHandler(Extensions, TLS_FTPHandler):
        proto_cmds = with_extensions(TLS_FTPHandler.proto_cmds)
        dtp_handler = ReusingDTPHandler

        def handle(self):
            if implicit:
                # TLS from the first byte: the greeting goes out encrypted.
                self.secure_connection(self.ssl_context)
            super().handle()
    return TlsTestHandler


def start_keeper():
    """The keeper port (see --keeper); returns its number."""
    keeper = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    keeper.bind(('127.0.0.1', 0))
    keeper.listen(1)

    def watch():
        keeper.settimeout(60)
        try:
            conn, _ = keeper.accept()
            conn.settimeout(None)
            conn.recv(1)
        except OSError:
            pass
        # The ioloop runs in the main thread and cannot be stopped from here:
        # end at once. Every file the server writes is closed after each
        # command or transfer, and the exit closes the keeper connection,
        # which tells the test that the server is gone.
        sys.stderr.flush()
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()
    return keeper.getsockname()[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--home', required=True)
    parser.add_argument('--user', default='quay')
    parser.add_argument('--password', default='link')
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--port-file')
    parser.add_argument('--commands')
    parser.add_argument('--announce-size', action='store_true')
    parser.add_argument('--host', default='127.0.0.1')
    parser.add_argument('--tls', choices=('explicit', 'implicit'))
    parser.add_argument('--cert')
    parser.add_argument('--refuse-epsv', action='store_true')
    parser.add_argument('--rate', type=int, default=0)
    parser.add_argument('--holds')
    parser.add_argument('--log')
    parser.add_argument('--keeper', action='store_true')
    args = parser.parse_args()

    if args.log:
        log = os.open(args.log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        os.dup2(log, 1)
        os.dup2(log, 2)
        os.close(log)

    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format='%(asctime)s %(message)s')
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.home, perm='elradfmwMT')
    handler = TestHandler
    if args.tls:
        handler = tls_handler(args.tls == 'implicit')
        handler.certfile = args.cert
    handler.authorizer = authorizer
    handler.commands_path = args.commands
    handler.holds_dir = args.holds
    handler.announce_size = args.announce_size
    handler.refuse_epsv = args.refuse_epsv
    if args.rate > 0:
        # Slow transfers, so that a test can step in while one runs.
        class SlowDTPHandler(ThrottledDTPHandler):
            read_limit = args.rate
            write_limit = args.rate
        handler.dtp_handler = SlowDTPHandler

    server = FTPServer((args.host, args.port), handler)
    port = server.socket.getsockname()[1]
    ports = '%d' % port
    if args.keeper:
        ports += ' %d' % start_keeper()
    if args.port_file:
        temp = args.port_file + '.tmp'
        with open(temp, 'w') as out:
            out.write(ports + '\n')
        os.rename(temp, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.close_all()


if __name__ == '__main__':
    main()
