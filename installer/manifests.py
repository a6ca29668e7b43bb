#!/usr/bin/env python3
"""Writes the package-manager manifests of a release, made by scripts/package.sh:

    manifests.py --version X.Y.Z --url BASE --installer SETUP.EXE --zip ZIP --out DIR

DIR/winget/ gets the winget manifest set (version, installer and default-locale files, manifest
version 1.6.0) for the NSIS installer, DIR/scoop/pwagent.json the Scoop manifest for the zip.
Both name the files as BASE/X.Y.Z/<file name> and carry their SHA-256.
"""
import argparse
import hashlib
import json
import os

IDENTIFIER = 'Vantiro.pwagent'
MANIFEST_VERSION = '1.6.0'
PUBLISHER = 'Vantiro'
LICENSE = 'Proprietary'
DESCRIPTION = ('Tray agent that watches POP3 mailboxes for mail the CXsystem client has not '
               'fetched yet and hands the retrieval to that client')
# The agent reads the mail client's files from its own folder.
NOTES = 'pwagent must run from the folder of the mail client CXsystem.exe (see pwagent-readme.txt).'


def sha256(path):
    digest = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 16), b''):
            digest.update(block)
    return digest.hexdigest()


def yaml_text(value):
    """A YAML scalar: every value double-quoted (a JSON string is one), so that none reads as a
    number or a boolean."""
    return json.dumps(str(value))


def yaml_lines(mapping, indent=''):
    lines = []
    for key, value in mapping.items():
        if isinstance(value, dict):
            lines.append('%s%s:' % (indent, key))
            lines += yaml_lines(value, indent + '  ')
        elif isinstance(value, list):
            lines.append('%s%s:' % (indent, key))
            for item in value:
                if not isinstance(item, dict):
                    lines.append('%s- %s' % (indent, yaml_text(item)))
                    continue
                item_lines = yaml_lines(item, indent + '  ')
                item_lines[0] = indent + '- ' + item_lines[0][len(indent) + 2:]
                lines += item_lines
        else:
            lines.append('%s%s: %s' % (indent, key, yaml_text(value)))
    return lines


def write_yaml(path, kind, mapping):
    header = ['# Made by installer/manifests.py for winget (manifest type %s, version %s).'
              % (kind, MANIFEST_VERSION)]
    body = dict(mapping, ManifestType=kind, ManifestVersion=MANIFEST_VERSION)
    with open(path, 'w', newline='\n') as f:
        f.write('\n'.join(header + yaml_lines(body)) + '\n')


def winget(out, version, url, installer):
    folder = os.path.join(out, 'winget')
    os.makedirs(folder, exist_ok=True)
    package = {'PackageIdentifier': IDENTIFIER, 'PackageVersion': version}
    write_yaml(os.path.join(folder, IDENTIFIER + '.yaml'), 'version',
               dict(package, DefaultLocale='en-US'))
    write_yaml(os.path.join(folder, IDENTIFIER + '.installer.yaml'), 'installer', dict(
        package,
        InstallerType='nullsoft',
        Scope='machine',
        # The installer asks for administrator rights itself.
        ElevationRequirement='elevatesSelf',
        InstallModes=['interactive', 'silent', 'silentWithProgress'],
        InstallerSwitches={'Silent': '/S', 'SilentWithProgress': '/S',
                           'InstallLocation': '/D=<INSTALLPATH>'},
        UpgradeBehavior='install',
        # The name of the uninstall key the installer writes.
        ProductCode='pwagent',
        Installers=[{
            'Architecture': 'x86',
            'InstallerUrl': '%s/%s/%s' % (url, version, os.path.basename(installer)),
            'InstallerSha256': sha256(installer).upper(),
        }]))
    write_yaml(os.path.join(folder, IDENTIFIER + '.locale.en-US.yaml'), 'defaultLocale', dict(
        package,
        PackageLocale='en-US',
        Publisher=PUBLISHER,
        PackageName='pwagent',
        PackageUrl=url,
        License=LICENSE,
        ShortDescription=DESCRIPTION,
        InstallationNotes=NOTES))


def scoop(out, version, url, archive):
    folder = os.path.join(out, 'scoop')
    os.makedirs(folder, exist_ok=True)
    manifest = {
        'version': version,
        'description': DESCRIPTION,
        'homepage': url,
        'license': LICENSE,
        'notes': NOTES,
        'url': '%s/%s/%s' % (url, version, os.path.basename(archive)),
        'hash': sha256(archive),
        'bin': ['pwagent.exe', 'pwctrl.exe'],
        'checkver': {'url': url + '/', 'regex': r'pwagent-([\d.]+)-win32\.zip'},
        'autoupdate': {'url': url + '/$version/pwagent-$version-win32.zip'},
    }
    with open(os.path.join(folder, 'pwagent.json'), 'w', newline='\n') as f:
        json.dump(manifest, f, indent=4)
        f.write('\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    for name in ('version', 'url', 'installer', 'zip', 'out'):
        parser.add_argument('--' + name, required=True)
    args = parser.parse_args()
    url = args.url.rstrip('/')
    winget(args.out, args.version, url, args.installer)
    scoop(args.out, args.version, url, args.zip)


if __name__ == '__main__':
    main()
