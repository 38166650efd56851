#!/usr/bin/python3
"""Writes the WiX source of the Quaylink MSI package from an install tree.

    make_wxs.py STAGE_DIR VERSION OUTPUT.wxs

STAGE_DIR is what `cmake --install` of the Windows build laid out; every
file in it goes to the same place below C:\\Program Files\\Quaylink, so
whatever the install rules add (the window modules, Qt's DLLs and plug-ins,
another program) is packaged without a change here. Start-menu shortcuts are
made for the windows that are there: the operator window (quaylink.exe with
quaylink_window.dll beside it), formwright.exe, and rowsmith's window
(rowsmith.exe -D with rowsmith_window.dll).

The UpgradeCode never changes: a package of a later version replaces the
installed one (a major upgrade), and an older one refuses to install over a
newer. Each file's component GUID is derived from its path, so it stays the
same from version to version as Windows Installer's component rules want.
"""

import hashlib
import os
import sys
import uuid
from xml.sax.saxutils import quoteattr

# Windows Installer compares GUIDs as upper-case text.
UPGRADE_CODE = '3F0B8A4E-5C1D-4E7A-9B62-8D4F2A7C9E15'
# Namespace of the component GUIDs (a fixed, random value).
COMPONENT_NAMESPACE = uuid.UUID('a4c3e2d1-7b6f-4c58-8e9a-1f2d3c4b5a69')
MANUFACTURER = 'Quaylink developers'

# (file that must exist, shortcut name, target, arguments, description)
SHORTCUTS = [
    ('quaylink_window.dll', 'Quaylink', 'quaylink.exe', '',
     'Communications server for handheld barcode terminals'),
    ('formwright.exe', 'Formwright', 'formwright.exe', '',
     "Configurator of the terminal application's settings"),
    ('rowsmith_window.dll', 'Rowsmith', 'rowsmith.exe', '-D',
     'Collected data to the inventory file DEVSCAN.CSV'),
]


def ident(prefix, rel):
    """A WiX identifier for a path: readable, unique, at most 72 characters."""
    digest = hashlib.sha1(rel.lower().encode('utf-8')).hexdigest()[:12]
    plain = ''.join(c if c.isalnum() else '_' for c in rel)[:40]
    return '%s_%s_%s' % (prefix, plain, digest)


def attr(**values):
    return ' '.join('%s=%s' % (k, quoteattr(str(v))) for k, v in values.items())


class Writer:
    def __init__(self, stage, base):
        self.stage = stage
        self.base = base  # wixl takes file sources relative to the .wxs
        self.lines = []
        self.components = []

    def emit(self, depth, text):
        self.lines.append('  ' * depth + text)

    def folder(self, rel, depth):
        here = os.path.join(self.stage, rel)
        names = sorted(os.listdir(here), key=str.lower)
        for name in names:
            path = os.path.join(here, name)
            child = os.path.join(rel, name) if rel else name
            win = child.replace(os.sep, '\\')
            if os.path.isdir(path):
                self.emit(depth, '<Directory %s>' % attr(Id=ident('dir', win), Name=name))
                self.folder(child, depth + 1)
                self.emit(depth, '</Directory>')
            elif os.path.isfile(path):
                cid = ident('cmp', win)
                guid = str(uuid.uuid5(COMPONENT_NAMESPACE, win.lower())).upper()
                self.components.append(cid)
                self.emit(depth, '<Component %s>' % attr(Id=cid, Guid=guid, Win64='yes'))
                self.emit(depth + 1, '<File %s/>' % attr(
                    Id=ident('fil', win), Name=name, Source=os.path.relpath(path, self.base), KeyPath='yes'))
                self.emit(depth, '</Component>')

    def shortcuts(self, depth):
        wanted = [s for s in SHORTCUTS
                  if os.path.isfile(os.path.join(self.stage, s[0]))
                  and os.path.isfile(os.path.join(self.stage, s[2]))]
        if not wanted:
            return
        self.emit(depth, '<Directory Id="ProgramMenuFolder">')
        self.emit(depth + 1, '<Directory Id="QuaylinkMenu" Name="Quaylink">')
        guid = str(uuid.uuid5(COMPONENT_NAMESPACE, 'start menu')).upper()
        self.emit(depth + 2, '<Component %s>' % attr(Id='StartMenu', Guid=guid, Win64='yes'))
        for _, name, target, args, description in wanted:
            values = dict(Id=ident('lnk', name), Name=name, Description=description,
                          Target='[INSTALLDIR]' + target, WorkingDirectory='INSTALLDIR')
            if args:
                values['Arguments'] = args
            self.emit(depth + 3, '<Shortcut %s/>' % attr(**values))
        self.emit(depth + 3, '<RemoveFolder Id="QuaylinkMenuRemove" On="uninstall"/>')
        # A per-machine shortcut needs a key path of its own: a value that
        # goes with the package.
        self.emit(depth + 3, '<RegistryValue Root="HKLM" Key="Software\\Quaylink" '
                  'Name="StartMenu" Type="integer" Value="1" KeyPath="yes"/>')
        self.emit(depth + 2, '</Component>')
        self.emit(depth + 1, '</Directory>')
        self.emit(depth, '</Directory>')
        self.components.append('StartMenu')


def wxs(stage, version, base):
    w = Writer(stage, base)
    w.emit(0, '<?xml version="1.0" encoding="utf-8"?>')
    w.emit(0, '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    w.emit(1, '<Product %s>' % attr(
        Id='*', Name='Quaylink %s' % version, Language='1033', Version=version,
        Manufacturer=MANUFACTURER, UpgradeCode=UPGRADE_CODE))
    w.emit(2, '<Package %s/>' % attr(
        Description='Quaylink suite: communications server for handheld barcode terminals',
        Manufacturer=MANUFACTURER, InstallerVersion='500', Compressed='yes',
        InstallScope='perMachine'))
    w.emit(2, '<MajorUpgrade DowngradeErrorMessage='
           '"A newer version of Quaylink is installed already."/>')
    w.emit(2, '<Media Id="1" Cabinet="quaylink.cab" EmbedCab="yes"/>')
    w.emit(2, '<Property Id="ARPURLINFOABOUT" Value="https://example.org/quaylink"/>')
    w.emit(2, '<Directory Id="TARGETDIR" Name="SourceDir">')
    w.emit(3, '<Directory Id="ProgramFiles64Folder">')
    w.emit(4, '<Directory Id="INSTALLDIR" Name="Quaylink">')
    w.folder('', 5)
    w.emit(4, '</Directory>')
    w.emit(3, '</Directory>')
    w.shortcuts(3)
    w.emit(2, '</Directory>')
    w.emit(2, '<Feature Id="Complete" Title="Quaylink" Level="1">')
    for cid in w.components:
        w.emit(3, '<ComponentRef Id=%s/>' % quoteattr(cid))
    w.emit(2, '</Feature>')
    w.emit(1, '</Product>')
    w.emit(0, '</Wix>')
    return '\n'.join(w.lines) + '\n'


def main(argv):
    if len(argv) != 4:
        sys.stderr.write('usage: make_wxs.py STAGE_DIR VERSION OUTPUT.wxs\n')
        return 2
    stage, version, output = argv[1:]
    if not os.path.isfile(os.path.join(stage, 'quaylink.exe')):
        sys.stderr.write('make_wxs.py: %s holds no quaylink.exe: not an install tree\n' % stage)
        return 1
    with open(output, 'w', encoding='utf-8') as out:
        out.write(wxs(stage, version, os.path.dirname(os.path.abspath(output))))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
