#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Renders a tavrel-sim Value Change Dump as an SVG waveform.

    python3 docs/vcd2svg.py RUN.vcd [--from US] [--to US] > waves.svg

Level signals (gpioN) are drawn as digital traces, functions and pulls
(the bits gpioN_fn2.._fn0 and gpioN_pull1.._pull0) as bands labelled with
their names; a time axis runs along the bottom.
"""
import sys
from xml.sax.saxutils import escape


def parse(path):
    ids, order, changes, time = {}, [], {}, 0
    tokens = open(path).read().split()
    i = 0
    while i < len(tokens):
        t = tokens[i]
        if t == "$var":
            kind, ident, name = tokens[i + 1], tokens[i + 3], tokens[i + 4]
            ids[ident] = name
            order.append((name, kind))
            changes[name] = []
            i += 6
            continue
        if t.startswith("#"):
            time = int(t[1:])
        elif t.startswith("s"):
            changes[ids[tokens[i + 1]]].append((time, t[1:]))
            i += 1
        elif t[0] in "01xz" and t[1:] in ids:
            changes[ids[t[1:]]].append((time, t[0]))
        i += 1
    return combine(order, changes), changes, time


FUNCTIONS = ["input", "output", "alt5", "alt4", "alt0", "alt1", "alt2", "alt3"]
PULLS = ["off", "down", "up", "off"]


def combine(order, changes):
    """The bits of each pin's function and pull, as one named signal each."""
    combined = []
    for name, kind in order:
        for group, bits, names in (("_fn", 3, FUNCTIONS), ("_pull", 2, PULLS)):
            if name.endswith(group + str(bits - 1)):
                base = name[:-1]
                wires = [base + str(b) for b in range(bits - 1, -1, -1)]
                events = sorted((t, wire, v) for wire in wires for t, v in changes.get(wire, []))
                now, merged = {wire: "0" for wire in wires}, []
                for k, (t, wire, v) in enumerate(events):
                    now[wire] = v
                    if k + 1 < len(events) and events[k + 1][0] == t:
                        continue  # the rest of this time's bits first
                    label = names[int("".join(now[w] for w in wires), 2)]
                    if not merged or merged[-1][1] != label:
                        merged.append((t, label))
                changes[base] = merged
                combined.append((base, "string"))
        if name[-1:].isdigit() and ("_fn" in name or "_pull" in name):
            continue
        combined.append((name, kind))
    return combined


def render(path, start=None, end=None):
    order, changes, last = parse(path)
    start = start if start is not None else 0
    end = end if end is not None else max(last, 1)
    left, width, row, top = 110, 900, 26, 20
    x = lambda t: left + (min(max(t, start), end) - start) * width / (end - start)
    rows = [name for name, _ in order]
    height = top + row * len(rows) + 50
    out = ["<!-- SPDX-License-Identifier: MIT -->",
           f'<svg xmlns="http://www.w3.org/2000/svg" width="{left + width + 50}" height="{height}" '
           f'font-family="monospace" font-size="12">',
           f'<rect width="100%" height="100%" fill="#1e1e1e"/>']
    for r, (name, kind) in enumerate(order):
        y0 = top + r * row
        out.append(f'<text x="8" y="{y0 + 16}" fill="#d0d0d0">{escape(name)}</text>')
        values = changes[name]
        spans = []
        for k, (t, v) in enumerate(values):
            t_next = values[k + 1][0] if k + 1 < len(values) else end
            if t_next >= start and t <= end:
                spans.append((t, t_next, v))
        if kind == "string":
            for t, t_next, v in spans:
                x1, x2 = x(t), x(t_next)
                out.append(f'<rect x="{x1:.1f}" y="{y0 + 4}" width="{max(x2 - x1, 0.5):.1f}" height="{row - 8}" '
                           f'fill="#2d4a6b" stroke="#6fa8dc"/>')
                if x2 - x1 > 8 * len(v):
                    out.append(f'<text x="{x1 + 4:.1f}" y="{y0 + 16}" fill="#ffffff">{escape(v)}</text>')
        else:
            points = []
            for t, t_next, v in spans:
                y = y0 + 5 if v == "1" else y0 + row - 5
                points += [(x(t), y), (x(t_next), y)]
            if points:
                path_d = " ".join(f"{px:.1f},{py:.1f}" for px, py in points)
                out.append(f'<polyline points="{path_d}" fill="none" stroke="#7fd17f" stroke-width="1.5"/>')
    axis_y = top + row * len(rows) + 10
    out.append(f'<line x1="{left}" y1="{axis_y}" x2="{left + width}" y2="{axis_y}" stroke="#888"/>')
    for k in range(11):
        t = start + (end - start) * k / 10
        out.append(f'<line x1="{x(t):.1f}" y1="{axis_y}" x2="{x(t):.1f}" y2="{axis_y + 5}" stroke="#888"/>')
        out.append(f'<text x="{x(t) - 15:.1f}" y="{axis_y + 20}" fill="#aaaaaa">{t / 1000:.1f} ms</text>')
    out.append("</svg>")
    return "\n".join(out)


if __name__ == "__main__":
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    start = end = None
    if "--from" in args:
        start = int(args[args.index("--from") + 1])
    if "--to" in args:
        end = int(args[args.index("--to") + 1])
    print(render(args[0], start, end))
