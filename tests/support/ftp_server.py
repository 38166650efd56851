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
    --rate N           data connections move at most N bytes a second

Run with /usr/bin/python3 (the Debian python3-pyftpdlib package).
"""

import argparse
import logging
import os
import shutil
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

COPY_COMMANDS = {
    'COPY': ('Syntax: COPY <SP> source <SP> target (copy a file).', False, False),
    'COPYDEL': ('Syntax: COPYDEL <SP> source <SP> target (copy, delete source).', False, True),
    'APPEND': ('Syntax: APPEND <SP> source <SP> target (append a file).', True, False),
    'APPDEL': ('Syntax: APPDEL <SP> source <SP> target (append, delete source).', True, True),
}


class TestHandler(FTPHandler):
    proto_cmds = FTPHandler.proto_cmds.copy()
    for _name, (_help, _append, _delete) in COPY_COMMANDS.items():
        proto_cmds[_name] = dict(perm=None, auth=True, arg=True, help=_help)
    # STOR with an empty name is the "data bin" upload: the server names it.
    proto_cmds['STOR'] = dict(proto_cmds['STOR'], arg=None)

    commands_path = None
    announce_size = False
    dbin_counter = 0

    def pre_process_command(self, line, cmd, arg):
        if self.commands_path:
            with open(self.commands_path, 'a', encoding='latin-1') as out:
                out.write(line + '\n')
        return super().pre_process_command(line, cmd, arg)

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
            TestHandler.dbin_counter += 1
            file = os.path.join(file, 'dbin-%03d.dat' % TestHandler.dbin_counter)
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--home', required=True)
    parser.add_argument('--user', default='quay')
    parser.add_argument('--password', default='link')
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--port-file')
    parser.add_argument('--commands')
    parser.add_argument('--announce-size', action='store_true')
    parser.add_argument('--rate', type=int, default=0)
    args = parser.parse_args()

    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format='%(asctime)s %(message)s')
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.home, perm='elradfmwMT')
    TestHandler.authorizer = authorizer
    TestHandler.commands_path = args.commands
    TestHandler.announce_size = args.announce_size
    if args.rate > 0:
        # Slow transfers, so that a test can step in while one runs.
        class SlowDTPHandler(ThrottledDTPHandler):
            read_limit = args.rate
            write_limit = args.rate
        TestHandler.dtp_handler = SlowDTPHandler

    server = FTPServer(('127.0.0.1', args.port), TestHandler)
    port = server.socket.getsockname()[1]
    if args.port_file:
        temp = args.port_file + '.tmp'
        with open(temp, 'w') as out:
            out.write('%d\n' % port)
        os.rename(temp, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.close_all()


if __name__ == '__main__':
    main()
