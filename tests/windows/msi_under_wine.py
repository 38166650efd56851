#!/usr/bin/python3
"""The MSI package built, installed, upgraded and removed in a wine prefix.

    msi_under_wine.py --build BUILD_DIR

Runs inside tests/windows/run-under-wine.sh. Builds the package of the
Windows build folder with packaging/windows/build-msi.sh (wixl refuses a
source it cannot turn into a valid database), installs it silently with
`msiexec /i ... /qn`, checks that every file of the install tree is in
C:\\Program Files\\Quaylink and that quaylink.exe --version runs from there,
then installs a later version made from the same tree with the window files
added (stand-ins: only the package's handling of them is checked), which
must replace the first (one entry in Programs and Features) and bring the
Start-menu shortcuts; an older package must then refuse to install; and
`msiexec /x ... /qn` must leave neither files, shortcuts nor registration.
"""

import argparse
import os
import pwd
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_under_wine import check, main_under_wine, run_quietly, windows_path  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
BUILD_MSI = os.path.join(SOURCE, 'packaging', 'windows', 'build-msi.sh')
MAKE_WXS = os.path.join(SOURCE, 'packaging', 'windows', 'make_wxs.py')
STEP_S = 180
UNINSTALL_KEY = 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'


def run(args, timeout=STEP_S):
    return run_quietly(args, timeout)


def wine(args):
    return run(['wine'] + args)


def files_below(root):
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            out[os.path.relpath(path, root)] = os.path.getsize(path)
    return out


def installed_entries():
    """(DisplayName, DisplayVersion) of every Quaylink in Programs and Features."""
    rc, text = wine(['reg', 'query', UNINSTALL_KEY, '/s'])
    entries = []
    for block in text.split('\n\n'):
        name = re.search(r'DisplayName\s+REG_SZ\s+(Quaylink[^\n]*)', block)
        version = re.search(r'DisplayVersion\s+REG_SZ\s+([^\n]*)', block)
        if name:
            entries.append((name.group(1).strip(), version.group(1).strip() if version else ''))
    return entries


class Run:
    def __init__(self, args, folder):
        self.args = args
        self.folder = folder
        prefix = os.environ['WINEPREFIX']
        self.target = os.path.join(prefix, 'drive_c', 'Program Files', 'Quaylink')
        # Windows puts the shortcuts of a per-machine package into the
        # common Start menu; wine's installer puts them into the user's.
        menus = [os.path.join(prefix, 'drive_c', 'ProgramData'),
                 os.path.join(prefix, 'drive_c', 'users', pwd.getpwuid(os.getuid()).pw_name,
                              'AppData', 'Roaming')]
        self.menus = [os.path.join(m, 'Microsoft', 'Windows', 'Start Menu', 'Programs',
                                   'Quaylink') for m in menus]
        self.installed_msi = None

    def build(self):
        rc, text = run(['bash', BUILD_MSI, self.args.build, self.folder])
        check(rc == 0, 'build-msi.sh builds the package with wixl\n' + text)
        msi = text.strip().splitlines()[-1]
        check(os.path.basename(msi) == 'quaylink-2.28-x64.msi' and os.path.isfile(msi),
              'it is named quaylink-2.28-x64.msi (%s)' % msi)
        return msi, os.path.join(self.folder, 'stage')

    def later_version(self, stage):
        """Version 2.28.1 of the same tree with the window files beside it."""
        later = os.path.join(self.folder, 'stage-later')
        shutil.copytree(stage, later)
        for name, like in (('quaylink_window.dll', 'quaylink.exe'),
                           ('rowsmith_window.dll', 'rowsmith.exe'),
                           ('formwright.exe', 'rowsmith.exe')):
            if not os.path.exists(os.path.join(later, name)):
                shutil.copy(os.path.join(later, like), os.path.join(later, name))
        wxs = os.path.join(self.folder, 'later.wxs')
        msi = os.path.join(self.folder, 'quaylink-2.28.1-x64.msi')
        rc, text = run([sys.executable, MAKE_WXS, later, '2.28.1', wxs])
        check(rc == 0, 'make_wxs.py writes the source of the later version\n' + text)
        proc = subprocess.run(['wixl', '-a', 'x64', '-o', msi, wxs], cwd=self.folder,
                              capture_output=True, timeout=STEP_S)
        rc, text = proc.returncode, (proc.stdout + proc.stderr).decode('latin-1')
        check(rc == 0, 'wixl builds the later version\n' + text)
        return msi, later

    def menu(self):
        """The Start-menu folder of the package, or None."""
        found = [m for m in self.menus if os.path.isdir(m)]
        if found == self.menus[1:]:
            print('note: wine put the shortcuts into the user\'s Start menu, Windows puts '
                  'those of a per-machine package into the common one (ProgramData)')
        return found[0] if found else None

    def install(self, msi, stage, version):
        rc, text = wine(['msiexec', '/i', windows_path(msi), '/qn'])
        check(rc == 0, 'msiexec /i %s /qn installs (status %d)\n%s'
              % (os.path.basename(msi), rc, text))
        self.installed_msi = msi
        want, have = files_below(stage), files_below(self.target)
        missing = sorted(k for k in want if have.get(k) != want[k])
        check(not missing, 'every file of the install tree is in Program Files\\Quaylink '
              '(%d files)\nmissing or different: %s' % (len(want), missing))
        check(installed_entries() == [('Quaylink ' + version, version)],
              'Programs and Features holds exactly Quaylink %s: %s'
              % (version, installed_entries()))

    def run(self):
        msi, stage = self.build()
        if os.path.isdir(self.target):  # a failed run before this one
            wine(['msiexec', '/x', windows_path(msi), '/qn'])
        self.install(msi, stage, '2.28')
        rc, text = wine(['C:\\Program Files\\Quaylink\\quaylink.exe', '--version'])
        check(rc == 0 and 'Quaylink V2.28' in text,
              'quaylink.exe --version runs from Program Files\n' + text)
        has_windows = os.path.isfile(os.path.join(stage, 'quaylink_window.dll'))
        check((self.menu() is not None) == has_windows,
              'Start-menu shortcuts exactly when the windows are built (%s)' % has_windows)

        later, later_stage = self.later_version(stage)
        self.install(later, later_stage, '2.28.1')
        menu = self.menu()
        links = sorted(os.listdir(menu)) if menu else []
        check(links == ['Formwright.lnk', 'Quaylink.lnk', 'Rowsmith.lnk'],
              'the later version brings the shortcuts of the windows: %s' % links)

        rc, text = wine(['msiexec', '/i', windows_path(msi), '/qn'])
        check(rc != 0 and installed_entries() == [('Quaylink 2.28.1', '2.28.1')],
              'the older package refuses to install over the newer (status %d)' % rc)

        user_file = os.path.join(self.target, 'quaylink.ini')
        with open(user_file, 'w') as f:
            f.write('[setup]\r\ncommport=1\r\n')  # settings the user made
        rc, text = wine(['msiexec', '/x', windows_path(later), '/qn'])
        check(rc == 0, 'msiexec /x ... /qn removes it (status %d)\n%s' % (rc, text))
        self.installed_msi = None
        left = files_below(self.target) if os.path.isdir(self.target) else {}
        check(list(left) == ['quaylink.ini'],
              'only the settings the user made are left in Program Files\\Quaylink: %s'
              % sorted(left))
        check(self.menu() is None, 'the Start-menu folder is gone')
        check(installed_entries() == [], 'Programs and Features holds no Quaylink')
        rc, text = wine(['reg', 'query', 'HKLM\\Software\\Quaylink'])
        check(rc != 0, 'the package\'s registry key is gone\n' + text)
        shutil.rmtree(self.target, ignore_errors=True)

    def close(self):
        if self.installed_msi:
            wine(['msiexec', '/x', windows_path(self.installed_msi), '/qn'])
        shutil.rmtree(self.target, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', required=True)
    args = parser.parse_args()
    # No menu entries of the host desktop for the shortcuts wine makes.
    overrides = os.environ.get('WINEDLLOVERRIDES', '')
    os.environ['WINEDLLOVERRIDES'] = (overrides + ';' if overrides else '') + \
        'winemenubuilder.exe=d'
    return main_under_wine('msi_under_wine.py', 'ql-msi-', lambda folder: Run(args, folder))


if __name__ == '__main__':
    sys.exit(main())
