"""The Debian package: its control data and files, the systemd unit, and the
host run from the unpacked tree with the unit's own command line, through one
logrotate cycle of its trace and events.

Usage: package_test.py (--deb FILE | --cpack CPACK --config CPackConfig.cmake)
                       --libdir LIBDIR --source SOURCE_DIR
LIBDIR is the library directory under /usr as configured (CMAKE_INSTALL_LIBDIR).
Exits 77 (skipped) when dpkg-deb is not installed.
"""
import argparse
import glob
import gzip
import io
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import urllib.request

ARGS = None
WORK = None  # the temporary directory holding the package and its unpacked tree
DEB = None
ROOT = None  # the unpacked tree
UNIT = 'usr/lib/systemd/system/korvane-host.service'
LOGROTATE = 'etc/logrotate.d/korvane-host'


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=60, **options)


def unit_settings(path):
    """The unit's settings as (section, key) -> list of values."""
    settings, section = {}, None
    for line in read(path).splitlines():
        line = line.strip()
        if line.startswith('['):
            section = line.strip('[]')
        elif line and line[0] not in '#;':
            key, _, value = line.partition('=')
            settings.setdefault((section, key), []).append(value)
    return settings


class Package(unittest.TestCase):
    def test_contents(self):
        info = run('dpkg-deb', '-f', DEB)
        self.assertEqual(info.returncode, 0, info.stderr)
        fields = dict(re.findall(r'^(\S+): (.*)$', info.stdout, re.M))
        arch = run('dpkg', '--print-architecture').stdout.strip()
        self.assertEqual(os.path.basename(DEB), f"norlotessel_{fields['Version']}_{arch}.deb")
        self.assertEqual((fields['Package'], fields['Architecture'], fields['Recommends']),
                         ('norlotessel', arch, 'logrotate'))
        # dpkg-shlibdeps found the libraries the binaries link.
        for library in ('libc6', 'libstdc++6', 'libssl3', 'libxerces-c3'):
            self.assertRegex(fields['Depends'], rf'(^|, ){re.escape(library)}', library)

        # Control members, conffiles and the data files (mode, owner, path),
        # against tests/packaging/contents.txt; every directory is root's 755.
        control = subprocess.run(['dpkg-deb', '--ctrl-tarfile', DEB], capture_output=True,
                                 check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(control)) as control:
            members = sorted((os.path.basename(m.name), m) for m in control.getmembers()
                             if m.isfile())
            texts = {name: control.extractfile(m).read() for name, m in members}
        contents = [f'control {m.mode:o} {name}' for name, m in members]
        contents += ['conffile ' + name for name in texts['conffiles'].decode().split()]
        listing = run('dpkg-deb', '-c', DEB)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        for line in sorted(listing.stdout.splitlines(), key=lambda line: line.split(None, 5)[5]):
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            if mode.startswith('d'):
                self.assertEqual((mode, owner), ('drwxr-xr-x', 'root/root'), path)
            else:
                contents.append(f'{mode} {owner} {path}')
        golden = read(os.path.join(ARGS.source, 'tests/packaging/contents.txt'))
        # Sorted after the library folder is put in: where it sorts depends on it.
        self.assertEqual(sorted(contents),
                         sorted(golden.replace('@LIBDIR@', ARGS.libdir).splitlines()))
        for script in ('postinst', 'prerm', 'postrm'):
            self.assertEqual(subprocess.run(['sh', '-n'], input=texts[script]).returncode, 0,
                             script)
        for path in ('usr/bin/korvane-host', f'usr/{ARGS.libdir}/libNorloTessel.so'):
            self.assertRegex(run('file', '-b', os.path.join(ROOT, path)).stdout,
                             r'^ELF .*, stripped$', path)
        self.assertEqual(read(os.path.join(ROOT, 'etc/korvane/korvane-config.xml')),
                         read(os.path.join(ARGS.source, 'examples/korvane-config.xml')))

    def test_unit(self):
        settings = unit_settings(os.path.join(ROOT, UNIT))
        required = {'DynamicUser': 'yes', 'ProtectSystem': 'strict', 'NoNewPrivileges': 'yes',
                    'PrivateTmp': 'yes', 'ProtectHome': 'yes', 'StateDirectory': 'korvane',
                    'LogsDirectory': 'korvane', 'WorkingDirectory': '/var/lib/korvane',
                    'ExecReload': '/bin/kill -HUP $MAINPID'}
        for key, value in required.items():
            self.assertEqual(settings.get(('Service', key)), [value], key)
        self.assertEqual(settings.get(('Install', 'WantedBy')), ['multi-user.target'])
        # Every file the command line names is in the package or in the
        # unit's own directories.
        for path in re.findall(r'(?<![\w$}])/[\w./-]+', settings[('Service', 'ExecStart')][0]):
            if not path.startswith('/var/log/korvane/'):
                self.assertTrue(os.path.isfile(ROOT + path), path)

        analyze = shutil.which('systemd-analyze')
        if analyze is None:
            print('systemd-analyze not installed: the unit is not verified', file=sys.stderr)
            return
        # The unit as installed, but starting the unpacked host (verify wants
        # the program to exist).
        checked = os.path.join(WORK, 'verify', 'korvane-host.service')
        os.makedirs(os.path.dirname(checked))
        write(checked, read(os.path.join(ROOT, UNIT)).replace('=/usr/bin/korvane-host ',
                                                               f'={ROOT}/usr/bin/korvane-host '))
        verify = run(analyze, 'verify', '--man=no', checked)
        self.assertEqual((verify.returncode, verify.stdout + verify.stderr), (0, ''))
        # systemd's own rating of the sandbox: exposure at most 1.9 of 10 ("OK").
        security = run(analyze, 'security', '--offline=yes', '--threshold=19', '--no-pager',
                       checked)
        self.assertEqual(security.returncode, 0, security.stdout)

    @unittest.skipIf(shutil.which('logrotate') is None, 'logrotate not installed')
    def test_serve_and_rotate(self):
        """The unit's ExecStart, paths moved into the temporary tree: a request,
        a logrotate cycle with the rule as shipped (SIGHUP standing in for the
        reload), a second request, then SIGTERM."""
        settings = unit_settings(os.path.join(ROOT, UNIT))
        environment = dict(value.split('=', 1)
                           for value in settings[('Service', 'Environment')])
        environment['KORVANE_LISTEN'] = '127.0.0.1:0'
        logs, state = os.path.join(WORK, 'log'), os.path.join(WORK, 'state')
        for directory in (logs, state):
            os.makedirs(directory)
        command = []
        for word in shlex.split(settings[('Service', 'ExecStart')][0]):
            if word == '$KORVANE_OPTIONS':
                command += shlex.split(environment['KORVANE_OPTIONS'])
                continue
            word = word.replace('${KORVANE_LISTEN}', environment['KORVANE_LISTEN'])
            word = word.replace('/var/log/korvane', logs)
            command.append(ROOT + word if word.startswith(('/usr/', '/etc/')) else word)
        env = {k: v for k, v in os.environ.items()
               if k not in ('NORLO_SERVER_STATE', 'PELLOG_FILE')}
        out = os.path.join(WORK, 'serve.out')
        with open(out, 'w') as stdout:
            host = subprocess.Popen(command, cwd=state, stdout=stdout,
                                    stderr=subprocess.STDOUT, env=env)
        try:
            for _ in range(200):
                match = re.match(r'listening on (\S+)\n', read(out))
                if match or host.poll() is not None:
                    break
                time.sleep(0.05)
            self.assertIsNotNone(match, read(out))
            url = f'http://{match[1]}/'

            plugins = {line.split()[-1] for line in read(f'/proc/{host.pid}/maps').splitlines()
                       if 'libNorloTessel' in line}
            self.assertEqual(plugins, {f'{ROOT}/usr/{ARGS.libdir}/libNorloTessel.so'})

            def post():
                request = read(os.path.join(ARGS.source, 'examples/requests/sample-age.xml'))
                with urllib.request.urlopen(url, request.encode(), timeout=10) as answer:
                    self.assertEqual(answer.status, 200)
                    self.assertIn(b'Sample Age', answer.read())

            post()
            self.assertTrue(wait_for_lines(os.path.join(logs, 'events.jsonl'), 1))
            first_trace = read(os.path.join(logs, 'trace.log'))
            self.assertTrue(first_trace)

            text = read(os.path.join(ROOT, LOGROTATE)).replace('/var/log/korvane', logs)
            text, reloads = re.subn(r'(postrotate\n).*?(\n\s*endscript)',
                                    rf'\1        kill -HUP {host.pid}\2', text, flags=re.S)
            self.assertEqual(reloads, 1)
            config = os.path.join(WORK, 'logrotate.conf')
            write(config, text)
            rotate = run('logrotate', '-f', '-s', os.path.join(WORK, 'logrotate.state'), config)
            self.assertEqual(rotate.returncode, 0, rotate.stdout + rotate.stderr)
            post()
            self.assertTrue(wait_for_lines(os.path.join(logs, 'events.jsonl'), 1))
        finally:
            host.send_signal(signal.SIGTERM)
            code = host.wait(timeout=20)
        self.assertEqual(code, 0, read(out))
        self.assertEqual(read(out), f'listening on {match[1]}\nstopped\n')

        names = sorted(os.listdir(logs))  # the trace is compressed a day later
        self.assertRegex(' '.join(names), r'^events\.jsonl events\.jsonl-\d{8}-\d+\.gz '
                                          r'trace\.log trace\.log-\d{8}-\d+$')
        # Each request's trace and event where it belongs, none lost or doubled.
        self.assertEqual(read(os.path.join(logs, names[3])), first_trace)
        # The second request's lines, then the unload's, in the new file.
        masked = lambda text: re.sub(r'0x[0-9a-f]+', '0x?', text)
        request_trace = masked(first_trace)
        request_trace = request_trace[request_trace.index('TRACE: [0x?] Tessel::Invoke'):]
        self.assertEqual(masked(read(os.path.join(logs, names[2]))), request_trace +
                         'TRACE: [0x?] TesselEntry: TERMINATE tessel [NorloTessel] dispatch '
                         '[Dorvex]\nTRACE: [0x?] Tessel DllMain: detached, hModule 0x?\n')
        with gzip.open(os.path.join(logs, names[1]), 'rt') as rotated:
            old_events = rotated.read().splitlines()
        new_events = read(os.path.join(logs, names[0])).splitlines()
        self.assertEqual((len(old_events), len(new_events)), (1, 1))
        for event in old_events + new_events:
            self.assertRegex(event, r'^\{.*"Method":"Sample Age".*"Status":"Success".*\}$')


def read(path):
    with open(path) as text:
        return text.read()


def write(path, text):
    with open(path, 'w') as file:
        file.write(text)


def wait_for_lines(path, count):
    """The events writer batches; waits until `path` holds `count` lines."""
    for _ in range(200):
        if os.path.exists(path) and read(path).count('\n') >= count:
            return True
        time.sleep(0.05)
    return False


def main():
    global ARGS, WORK, DEB, ROOT
    parser = argparse.ArgumentParser()
    parser.add_argument('--deb')
    parser.add_argument('--cpack')
    parser.add_argument('--config')
    parser.add_argument('--libdir', required=True)
    parser.add_argument('--source', required=True)
    ARGS = parser.parse_args()
    if shutil.which('dpkg-deb') is None:
        print('dpkg-deb not installed: skipped')
        return 77
    with tempfile.TemporaryDirectory(prefix='package_test.') as work:
        WORK = work
        if ARGS.deb:
            DEB = ARGS.deb
        else:
            # Packs the tree as built: cpack would first run the build tool on it,
            # and a relink there would pull programs from under other tests.
            made = run(ARGS.cpack, '-G', 'DEB', '-D', f"CMAKE_MAKE_PROGRAM={shutil.which('true')}",
                       '--config', ARGS.config, '-B', work)
            debs = glob.glob(os.path.join(work, '*.deb'))
            if made.returncode != 0 or len(debs) != 1:
                print(made.stdout, made.stderr, file=sys.stderr)
                return 1
            DEB = debs[0]
        ROOT = os.path.join(work, 'root')
        subprocess.run(['dpkg-deb', '-x', DEB, ROOT], check=True)
        result = unittest.main(argv=[sys.argv[0], '-v'], exit=False).result
        return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
