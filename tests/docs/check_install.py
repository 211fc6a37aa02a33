#!/usr/bin/env python3
"""Checks the installation and the Debian package made from a build folder.

install: `cmake --install BUILD --prefix TMP`, then TMP/bin/updater --version
  must exit 0 and name the project version, TMP/bin/updater --help must exit 0,
  and the manual page must be in TMP/share/man/man1/, render without warnings
  and carry the project version.
package: `cpack -G DEB` with the build's configuration into a temporary folder;
  the .deb must hold usr/bin/updater and the manual page, and declare the
  project version.
"""

import glob
import os
import shutil
import sys

from common import options, read, run, scratch, verdict


def check_install(args, folder):
    problems = []
    prefix = os.path.join(folder, "prefix")
    result = run([args.cmake, "--install", args.build, "--prefix", prefix])
    if result.returncode != 0:
        return [f"cmake --install failed ({result.returncode}):\n{result.stdout}{result.stderr}"]

    updater = os.path.join(prefix, "bin", "updater")
    if not os.access(updater, os.X_OK):
        return [f"{updater} is missing or not executable"]
    # Run outside the build tree, from a folder with no file named like the flags.
    for flag, needed in (("--version", [args.version]), ("--help", ["-f", "-s"])):
        result = run([updater, flag], cwd=folder)
        if result.returncode != 0 or not all(text in result.stdout for text in needed):
            problems.append(f"{flag}: status {result.returncode}, output {result.stdout!r}; "
                            f"expected status 0 and {needed} in the output")

    manpage = os.path.join(prefix, "share", "man", "man1", "updater.1")
    if not os.path.isfile(manpage):
        problems.append(f"{manpage} is missing")
    else:
        first = read(manpage).split("\n")[0]
        if f'"updater {args.version}"' not in first:
            problems.append(f"manual page title line does not carry version {args.version}: {first!r}")
        if shutil.which("groff"):
            lint = run(["groff", "-man", "-Tutf8", "-ww", "-z", manpage])
            if lint.returncode != 0 or lint.stderr:
                problems.append(f"manual page does not render cleanly:\n{lint.stderr}")
    for doc in ("manifest.md", "manifest.schema.json", "signing.md"):
        if not os.path.isfile(os.path.join(prefix, "share", "doc", "updater", doc)):
            problems.append(f"share/doc/updater/{doc} is missing")
    return problems


def check_package(args, folder):
    config = os.path.join(args.build, "CPackConfig.cmake")
    if not os.path.isfile(config):
        return [f"{config} is missing: the build does not configure CPack"]
    out = os.path.join(folder, "package")
    result = run([args.cpack, "-G", "DEB", "--config", config, "-B", out])
    if result.returncode != 0:
        return [f"cpack -G DEB failed ({result.returncode}):\n{result.stdout}{result.stderr}"]
    debs = glob.glob(os.path.join(out, "*.deb"))
    if len(debs) != 1:
        return [f"expected one .deb in {out}, found {debs}"]
    problems = []
    contents = run(["dpkg-deb", "--contents", debs[0]]).stdout
    for path in ("./usr/bin/updater", "./usr/share/man/man1/updater.1"):
        if path not in contents:
            problems.append(f"{os.path.basename(debs[0])} lacks {path}")
    version = run(["dpkg-deb", "--field", debs[0], "Version"]).stdout.strip()
    if version != args.version:
        problems.append(f"package version {version!r}, expected {args.version!r}")
    return problems


def main():
    args = options(__doc__, "build", "version", tools=["cmake", "cpack"], choices=["install", "package"])
    with scratch(args.check) as folder:
        problems = (check_install if args.check == "install" else check_package)(args, folder)
    return verdict(problems, f"{args.check}: {'FAILED' if problems else 'ok'}")


if __name__ == "__main__":
    sys.exit(main())
