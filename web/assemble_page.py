#!/usr/bin/env python3
"""Puts PlaceHarvest.html together: the page, with the engine's script and
the worker's inside it as the worker's source, and the WebAssembly module
inside it in base64, so that the one file works on its own.

    assemble_page.py PAGE ENGINE_JS WORKER_JS MODULE OUTPUT
"""
import base64
import sys


def main(page, engine, worker, module, output):
    text = open(page, encoding="utf-8").read()
    scripts = {}
    for marker, path in (("/* engine.js */", engine), ("/* worker.js */", worker)):
        script = open(path, encoding="utf-8").read()
        # Inside a script element, this would end it.
        if "</script" in script.lower():
            sys.exit(f"{path} holds '</script', which would end the page's script")
        scripts[marker] = script
    for marker, script in scripts.items():
        if text.count(marker) != 1:
            sys.exit(f"{page} must hold {marker} once")
        text = text.replace(marker, script)
    encoded = base64.b64encode(open(module, "rb").read()).decode("ascii")
    if text.count("/* module */") != 1:
        sys.exit(f"{page} must hold /* module */ once")
    text = text.replace("/* module */", encoded)
    with open(output, "w", encoding="utf-8", newline="\n") as page_file:
        page_file.write(text)


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    main(*sys.argv[1:])
