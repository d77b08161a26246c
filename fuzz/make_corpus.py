#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<program>-fuzz/seed-*.

An input is the three files joined by NUL bytes, then optionally a NUL and control bytes (see
viewer_fuzzer.cpp). The profile constants are taken from the profile headers, so the valid grids
stay valid when a profile changes. Other files are left alone: regression cases kept from fuzzing
runs, and the coverage inputs (cov-*) that fuzz/merge_corpus.sh keeps.
"""
import pathlib
import random
import re

ROOT = pathlib.Path(__file__).resolve().parent.parent
SEP = b"\0"

# Control bytes: the first is the read() limit (0: none), then one action each.
FRAME, KEY_N, KEY_E, KEY_R, KEY_S, UP, DOWN = 0, 1, 2, 3, 4, 5, 6
LEFT_DOWN, LEFT_UP, RIGHT_DOWN, RIGHT_UP, MIDDLE_DOWN, IDLE = 7, 8, 9, 10, 11, 15


def programs():
    text = (ROOT / "CMakeLists.txt").read_text()
    for name, header in re.findall(r"^meshplay_add_program\((\S+)\s+(\S+)\)", text, re.M):
        values = dict(
            re.findall(r"constexpr\s+\w+\s+(\w+)\s*=\s*([-0-9.e]+);",
                       (ROOT / "profiles" / header).read_text()))
        yield name, {k: float(v) if "." in v else int(v) for k, v in values.items()}


class Grid:
    def __init__(self, p):
        self.p = p
        self.nx, self.ny = p["NX"], p["NY"]
        self.nodes = (self.nx + 1) * (self.ny + 1)

    def node_text(self, count=None):
        lines = []
        for i in range(self.nodes if count is None else count):
            x = (i % (self.nx + 1)) * self.p["DX"]
            y = (i // (self.nx + 1)) * self.p["DY"]
            lines.append(f"{i} {x:.6g} {y:.6g}")
        return "\n".join(lines) + "\n"

    def element_text(self, count=None):
        lines = []
        for j in range(self.ny):
            for i in range(self.nx):
                a = j * (self.nx + 1) + i
                b, c = a + 1, a + self.nx + 1
                d = c + 1
                lines.append(f"{len(lines)} {a} {b} {d}")
                lines.append(f"{len(lines)} {a} {d} {c}")
        if count is not None:
            lines = lines[:count]
        return "\n".join(lines) + "\n"

    def record_text(self, t, moved=0, dx="0.001", dy="-0.002"):
        header = [t] + ["0.5"] * (self.p["HEADER_VALUES"] - 1)
        pairs = [f"{dx} {dy}" if i == moved else "0 0" for i in range(self.p["VECTOR_PAIRS"])]
        base = ["0.25 0"] * self.p["BASE_PAIRS"]
        return " ".join(header) + "\n" + "\n".join(pairs + base) + "\n"


def join(geo, tri, res, controls=None):
    parts = [x.encode("latin-1") if isinstance(x, str) else x for x in (geo, tri, res)]
    data = SEP.join(parts)
    if controls is not None:
        data += SEP + bytes(controls)
    return data


def seeds(g):
    p = g.p
    end = str(p["T_END"])
    nodes, elements = g.node_text(), g.element_text()
    three = g.record_text("0") + g.record_text("0.1", 5) + g.record_text("0.2", 6)
    yield "valid-grid", join(nodes, elements, three)
    # Plays through the end of the run: the result file is reopened and playback starts again.
    to_end = g.record_text("0") + g.record_text(str(p["T_END"] - 0.5), 3) + g.record_text(end)
    yield "run-to-end", join(nodes, elements, to_end, [0, LEFT_DOWN, LEFT_UP] + [IDLE] * 8)
    one = g.record_text("0.05", 7)
    yield "rewind-and-keys", join(nodes, elements, one,
                                  [0, KEY_R, FRAME, KEY_N, KEY_E, KEY_S, KEY_S, MIDDLE_DOWN,
                                   RIGHT_DOWN, IDLE, RIGHT_UP, KEY_N, KEY_E] + [UP] * 14 + [DOWN])
    # Reads cut short: fields straddle refills of the buffer.
    for limit in (1, 7, 63):
        yield f"valid-grid-reads-of-{limit}", join(nodes, elements, one, [limit, FRAME, FRAME])
    # Truncated files: mid-record and mid-number.
    yield "truncated-records", join(nodes[: len(nodes) // 2] + "17 0.0",
                                    elements[: len(elements) // 3] + "40 3 4",
                                    g.record_text("0") + g.record_text("0.1")[:200])
    yield "truncated-in-exponent", join("0 1e", "0 1 2 ", "0.125e+")
    yield "truncated-in-word", join("0 inf 0 1 infin", "0 -", "0.1 0 0 nan 0 n", [0] * 4)
    # Values beyond the ordinary: not numbers, infinities, overflow and underflow.
    odd = "nan -nan inf -inf +infinity INF NaN 1e400 -1e400 1e-400 4.9e-324 2.2250738585072011e-308"
    words = odd.split()
    node_lines = "\n".join(f"{i} {words[i % len(words)]} {words[(i + 3) % len(words)]}"
                           for i in range(g.nodes))
    rec = [w for w in words for _ in range(2)]
    vectors = " ".join(rec * (2 * p["VECTOR_PAIRS"] // len(rec) + 1))
    yield "nonfinite-values", join(node_lines, elements, f"nan {vectors}\n" + g.record_text("0.3"))
    for t in ("nan", "inf", "-inf", "1e400", "-2", "-1", end + ".999", end, "1e300", "-0"):
        yield f"time-{t}", join(node_lines[:200], "0 0 1 12\n", f"{t} {' '.join(words)}\n0.25")
    # Element indices outside the node table, and a fraction where an index belongs.
    bad = ["-1", str(g.nodes), "2147483647", "2147483648", "-2147483648", "-2147483649",
           "99999999999999999999", "+5", "-0", "007"]
    bad_elements = "\n".join(f"{i} {bad[i % len(bad)]} {bad[(i + 1) % len(bad)]} 0"
                             for i in range(len(bad) * 2))
    yield "element-indices-out-of-table", join(nodes, bad_elements + "\n" + elements, one)
    yield "fraction-for-index", join(nodes, "0 1.5 2 3\n1 2 3 4\n", one)
    yield "fraction-for-node-number", join("0.5 0 0\n1 0.005 0\n", elements, one)
    # Number syntax at its edges.
    edge = ("0x10 +.5 -.5e-3 . +-1 -+1 1e 1e+ 1e+5x 1.5.5 infinit nanq nan(12) .e1 1.e2 "
            "\v\f\t\r 00012 -0x1p3 1E-2 +inf -infinity")
    yield "number-syntax-edges", join(edge, edge, edge)
    yield "number-syntax-edges-reads-of-3", join(edge, edge, edge, [3, FRAME, FRAME, FRAME])
    # Long fields: more digits than any double needs, exponents beyond any range.
    digits = "1234567890" * 90
    long_fields = (f"0 {digits} 0.{'0' * 400}{digits}e400\n1 {digits}e-999999999999999999999 "
                   f"-{'0' * 300}.{'0' * 300}\n2 1{'0' * 800}1e-800 0\n")
    yield "long-numbers", join(long_fields, "0 " + "9" * 200 + " 1 2\n", f"{digits} 0.{digits}")
    yield "long-numbers-reads-of-5", join(long_fields, "0 " + "9" * 200 + " 1 2\n",
                                          f"0.{digits}e-3 {digits}", [5, FRAME, FRAME])
    # Several blocks in the node and element files: each frame reads the next.
    yield "several-blocks", join(nodes + g.node_text(), elements + elements,
                                 one, [0, FRAME, FRAME, FRAME])
    # Missing files: fewer parts than three, and empty ones.
    yield "only-nodes", nodes.encode()
    yield "no-results", join(nodes, elements, "")[:-1]
    yield "empty-files", join("", "", "")
    # Header values of the profile only partly there.
    yield "header-only", join(nodes, elements, "0.5 ")
    # Something else in the file's place: random bytes (no NUL in the first two parts).
    rng = random.Random(1)
    junk = lambda n, nul: bytes(b for b in rng.randbytes(n) if nul or b != 0)
    yield "binary-junk", join(junk(300, False), junk(300, False), junk(600, True))
    yield "binary-junk-after-numbers", join(nodes[:100].encode() + junk(200, False),
                                            elements[:100].encode() + junk(200, False),
                                            three[:300].encode() + junk(200, True),
                                            [2, FRAME])


def main():
    for name, profile in programs():
        out = ROOT / "fuzz" / "corpus" / f"{name}-fuzz"
        out.mkdir(parents=True, exist_ok=True)
        for old in out.glob("seed-*"):
            old.unlink()
        for seed_name, data in seeds(Grid(profile)):
            (out / f"seed-{seed_name}").write_bytes(data)


if __name__ == "__main__":
    main()
