"""Runs a Win32 test program in a prefix of its own and passes its exit code
on: exportlab.py PREFIX PROGRAM [ARGUMENTS...]"""

import sys

from winelab import WinePrefix, test_main


def run_program():
    prefix_path, program, *arguments = sys.argv[1:]
    code, output = WinePrefix(prefix_path).run(program, *arguments, timeout=300)
    print(output if code is not None else output + f"\n{program} did not end in time")
    return 1 if code is None else code


if __name__ == "__main__":
    test_main(main=run_program)
