#!/usr/bin/env python3
"""Checks that the documents explain every message the program can print:
each piece of message text in the source that prints messages, and each
"cannot <action>", must appear in the manual page (as man shows it) and in
the README. Prints what is missing and exits 1 when anything is.

    tests/check_messages.py [SOURCE_DIR]
"""
import os
import re
import subprocess
import sys

# The files that compose messages, and the literals in them that are not
# message text (names of constants, formats).
MESSAGE_SOURCES = ["src/run_report.cc", "src/output_opening.cc", "src/main.cc",
                   "src/windows_arguments.cc"]
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')


def normalised(text):
    return re.sub(r"\s+", " ", text).strip()


def message_pieces(source_dir):
    pieces = set()
    for name in MESSAGE_SOURCES:
        path = os.path.join(source_dir, name)
        if not os.path.exists(path):
            continue
        code = open(path, encoding="utf-8").read()
        # Only what is handed to the error helpers.
        for call in re.finditer(r"report_(?:error|failure)\((.*?)\);", code, re.S):
            for literal in LITERAL.findall(call.group(1)):
                text = literal.replace('\\"', '"').strip(" ;:(")
                if len(re.findall(r"[a-z]", text)) >= 3:
                    pieces.add(normalised(text))
    diagnostics = open(os.path.join(source_dir, "src/diagnostics.cc"),
                       encoding="utf-8").read()
    actions = re.search(r"kActions\[\] = \{(.*?)\};", diagnostics, re.S).group(1)
    for action in LITERAL.findall(actions):
        pieces.add("cannot " + action)
    return pieces


def main():
    source_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))
    manual = subprocess.run(
        ["groff", "-man", "-Tutf8", "-rHY=0", "-rLL=1000n", "-P-c", "-P-b",
         "-P-u", os.path.join(source_dir, "doc/PlaceHarvest.1")],
        check=True, capture_output=True, text=True).stdout
    documents = {
        "the manual page": normalised(manual.replace("\u2010", "-").replace("\u2212", "-")),
        "README.md": normalised(open(os.path.join(source_dir, "README.md"),
                                     encoding="utf-8").read().replace("`", "")),
    }
    missing = [f"{where} does not explain: {piece!r}"
               for piece in sorted(message_pieces(source_dir))
               for where, text in documents.items() if piece not in text]
    for line in missing:
        print(line)
    print(f"{len(message_pieces(source_dir))} message texts checked against "
          f"{len(documents)} documents: {len(missing)} missing")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
