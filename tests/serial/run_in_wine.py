"""Runs one Win32 test program under Wine in a private prefix and passes its
exit code on: run_in_wine.py PREFIX PROGRAM [ARGUMENTS...]"""

import sys

from winelab import WinePrefix

prefix_path, program, *arguments = sys.argv[1:]
code, output = WinePrefix(prefix_path).run(program, *arguments, timeout=300)
sys.stdout.write(output)
if code is None:
    print(f"run_in_wine: {program} did not end in time")
sys.exit(1 if code is None else code)
