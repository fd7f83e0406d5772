#!/usr/bin/env python3
"""Checks PlaceHarvest on huge and hostile inputs. Opt-in, not run by CI: it
takes a few minutes and up to 3 GiB of the RAM disk.

    tests/huge_inputs.py [--program PATH] [--folder DIR]

- A 5 GiB generated tree streamed through a pipe, ending in a cut-short
  record: the sizes of both outputs, the number of place blocks and the line
  number in the message must match what the generator wrote, and memory must
  stay flat.
- A place record cut short at line 3,000,000,000, through a pipe: counters
  wider than 32 bits.
- A single line of 512 MiB; files of nothing but line feeds, of nothing but
  NUL bytes and of nothing but "0 _PLAC " lines, each as a file and through
  a pipe at two sizes: the time must grow in proportion to the size, and
  memory must stay within a few MiB, plus the longest line from a pipe.

Builds a Release binary first unless --program names one.
"""

import argparse
import itertools
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1 << 20
CHUNK = 4 * MIB
failures = []


def check(condition, what):
    print(("  ok    " if condition else "  FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def run(program, folder, input_path, feed=None):
    """Runs the program on `input_path` (or on /dev/stdin fed by the
    generator `feed`), with the cleaned file counted from a pipe. Returns
    (status, stderr, cleaned size, coordinates path, seconds, peak KiB)."""
    coordinates = os.path.join(folder, "coordinates.ged")
    usage = os.path.join(folder, "usage")
    command = ["/usr/bin/time", "-o", usage, "-f", "%M", program,
               input_path or "/dev/stdin", coordinates, "/dev/stdout"]
    start = time.perf_counter()
    process = subprocess.Popen(
        command, stdin=subprocess.PIPE if feed else subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if feed:
        def write_all():
            try:
                for piece in feed:
                    process.stdin.write(piece)
            finally:
                process.stdin.close()
        writer = threading.Thread(target=write_all)
        writer.start()
    cleaned = 0
    while True:
        piece = process.stdout.read(CHUNK)
        if not piece:
            break
        cleaned += len(piece)
    error = process.stderr.read().decode(errors="replace")
    status = process.wait()
    if feed:
        writer.join()
    seconds = time.perf_counter() - start
    with open(usage) as text:
        peak = int(text.read().split()[-1])
    error = "\n".join(line for line in error.splitlines()
                      if not line.startswith("Command exited"))
    return status, error, cleaned, coordinates, seconds, peak


def repeated(unit, size):
    """`unit` over and over, as many whole times as fit in `size` bytes."""
    block = unit * (CHUNK // len(unit))
    left = size - size % len(unit)
    while left > 0:
        piece = block[:left]
        left -= len(piece)
        yield piece


def write_file(path, pieces):
    with open(path, "wb") as out:
        for piece in pieces:
            out.write(piece)


def five_gib_tree(program, folder, generator):
    print("5 GiB generated tree through a pipe, cut short at the end")
    generate = subprocess.Popen([generator, "5G", "--cut-short"],
                                stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
    feed = iter(lambda: generate.stdout.read(CHUNK), b"")
    status, error, cleaned, coordinates, seconds, peak = run(
        program, folder, None, feed)
    stats = dict(item.split("=") for item in
                 generate.stderr.read().decode().split())
    generate.wait()
    stats = {key: int(value) for key, value in stats.items()}
    blocks = 0
    with open(coordinates, "rb") as text:
        for line in text:
            blocks += line.startswith(b"2 PLAC")
    print(f"  {stats['bytes'] / 2**30:.2f} GiB in {seconds:.1f} s, "
          f"peak {peak} KiB")
    check(status == 2, "status 2 for the cut-short record")
    check(error == "PlaceHarvest: /dev/stdin: left out "
          f"{stats['left_out_lines']} lines of place records that are not "
          "MAP, LATI, LONG, ZOOM or PLEV; the first is line "
          f"{stats['first_left_out_line']}\n"
          "PlaceHarvest: /dev/stdin: the place record at line "
          f"{stats['cut_short_line']} is cut short by the end of the file",
          f"messages name {stats['left_out_lines']} lines left out and "
          f"line {stats['cut_short_line']}")
    check(cleaned == stats["bytes"] - stats["place_bytes"],
          "cleaned file holds every line outside the place records")
    check(blocks == stats["place_records"],
          f"{stats['place_records']} place blocks")
    check(peak <= 8 * 1024, "peak memory at most 8 MiB")


def line_three_billion(program, folder):
    print("a record cut short at line 3,000,000,000, through a pipe")
    lines_before = 2_999_999_999

    def feed():
        yield from repeated(b"\n", lines_before)
        yield b"0 _PLAC X\n1 MAP\n"

    status, error, cleaned, coordinates, seconds, peak = run(
        program, folder, None, feed())
    with open(coordinates, "rb") as text:
        blocks = text.read()
    print(f"  {seconds:.1f} s, peak {peak} KiB")
    check(status == 2 and error == "PlaceHarvest: /dev/stdin: the place "
          "record at line 3000000000 is cut short by the end of the file",
          "reported at line 3000000000")
    check(cleaned == lines_before, "every line feed in the cleaned file")
    check(blocks == b"2 PLAC X\n3 MAP\n0 TLR\n", "the block and the trailer")


def hostile(program, folder):
    kinds = {
        "one line": lambda size: itertools.chain(
            [b"1 NOTE "], repeated(b"x", size), [b"\n"]),
        "line feeds": lambda size: repeated(b"\n", size),
        "NUL bytes": lambda size: repeated(b"\0", size),
        "place lines": lambda size: repeated(b"0 _PLAC \n", size),
    }
    sizes = (128 * MIB, 512 * MIB)
    for kind, make in kinds.items():
        for piped in (False, True):
            times = []
            for size in sizes:
                path = None
                if not piped:
                    path = os.path.join(folder, "input.ged")
                    write_file(path, make(size))
                status, error, cleaned, _, seconds, peak = run(
                    program, folder, path, None if path else make(size))
                if path:
                    os.remove(path)
                times.append(seconds)
                # A file's long line is read twice rather than held.
                longest = (size if piped and kind in ("one line", "NUL bytes")
                           else 9)
                expected = 2 if kind == "place lines" else 0
                name = (f"{kind}, {size // MIB} MiB, "
                        f"{'pipe' if piped else 'file'}")
                print(f"{name}: {seconds:.2f} s, peak {peak} KiB")
                check(status == expected, f"{name}: status {expected}")
                check(peak * 1024 <= 16 * MIB + 2.2 * longest,
                      f"{name}: memory within a few MiB plus the longest "
                      "line held")
            check(times[1] < 6 * max(times[0], 0.05),
                  f"{kind}: four times the size takes "
                  f"{times[1] / max(times[0], 1e-9):.1f} times as long")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program")
    parser.add_argument("--folder", default="/dev/shm")
    arguments = parser.parse_args()
    # The same Release build as the benchmark's, so neither builds twice.
    build = os.path.join(SOURCE, "build", "bench")
    if not arguments.program:
        subprocess.run(["cmake", "-S", SOURCE, "-B", build,
                        "-DCMAKE_BUILD_TYPE=Release",
                        "-DPLACEHARVEST_BUILD_TESTS=OFF"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "--parallel"],
                       check=True, stdout=subprocess.DEVNULL)
    program = arguments.program or os.path.join(build, "PlaceHarvest")
    generator = os.path.join(build, "generate_gedcom")
    folder = tempfile.mkdtemp(prefix="placeharvest-huge-",
                              dir=arguments.folder)
    try:
        if os.path.exists(generator):
            five_gib_tree(program, folder, generator)
        line_three_billion(program, folder)
        hostile(program, folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all passed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
