#!/usr/bin/python3
"""apt-whole.py KEYRING ROOT [OTHER] fails unless each suite of the apt repository
ROOT is one that apt takes whole: its InRelease verifies with KEYRING, each index
that it names is there by name and by hash, and each file that an index names is
in the pool of OTHER (ROOT by default), each with the sums that it is given."""
import glob
import hashlib
import os
import subprocess
import sys

from debian.deb822 import Packages, Release, Sources

keyring, root = os.path.abspath(sys.argv[1]), sys.argv[2]
pool = sys.argv[3] if len(sys.argv) > 3 else root
faults = [] if glob.glob(f"{root}/dists/*/") else [f"{root} has no suite"]


def whole(path, entry):
    """The bytes of PATH, where it has ENTRY's sums."""
    try:
        data = open(path, "rb").read()
    except OSError:
        return faults.append(f"{path} is missing")
    if len(data) != int(entry["size"]) or hashlib.sha256(data).hexdigest() != entry["sha256"]:
        return faults.append(f"{path} has other sums than its index gives")
    return data


for suite in glob.glob(f"{root}/dists/*/"):
    run = subprocess.run(["gpgv", "--keyring", keyring, "--output", "-", f"{suite}InRelease"], capture_output=True)
    if run.returncode:
        faults.append(f"{suite}InRelease does not verify: {run.stderr.decode()}")
        continue
    for index in Release(run.stdout)["SHA256"]:
        whole(f"{suite}{os.path.dirname(index['name'])}/by-hash/SHA256/{index['sha256']}", index)
        data = whole(f"{suite}{index['name']}", index)
        if data and index["name"].endswith("/Packages"):
            for package in Packages.iter_paragraphs(data, use_apt_pkg=False):
                whole(f"{pool}/{package['Filename']}", {"size": package["Size"], "sha256": package["SHA256"]})
        if data and index["name"].endswith("/Sources"):
            for source in Sources.iter_paragraphs(data, use_apt_pkg=False):
                for file in source["Checksums-Sha256"]:
                    whole(f"{pool}/{source['Directory']}/{file['name']}", file)
sys.exit("\n".join(faults) or None)
