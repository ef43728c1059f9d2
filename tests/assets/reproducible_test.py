#!/usr/bin/python3
# Runs the asset build twice, with a different clock for the font tools and different file
# times on the inputs, and checks that both runs give the same octets: what the build lays
# out must depend on the inputs' contents alone.
# Usage: reproducible_test.py ASSETS_DIR UI_FONT CODE_FONT

import os
import shutil
import subprocess
import sys
import tempfile


def build(scripts, fonts, directory, clock):
    environment = dict(os.environ, SOURCE_DATE_EPOCH=str(clock))
    python = [sys.executable, "-B"]
    inputs = []
    for name, source in fonts:
        copy = os.path.join(directory, name)
        shutil.copyfile(source, copy)
        os.utime(copy, (clock, clock))
        inputs.append(f"{name}={copy}")
    icons = os.path.join(directory, "ICONS")
    subprocess.run(python + [os.path.join(scripts, "make_icon_font.py"), icons], env=environment, check=True)
    subprocess.run(python + [os.path.join(scripts, "make_logo.py"), os.path.join(directory, "LOGO")],
                   env=environment, check=True)
    subprocess.run(python + [os.path.join(scripts, "pack_archive.py"), os.path.join(directory, "quarn.data")] +
                   inputs + [f"ICONS={icons}"], env=environment, check=True)
    return {name: open(os.path.join(directory, name), "rb").read() for name in ("ICONS", "LOGO", "quarn.data")}


def main():
    scripts, ui_font, code_font = sys.argv[1:4]
    fonts = [("UI_FONT", ui_font), ("CODE_FONT", code_font)]
    with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
        a = build(scripts, fonts, first, 1000000000)
        b = build(scripts, fonts, second, 2000000000)
    differing = [name for name in a if a[name] != b[name]]
    if differing:
        sys.exit(f"the asset build is not reproducible: {', '.join(differing)} differ between runs")
    print("asset build reproducible:", ", ".join(f"{name} {len(data)} octets" for name, data in a.items()))


if __name__ == "__main__":
    main()
