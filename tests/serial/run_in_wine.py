"""Runs one Win32 test program under Wine in a private prefix and passes its
exit code on: run_in_wine.py PREFIX PROGRAM [ARGUMENTS...]"""

import sys

from winelab import WinePrefix


def main():
    prefix_path, program, *arguments = sys.argv[1:]
    prefix = WinePrefix(prefix_path)
    code, output = prefix.run(program, *arguments, timeout=300)
    sys.stdout.write(output)
    if code is None:
        print(f"run_in_wine: {program} did not end in time")
        return 1
    return code


if __name__ == "__main__":
    sys.exit(main())
