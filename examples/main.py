"""quillex's main job on a real input: read a configuration file and take it apart with a grammar.

Run through scripts/example.sh, which builds the module first.
"""
import os
import sys

import quillex as q

HERE = os.path.dirname(os.path.abspath(__file__))


def main(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()

    # Lines: every line start is a position where LineStart matches; rest_of_line cuts each line out.
    line_count = q.LineStart().search_string_count(text)
    lines = q.rest_of_line().search_string(text)
    print(f"{os.path.basename(path)}: {len(text.encode())} bytes, {line_count} line starts, "
          f"{len(lines)} non-empty lines")
    for line in lines[:3]:
        print(f"  | {line}")

    # The same lines, one parse per line, through the batch methods.
    all_lines = text.split("\n")
    blank = q.StringEnd()
    print(f"blank lines: {blank.parse_batch_count(all_lines)} of {len(all_lines)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "server.conf")))
