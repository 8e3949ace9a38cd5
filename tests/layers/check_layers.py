#!/usr/bin/env python3
"""Fails when a source file includes from a layer above its own.

The layers, bottom up: qvxcore (Qt Core only), qvxlink (links and request
running, no widgets), qvxgui (widgets), and src/app (the top, which nothing
else includes).  The simulator's libraries sit beside qvxlink: they may use
the core, never the window.  Each library's file list comes from the build
(file(GENERATE)), so a file moved between libraries is checked as what it is.
"""
import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)
QT_MODULE = re.compile(r'^(Qt\w+)/')
# Qt headers by module, for the bare <QWidget> form: any class the core or
# link layer may not use starts with one of these names.
WIDGET_CLASSES = re.compile(
    r'^Q(Widget|MainWindow|Dialog|Label|PushButton|Abstract(Button|ItemView|ScrollArea|Spin)|'
    r'Application|MessageBox|FileDialog|LineEdit|SpinBox|CheckBox|ComboBox|TableView|'
    r'Menu|MenuBar|StatusBar|TabWidget|GroupBox|\w*Layout|Painter|Pixmap|Image|Font|Color|'
    r'Accessible\w*|Gui\w*|Clipboard|KeyEvent|MouseEvent)$')
NETWORK_OR_SERIAL = re.compile(r'^Q(TcpSocket|TcpServer|AbstractSocket|HostAddress|SerialPort\w*|Network\w*|UdpSocket)$')


def main():
    src = Path(sys.argv[1]).resolve()
    layers = {}
    for line in Path(sys.argv[2]).read_text().split('\n'):
        if '=' not in line:
            continue
        layer, base, files = line.split('=', 2)
        for f in files.split(';'):
            if f.endswith(('.h', '.cpp')):
                layers[str((Path(base) / f).resolve())] = layer
    rank = {'core': 0, 'simcore': 0, 'link': 1, 'simlink': 1, 'report': 1.5, 'gui': 2}
    by_rel = {str(Path(p).relative_to(src)): l for p, l in layers.items() if Path(p).is_relative_to(src)}
    faults = []
    for path, layer in layers.items():
        p = Path(path)
        if not p.is_relative_to(src) or not p.exists():
            continue
        rel = str(p.relative_to(src))
        for kind, name in INCLUDE.findall(p.read_text(encoding='latin-1')):
            where = f'{rel}: #include {kind}{name}{">" if kind == "<" else kind}'
            if kind == '"':
                if name.startswith('app/') and not rel.startswith('app/'):
                    faults.append(f'{where}: only src/app includes src/app')
                    continue
                target = by_rel.get(name)
                if target is None:
                    continue
                if rank[target] > rank[layer] or (layer.startswith('sim') and target in ('link', 'gui')):
                    faults.append(f'{where}: a {layer} file includes a {target} file')
                continue
            module = QT_MODULE.match(name)
            module = module.group(1) if module else None
            bare = name.split('/')[-1]
            if layer in ('core', 'simcore') and (module not in (None, 'QtCore') or
                                                 WIDGET_CLASSES.match(bare) or NETWORK_OR_SERIAL.match(bare)):
                faults.append(f'{where}: the core links Qt Core only')
            # The report lays out pages with Qt Gui (text document, PDF
            # writer) and uses no widgets, so the command line can link it.
            if layer == 'report' and module == 'QtWidgets':
                faults.append(f'{where}: the report uses no widgets')
            if layer in ('link', 'simlink') and (module in ('QtWidgets', 'QtGui') or WIDGET_CLASSES.match(bare)):
                faults.append(f'{where}: link code uses no widgets')
    for f in sorted(faults):
        print(f)
    print(f'{len(layers)} files checked, {len(faults)} layer faults')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
