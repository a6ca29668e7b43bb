#!/usr/bin/env python3
"""Runs the commands that README.md, CONTRIBUTING.md and docs/releasing.md show in their code
blocks, so that they cannot go stale: from the checkout's root, each block in one bash, after
the test command has built everything. A command that cannot run here as written is named in
SPECIAL below, with the reason, and is left out or run in the form given there; an entry there
that no page shows any more fails too, as does a test command that ran no test.

    doc_commands.py [ROOT]
"""
import os
import re
import subprocess
import sys

PAGES = ['README.md', 'CONTRIBUTING.md', 'docs/releasing.md']
SECONDS = 900  # the longest command, the demo, takes about three minutes
NATIVE_CONFIGURE = ('cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo '
                    '-DPW_GTEST_SOURCE=C:/src/googletest')
SIGNED_PACKAGE = ('PW_SIGN_PFX=$HOME/keys/pwagent-signing.pfx '
                  'PW_SIGN_PASSWORD_FILE=$HOME/keys/pwagent-signing.pass '
                  'PW_SIGN_TIMESTAMP_URL=http://timestamp.example.com '
                  'PW_RELEASE_URL=https://downloads.example.com/pwagent bash scripts/package.sh')

# command as the page shows it: (None to leave it out, or the command to run instead; why)
SPECIAL = {
    'bash scripts/test.sh     # on a fresh Debian 12: installs what is missing, builds, runs '
    'every test': (None, 'the test command itself, which runs this check'),
    'bash scripts/package.sh  # the Windows artefacts: a zip, an installer, SHA256SUMS, manifests, '
    'in build/package': (None, 'the test command runs it before this check'),
    'bash scripts/package.sh': (None, 'the test command runs it before this check'),
    'scripts/fuzz.sh 600 fuzz_headers': ('scripts/fuzz.sh 2 fuzz_headers',
                                         'two seconds instead of ten minutes'),
    'pacman -S mingw-w64-i686-gcc mingw-w64-i686-cmake mingw-w64-i686-ninja '
    'mingw-w64-i686-python': (None, 'MSYS2 on Windows only'),
    NATIVE_CONFIGURE: (
        'rm -rf build/docs-native && ' + NATIVE_CONFIGURE.replace('build/win', 'build/docs-native')
        .replace('C:/src/googletest', '/usr/src/googletest') +
        ' -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null'
        ' && rm -rf build/docs-native',
        'in a clean folder, with the mingw-w64 toolchain and Debian\'s GoogleTest sources'),
    'ninja -C build/win': (None, 'on Windows; scripts/build.sh builds the same tree here'),
    'ctest --test-dir build/win': (None, 'on Windows; scripts/wine-ctest.sh runs it here'),
    'PW_SOAK_REPORT_EVERY=50 xvfb-run -a wine build/win/tests/soak/pwagent_soak.exe 1000': (
        'PW_SOAK_REPORT_EVERY=20 xvfb-run -a wine build/win/tests/soak/pwagent_soak.exe 40',
        '40 checks instead of 1000'),
    'xvfb-run -a wine build/win/tests/chaos/pwagent_chaos.exe 2000 --faults 28': (
        'xvfb-run -a wine build/win/tests/chaos/pwagent_chaos.exe 10 --life 5 --faults 28',
        '10 checks instead of 2000'),
    'cd build/package && sha256sum -c /path/to/the/published/SHA256SUMS': (
        'cd build/package && sha256sum -c SHA256SUMS', 'against the build\'s own SHA256SUMS'),
    SIGNED_PACKAGE: (None, 'needs the maintainer\'s certificate; tests/package/test-release.sh '
                           'signs the same way with a throw-away one'),
}
NO_TESTS = re.compile(r'^\[==========\] 0 tests from|No tests were found', re.M)


def code_blocks(text):
    """The indented code blocks of a page, each a list of commands (continued lines joined),
    with the line each block starts on."""
    blocks, lines = [], text.split('\n')
    i = 0
    while i < len(lines):
        starts = lines[i].startswith('    ') and (i == 0 or not lines[i - 1].strip())
        if not starts:
            i += 1
            continue
        indent = len(lines[i]) - len(lines[i].lstrip(' '))
        first, block = i + 1, []
        while i < len(lines) and (lines[i].startswith(' ' * indent) or not lines[i].strip()):
            block.append(lines[i][indent:].rstrip())
            i += 1
        commands, pending = [], ''
        for line in block:
            if not line and not pending:
                continue
            pending += line.strip() if pending else line
            if pending.endswith('\\'):
                pending = pending[:-1].rstrip() + ' '
            else:
                commands.append(pending)
                pending = ''
        blocks.append((first, commands))
    return blocks


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else '.')
    failures, seen = 0, set()
    for page in PAGES:
        with open(os.path.join(root, page), encoding='utf-8') as f:
            blocks = code_blocks(f.read())
        for line, commands in blocks:
            # A block that begins with a folder of the checkout lists folders.
            first = commands[0].split()[0]
            if first.endswith('/') and os.path.isdir(os.path.join(root, first)):
                print('skipped: %s:%d, a listing of folders, not commands' % (page, line))
                continue
            script = ['set -euo pipefail']
            for command in commands:
                run, why = SPECIAL.get(command, (command, None))
                if why is not None:
                    seen.add(command)
                    print('%s: %s:%d: %s (%s)' % ('adapted' if run else 'skipped', page, line,
                                                  command, why))
                if run:
                    script.append(run)
            if len(script) == 1:
                continue
            print('running %s:%d:\n    %s' % (page, line, '\n    '.join(script[1:])), flush=True)
            try:
                done = subprocess.run(['bash', '-c', '\n'.join(script)], cwd=root,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      timeout=SECONDS, stdin=subprocess.DEVNULL)
                output, status = done.stdout.decode(errors='replace'), done.returncode
            except subprocess.TimeoutExpired as expired:
                output = (expired.stdout or b'').decode(errors='replace')
                status = 'no end within %d s' % SECONDS
            if status != 0 or NO_TESTS.search(output):
                failures += 1
                print(output[-4000:])
                print('FAILED: %s:%d (%s)' % (page, line,
                                             status if status != 0 else 'it ran no test'))
            else:
                print('ok: %s:%d' % (page, line))
    for stale in sorted(set(SPECIAL) - seen):
        failures += 1
        print('FAILED: no page shows "%s" any more: remove it from SPECIAL' % stale)
    if failures:
        print('FAILED: %d command block(s) of the pages' % failures)
        sys.exit(1)
    print('all commands of the pages ran')


if __name__ == '__main__':
    main()
