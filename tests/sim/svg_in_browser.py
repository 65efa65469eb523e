#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""tavrel-sim --svg, as a browser shows it: a run of the button example
(a press, then the quit pattern) is drawn, the picture is rendered by
headless Chromium to a PNG, and the pixels are checked against the run's
own waveform (--vcd from the same run), the oracle: a row for each pin
the run touched, its trace at the level the waveform has over each
stretch, and the band of an output in the output colour.

Usage: svg_in_browser.py TAVREL_SIM BUTTON_EXAMPLE CHROMIUM
"""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib
import struct

sim, example, chromium = sys.argv[1:4]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def png_pixels(path):
    """Width, height and a pixel getter of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    i, idat = 8, b""
    while i < len(data):
        n = struct.unpack(">I", data[i:i + 4])[0]
        kind, chunk = data[i + 4:i + 8], data[i + 8:i + 8 + n]
        if kind == b"IHDR":
            w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunk)
            assert depth == 8 and colour in (2, 6) and interlace == 0, (depth, colour, interlace)
        elif kind == b"IDAT":
            idat += chunk
        i += 12 + n
    bpp = 3 if colour == 2 else 4
    raw, stride, rows, prev, at = zlib.decompress(idat), w * bpp, [], bytearray(w * bpp), 0
    for _ in range(h):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b, c = prev[x], (prev[x - bpp] if x >= bpp else 0)
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return w, h, lambda x, y: tuple(rows[int(y)][int(x) * bpp:int(x) * bpp + 3])


def levels_of(vcd):
    """{pin: [(us, level), ...]} from the dump's level wires."""
    ids, changes, now, body = {}, {}, 0, False
    for line in open(vcd):
        words = line.split()
        if words[:1] == ["$var"] and words[4].startswith("gpio") and words[4][4:].isdigit():
            ids[words[3]] = int(words[4][4:])
            changes[int(words[4][4:])] = []
        elif words[:1] == ["$enddefinitions"]:
            body = True
        elif body and line.startswith("#"):
            now = int(line[1:])
        elif body and line[:1] in "01" and line[1:].strip() in ids:
            changes[ids[line[1:].strip()]].append((now, int(line[0])))
    return changes


def trace_blue(p):
    return p[2] > p[0] + 60 and p[2] > 120


with tempfile.TemporaryDirectory() as tmp:
    run = subprocess.run([sim, "--board", os.path.join(tmp, "board"), "--reset", "--drive", "100:4=0",
                          "--drive", "300:4=z", "--drive", "400:24-27=0", "--drive", "450:24-27=1",
                          "--vcd", os.path.join(tmp, "run.vcd"), "--svg", os.path.join(tmp, "run.svg"), "--",
                          example], stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    check(run.returncode == 0, "the run ends with status 0: " + run.stderr.strip())
    svg = ET.parse(os.path.join(tmp, "run.svg")).getroot()
    width, height = int(svg.get("width")), int(svg.get("height"))
    x0, plot, end_us = float(svg.get("data-x0")), float(svg.get("data-plot-width")), int(svg.get("data-end-us"))
    rows = {int(g.get("data-pin")): g for g in svg.iter("{http://www.w3.org/2000/svg}g")}
    waves = levels_of(os.path.join(tmp, "run.vcd"))
    check(sorted(rows) == sorted(waves), "a row for each pin the waveform has: %s" % sorted(rows))
    check(4 in rows and 17 in rows, "the button (4) and the LED (17) among them")

    # Headless Chromium paints an SVG document's first line alone; as an
    # image in a page it draws the whole picture.
    page = os.path.join(tmp, "run.html")
    with open(page, "w") as f:
        f.write('<!DOCTYPE html><html><body style="margin:0"><img src="run.svg" style="display:block"></body></html>')
    png = os.path.join(tmp, "run.png")
    shot = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                           "--user-data-dir=" + os.path.join(tmp, "profile"), "--window-size=%d,%d" % (width, height),
                           "--screenshot=" + png, "file://" + page], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120)
    check(os.path.exists(png), "Chromium renders the picture")
    w, h, pixel = png_pixels(png)
    check((w, h) == (width, height), "at the picture's own size, %dx%d" % (w, h))

    def x_of(us):
        return x0 + plot * us / end_us

    stretches = 0
    for pin, changes in waves.items():
        g = rows[pin]
        y = {1: float(g.get("data-high")), 0: float(g.get("data-low"))}
        times = [t for t, _ in changes] + [end_us]
        for (start, level), stop in zip(changes, times[1:]):
            if x_of(stop) - x_of(start) < 8:
                continue
            x = (x_of(start) + x_of(stop)) / 2
            stretches += 1
            check(trace_blue(pixel(x, y[level])) and not trace_blue(pixel(x, y[1 - level])),
                  "GPIO%d at %d from %.1f to %.1f ms, drawn there" % (pin, level, start / 1e3, stop / 1e3))
    check(stretches >= 6, "%d stretches checked" % stretches)

    # The LED is an output from its first change to its last: its band
    # is green there.
    led = waves[17]
    middle = x_of((led[1][0] + led[-1][0]) / 2) if len(led) > 2 else x0 + plot / 2
    band = pixel(middle, float(rows[17].get("data-band")) + 2)
    check(band[1] > band[0] + 10 and band[1] > band[2] + 10, "GPIO17's band is an output's, green: %s" % (band,))

print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
