#!/usr/bin/env python3
"""Assembles the Windows release archive from the win32 and win64 builds and
the texts in packaging/. The same inputs give the same bytes: the entries are stored in
a fixed order, with fixed permissions and one date, the date of the commit
built (or SOURCE_DATE_EPOCH when set)."""

import argparse
import os
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "winelab"))
from winelab import run  # noqa: E402

# (name in the archive, tree: "source", "win32" or "win64", path there, text?)
# in the order stored. Text files get Windows line ends. The 32-bit files keep
# the places they have always had; the x64 ones sit in x64 folders beside them.
CONTENTS = (
    ("README.txt", "source", "packaging/README.txt", True),
    ("Wendlev14.EXE", "win32", "app/Wendlev14.EXE", False),
    ("x64/Wendlev14.EXE", "win64", "app/Wendlev14.EXE", False),
    ("include/wendle.h", "source", "exports/wendle.h", True),
    ("lib/libwendle.a", "win32", "exports/libwendle.a", False),
    ("lib/wendle.def", "win32", "exports/wendle-exports.def", True),
    ("lib/x64/libwendle.a", "win64", "exports/libwendle.a", False),
    ("lib/x64/wendle.def", "win64", "exports/wendle-exports.def", True),
    ("vba/Wendle.bas", "source", "packaging/Wendle.bas", True),
    ("examples/hello.c", "source", "packaging/hello.c", True),
)

EARLIEST_ZIP_TIME = 315532800  # 1980-01-01, where zip dates begin


def archive_epoch(source_dir):
    """SOURCE_DATE_EPOCH, else the time of the commit checked out, else the
    earliest date a zip can hold: never the clock, so a rebuild compares."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        return int(run(["git", "-C", source_dir, "log", "-1", "--format=%ct"]).stdout.strip())
    except (OSError, ValueError):
        return EARLIEST_ZIP_TIME


def entry_bytes(path, text, version):
    with open(path, "rb") as f:
        data = f.read()
    if not text:
        return data
    if b"\r" in data:
        raise ValueError(f"{path}: carriage return in a text kept with Unix line ends")
    data = data.replace(b"@VERSION@", version.encode("ascii"))
    return data.replace(b"\n", b"\r\n")


def write_archive(output, trees, version, epoch):
    """Writes the archive; `trees` maps each tree of CONTENTS to its folder."""
    stamp = time.gmtime(max(epoch, EARLIEST_ZIP_TIME))[:6]
    folder = os.path.dirname(os.path.abspath(output))
    os.makedirs(folder, exist_ok=True)
    # Written beside the target and renamed into place: a failed run leaves
    # no half-written archive under the release's name.
    handle, partial = tempfile.mkstemp(prefix=".partial-", suffix=".zip", dir=folder)
    os.close(handle)
    try:
        with zipfile.ZipFile(partial, "w") as archive:
            for name, tree, path, text in CONTENTS:
                data = entry_bytes(os.path.join(trees[tree], path), text, version)
                info = zipfile.ZipInfo(name, date_time=stamp)
                info.create_system = 3  # Unix, so that the permissions below count
                mode = 0o755 if name.endswith(".EXE") else 0o644
                info.external_attr = (0o100000 | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, data, compresslevel=9)
                print(f"  {name:20} {len(data):8} bytes")
        # mkstemp made it 0600; a release is for everyone to read, as the
        # umask allows (0644 under the usual 022).
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(partial, 0o666 & ~umask)
        os.replace(partial, output)
    finally:
        if os.path.exists(partial):
            os.unlink(partial)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the repository's top folder")
    parser.add_argument("--win32", required=True, help="the win32 build folder")
    parser.add_argument("--win64", required=True, help="the win64 build folder")
    parser.add_argument("--version", required=True, help="the release number, e.g. 1.4")
    parser.add_argument("--output", required=True, help="the archive to write")
    args = parser.parse_args()
    try:
        trees = {"source": args.source, "win32": args.win32, "win64": args.win64}
        write_archive(args.output, trees, args.version, archive_epoch(args.source))
    except (OSError, ValueError) as error:
        print(f"package: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
