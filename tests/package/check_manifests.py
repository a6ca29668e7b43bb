#!/usr/bin/env python3
"""Checks the package-manager manifests that scripts/package.sh wrote into DIR (winget/ and
scoop/) against the fields those formats require and against the artefacts beside them:

    check_manifests.py DIR VERSION

Prints one "ok:" or "FAILED:" line per check and exits non-zero on any failure.
"""
import hashlib
import json
import os
import re
import sys
import zipfile

import yaml

IDENTIFIER = 'Vantiro.pwagent'
WINGET_REQUIRED = {
    'version': ['PackageIdentifier', 'PackageVersion', 'DefaultLocale', 'ManifestType',
                'ManifestVersion'],
    'installer': ['PackageIdentifier', 'PackageVersion', 'Installers', 'ManifestType',
                  'ManifestVersion'],
    'defaultLocale': ['PackageIdentifier', 'PackageVersion', 'PackageLocale', 'Publisher',
                      'PackageName', 'License', 'ShortDescription', 'ManifestType',
                      'ManifestVersion'],
}
# Lengths the schemas allow for the free texts.
WINGET_LENGTHS = {'Publisher': (2, 256), 'PackageName': (2, 256), 'License': (3, 512),
                  'ShortDescription': (3, 256)}
ARCHITECTURES = {'x86', 'x64', 'arm', 'arm64', 'neutral'}

failures = 0


def check(what, good):
    global failures
    print('%s: %s' % ('ok' if good else 'FAILED', what))
    failures += 0 if good else 1


def sha256(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


def load_winget(folder, name):
    path = os.path.join(folder, name)
    if not os.path.isfile(path):
        check('winget/%s exists' % name, False)
        return {}
    with open(path, encoding='utf-8') as f:
        return yaml.safe_load(f) or {}


def check_winget(folder, version, setup):
    files = {'version': IDENTIFIER + '.yaml', 'installer': IDENTIFIER + '.installer.yaml',
             'defaultLocale': IDENTIFIER + '.locale.en-US.yaml'}
    manifests = {kind: load_winget(folder, name) for kind, name in files.items()}
    for kind, manifest in manifests.items():
        name = files[kind]
        missing = [key for key in WINGET_REQUIRED[kind] if manifest.get(key) in (None, '')]
        check('winget/%s has %s' % (name, ', '.join(WINGET_REQUIRED[kind])), not missing)
        check('winget/%s is of type %s, manifest version 1.6.0' % (name, kind),
              manifest.get('ManifestType') == kind and manifest.get('ManifestVersion') == '1.6.0')
        check('winget/%s names %s %s' % (name, IDENTIFIER, version),
              manifest.get('PackageIdentifier') == IDENTIFIER and
              manifest.get('PackageVersion') == version)
    locale = manifests['defaultLocale']
    check('the default locale is the one the version manifest names',
          manifests['version'].get('DefaultLocale') == locale.get('PackageLocale') == 'en-US')
    check('the default locale\'s texts have the lengths the format allows',
          all(isinstance(locale.get(key), str) and low <= len(locale[key]) <= high
              for key, (low, high) in WINGET_LENGTHS.items()))

    installer = manifests['installer']
    entries = installer.get('Installers') or [{}]
    entry = entries[0]
    check('one installer, for %s' % entry.get('Architecture'),
          len(entries) == 1 and entry.get('Architecture') in ARCHITECTURES)
    check('its type is nullsoft',
          entry.get('InstallerType', installer.get('InstallerType')) == 'nullsoft')
    switches = entry.get('InstallerSwitches', installer.get('InstallerSwitches')) or {}
    check('its silent switches are /S',
          switches.get('Silent') == '/S' and switches.get('SilentWithProgress') == '/S')
    check('its install folder switch is /D=<INSTALLPATH>',
          switches.get('InstallLocation') == '/D=<INSTALLPATH>')
    url = str(entry.get('InstallerUrl', ''))
    check('its URL ends in the installer\'s name (%s)' % url,
          re.match(r'https?://', url) is not None and
          url.endswith('/' + os.path.basename(setup)))
    check('its SHA-256 is the installer\'s',
          str(entry.get('InstallerSha256', '')).lower() == sha256(setup))


def check_scoop(folder, version, archive):
    path = os.path.join(folder, 'pwagent.json')
    try:
        with open(path, encoding='utf-8') as f:
            manifest = json.load(f)
    except (OSError, ValueError) as error:
        check('scoop/pwagent.json is JSON (%s)' % error, False)
        return
    required = ['version', 'description', 'homepage', 'license', 'url', 'hash', 'bin',
                'checkver']
    check('scoop/pwagent.json has %s' % ', '.join(required),
          all(manifest.get(key) not in (None, '', []) for key in required))
    check('its version is %s' % version, manifest.get('version') == version)
    url = str(manifest.get('url', ''))
    check('its URL ends in the zip\'s name (%s)' % url,
          re.match(r'https?://', url) is not None and
          url.endswith('/' + os.path.basename(archive)))
    check('its hash is the zip\'s SHA-256', str(manifest.get('hash', '')).lower() == sha256(archive))
    with zipfile.ZipFile(archive) as z:
        names = set(z.namelist())
    programs = manifest.get('bin') if isinstance(manifest.get('bin'), list) else []
    check('its bin names both programs, which the zip holds',
          set(programs) == {'pwagent.exe', 'pwctrl.exe'} and set(programs) <= names)
    checkver = manifest.get('checkver') or {}
    match = re.search(checkver.get('regex', '(?!)'), os.path.basename(archive))
    check('its checkver finds the version in the zip\'s name',
          str(checkver.get('url', '')).startswith('http') and match is not None and
          match.group(1) == version)
    autoupdate = str((manifest.get('autoupdate') or {}).get('url', ''))
    check('its autoupdate URL is the URL for $version',
          autoupdate.replace('$version', version) == url)


def main():
    folder, version = sys.argv[1], sys.argv[2]
    setup = os.path.join(folder, 'pwagent-%s-setup.exe' % version)
    archive = os.path.join(folder, 'pwagent-%s-win32.zip' % version)
    check_winget(os.path.join(folder, 'winget'), version, setup)
    check_scoop(os.path.join(folder, 'scoop'), version, archive)
    if failures:
        print('FAILED: %d manifest check(s)' % failures, file=sys.stderr)
        sys.exit(1)


if __name__ == '__main__':
    main()
