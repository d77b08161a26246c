#!/usr/bin/env python3
"""The live server under load, on the profile-B demo: meshplay-b-serve follows a result.dat that a
writer appends, and light stream clients (selectors, a few lines each, in worker processes) read
its frames, inflating no more of each steps chunk than its first step and count.

Prints, never asserts:
- latency, from the moment a record's last byte is written to the moment its step is in a
  client: p50, p95 and max over every client and step, with CLIENTS clients, the writer at the
  demo's pace (100 records a second); and the same for the live page itself in headless Chromium,
  connected beside them, a step being in the page when the page says it holds it (its status
  line changes);
- steps delivered per second to each client with the writer flat out, on a run of LONG records
  (the demo's values, times made finer), against reading alone (the same run stepped by
  meshplay-b-export with nothing written, as bench/export.py times it);
- the server's memory (RSS) with no client and no run, after the demo, with CLIENTS clients, and
  after the long run; the run's stored size (what a new client is sent) next to the page's;
- its CPU while nothing is written, over IDLE seconds, with no client and with CLIENTS clients;
- the CPU time it takes to take in the demo's run with one client, written at once and at 200
  records a second, against meshplay-b-html's to read and encode the same run into a page (best
  of REPS; INTAKE_ONLY=1 prints these alone).

Usage: python3 bench/serve.py BUILD_DIR    Environment: CLIENTS (200), LONG (3001), IDLE (10),
WORKERS (2: processes the clients are spread over), REPS (3)."""

import multiprocessing
import os
import resource
import selectors
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import browsers  # noqa: E402
from served import PER_RECORD, split_records  # noqa: E402
import served  # noqa: E402

build = os.path.abspath(sys.argv[1])
CLIENTS = int(os.environ.get("CLIENTS", "200"))
LONG = int(os.environ.get("LONG", "3001"))
IDLE = float(os.environ.get("IDLE", "10"))
WORKERS = int(os.environ.get("WORKERS", "2"))
REPS = int(os.environ.get("REPS", "3"))


class Client:
    """One stream client: the chunked body decoded, frames parsed, each step's arrival time."""

    def __init__(self, port, token):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.sendall(b"GET /run HTTP/1.1\r\nHost: localhost\r\nX-Meshplay-Token: %s\r\n\r\n"
                          % token.encode())
        self.sock.setblocking(False)
        self.raw, self.body, self.head = bytearray(), bytearray(), False
        self.arrivals, self.ended, self.bytes = [], False, 0

    def read(self, now):
        data = self.sock.recv(1 << 20)
        self.bytes += len(data)
        self.raw += data
        if not self.head:
            if b"\r\n\r\n" not in self.raw:
                return
            del self.raw[:self.raw.index(b"\r\n\r\n") + 4]
            self.head = True
        at = 0
        while (line := self.raw.find(b"\r\n", at)) >= 0:
            size = int(self.raw[at:line], 16)
            if len(self.raw) < line + 4 + size:
                break
            self.body += memoryview(self.raw)[line + 2:line + 2 + size]
            at = line + 4 + size
        del self.raw[:at]
        at, view = 0, memoryview(self.body)
        while len(self.body) - at >= 5:
            size = struct.unpack_from("<I", self.body, at + 1)[0]
            if len(self.body) - at < 5 + size:
                break
            kind = self.body[at]
            if kind == 0x52:  # a run begins: what came before is another's
                self.arrivals, self.ended = [], False
            elif kind == 0x53:  # a steps chunk: its first step and count, the rest left deflated
                first, count = struct.unpack("<II", zlib.decompressobj().decompress(
                    view[at + 5:at + 5 + size], 8))
                self.arrivals += [(k, now) for k in range(first, first + count)]
            elif kind == 0x45:
                self.ended = True
            at += 5 + size
        view.release()
        del self.body[:at]


def worker(port, token, count, pipe):
    """`count` clients until told, once every one of them has seen the run's end; then their
    arrivals (the first time each step came) and the bytes each read."""
    sel = selectors.DefaultSelector()
    clients = [Client(port, token) for _ in range(count)]
    for c in clients:
        sel.register(c.sock, selectors.EVENT_READ, c)
    pipe.send("connected")
    told = False
    while not (told and all(c.ended for c in clients)):
        for key, _ in sel.select(0.05):
            key.data.read(time.monotonic())
        told = told or pipe.poll() and pipe.recv()
    pipe.send([(dict(reversed(c.arrivals)), c.bytes) for c in clients])
    for c in clients:
        c.sock.close()


class Crowd:
    """CLIENTS clients over WORKERS processes."""

    def __init__(self, server, count):
        self.pipes = []
        for w in range(WORKERS):
            mine, theirs = multiprocessing.Pipe()
            share = count // WORKERS + (1 if w < count % WORKERS else 0)
            multiprocessing.Process(target=worker, args=(server.port, server.token, share,
                                                         theirs), daemon=True).start()
            self.pipes.append(mine)
        for p in self.pipes:
            p.recv()

    def results(self):
        """Once every client has seen the run end."""
        for p in self.pipes:
            p.send("ended")
        return [r for p in self.pipes for r in p.recv()]


def write(path, records, rate=0.0):
    """Appends the records, at `rate` a second or flat out; the time each one's last byte went."""
    written = []
    with open(path, "ab", buffering=0) as f:
        start = time.monotonic()
        for k, record in enumerate(records):
            if rate:
                time.sleep(max(0.0, start + k / rate - time.monotonic()))
            f.write(record)
            written.append(time.monotonic())
    return written


def flat_out(server, result, records, crowd):
    """A new run written flat out to `crowd`: the steps a second each client got, and the CPU
    time the server spent."""
    with open(result, "wb"):
        pass  # a new run
    time.sleep(0.5)
    before = server.cpu()
    written = write(result, records)
    arrivals = crowd.results()
    return (sorted(len(seen) / (max(seen.values()) - written[0]) for seen, _ in arrivals if seen),
            server.cpu() - before)


def idle_cpu(server):
    time.sleep(2)  # what new clients were sent is on its way
    before = server.cpu()
    time.sleep(IDLE)
    return 100 * (server.cpu() - before) / IDLE


def intake(demo, model):
    """The server's CPU time to take in the demo's run, with one client watching, written at once
    (renamed into place) and at 200 records a second; and the page writer's on the same run.
    Best of REPS each."""
    took = {}
    for rate in (0, 200):
        best = float("inf")
        for _ in range(REPS):
            work = tempfile.mkdtemp(prefix="meshplay-bench-intake-")
            for name in ("geodata.dat", "tridata.dat"):
                shutil.copy(os.path.join(model, name), work)
            server = served.Server(build, work)
            crowd = Crowd(server, 1)
            time.sleep(0.3)
            before = server.cpu()
            result = os.path.join(work, "result.dat")
            if rate:
                write(result, demo, rate)
            else:
                with open(result + ".new", "wb") as f:
                    f.write(b"".join(demo))
                os.rename(result + ".new", result)
            crowd.results()
            best = min(best, server.cpu() - before)
            server.stop()
            shutil.rmtree(work, ignore_errors=True)
        took[rate] = best
    page = float("inf")
    for _ in range(REPS):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run([build + "/meshplay-b-html", "x.html"], cwd=model, check=True,
                       stderr=subprocess.DEVNULL)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        page = min(page, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
    print("Taking in the demo's run (%d records), one client watching: CPU seconds, best of %d" % (
        len(demo), REPS))
    print("  %-44s %6.3f s   %4.2f of the page writer's" % ("written at once", took[0],
                                                          took[0] / page))
    print("  %-44s %6.3f s   %4.2f of the page writer's" % ("at 200 records a second", took[200],
                                                          took[200] / page))
    print("  %-44s %6.3f s" % ("meshplay-b-html on the same run", page))


def main():
    work = tempfile.mkdtemp(prefix="meshplay-bench-serve-")
    server = None
    try:
        subprocess.run([build + "/meshplay-b-demodata", work], check=True,
                       stdout=subprocess.DEVNULL)
        result = os.path.join(work, "result.dat")
        with open(result, "rb") as f:
            demo = split_records(f.read())
        intake(demo, work)
        if os.environ.get("INTAKE_ONLY"):
            return
        os.remove(result)
        # The long run: the demo's values again and again, with times finer, to the same end.
        long_run = [b"%.9e" % (10.0 * k / (LONG - 1)) + demo[k % 1000][len(demo[k % 1000].split(
            None, 1)[0]):] for k in range(LONG)]

        print("Live server, profile-B demo (%d records of %d values), %d clients over %d "
              "processes" % (len(demo), PER_RECORD, CLIENTS, WORKERS))
        server = served.Server(build, work)
        memory = [("no client, no run", server.rss())]
        cpu = [("no client", idle_cpu(server))]

        crowd = Crowd(server, CLIENTS)
        page = browsers.Chromium(dict(os.environ))
        page.open(server.url)
        while not page.run("return !!window.meshplay && meshplay.connected"):
            time.sleep(0.05)
        page.run("""window.arrivals = [];
            new MutationObserver(() => {
              const now = performance.timeOrigin + performance.now();
              while (arrivals.length < meshplay.steps) arrivals.push(now);
            }).observe(document.querySelector(".meshplay .status"),
                       { childList: true, characterData: true, subtree: true });""")
        wall = time.time() - time.monotonic()
        written = write(result, demo, rate=100)
        arrivals = crowd.results()
        time.sleep(1)
        in_page = [t / 1000 - wall - w for t, w in zip(page.run("return arrivals"), written)]
        page.quit()
        latencies = sorted(seen[k] - written[k] for seen, _ in arrivals for k in seen)
        complete = sum(len(seen) == len(demo) for seen, _ in arrivals)
        print("Latency at the demo's pace, record written to step in the client (%d samples, "
              "%d of %d clients got every step):" % (len(latencies), complete, CLIENTS))
        print("  p50 %.1f ms   p95 %.1f ms   max %.1f ms" % tuple(
            1000 * latencies[int(q * (len(latencies) - 1))] for q in (0.5, 0.95, 1.0)))
        in_page.sort()
        print("  the live page in headless Chromium (%d of %d steps): p50 %.1f ms   p95 %.1f ms   "
              "max %.1f ms" % (len(in_page), len(demo), *(
                  1000 * in_page[int(q * (len(in_page) - 1))] for q in (0.5, 0.95, 1.0))))
        memory.append(("the demo's run, %d clients gone" % CLIENTS, server.rss()))

        # What a new client is sent: the whole run, as kept.
        stored = Crowd(server, 1).results()[0][1]
        page = os.path.join(work, "demo.html")
        with open(result, "wb") as f:
            f.write(b"".join(demo))
        subprocess.run([build + "/meshplay-b-html", page], cwd=work, check=True,
                       stderr=subprocess.DEVNULL)
        print("The stored run: %.2f MB sent to a new client; the page of the same run %.2f MB" % (
            stored / 1e6, os.path.getsize(page) / 1e6))

        crowd = Crowd(server, CLIENTS)
        memory.append(("%d clients connected, the demo's run" % CLIENTS, server.rss()))
        cpu.append(("%d clients connected" % CLIENTS, idle_cpu(server)))
        flat = [flat_out(server, result, long_run, crowd)]
        memory.append(("%d clients, after the long run (%d steps)" % (CLIENTS, LONG), server.rss()))
        flat.append(flat_out(server, result, long_run, Crowd(server, 1)))
        server.stop()

        # Reading alone: the same run through the viewer's reader, nothing written; best of 3.
        with open(result, "wb") as f:
            f.write(b"".join(long_run))
        wall = used = float("inf")
        for _ in range(3):
            started, before = time.perf_counter(), os.times()
            subprocess.run([build + "/meshplay-b-export", "none.msh", "--every", "1000000000"],
                           cwd=work, check=True, stdout=subprocess.DEVNULL)
            after = os.times()
            wall = min(wall, time.perf_counter() - started)
            used = min(used, after.children_user + after.children_system -
                       before.children_user - before.children_system)
        print("Writing flat out, %d records (%.0f MB), steps a second; CPU: steps per second of "
              "the server's CPU time:" % (LONG, sum(map(len, long_run)) / 1e6))
        print("  %-34s %8s %8s %8s" % ("", "median", "slowest", "CPU"))
        for (rates, seconds), count in zip(flat, (CLIENTS, 1)):
            print("  %-34s %8.0f %8.0f %8.0f" % ("to each of %d client%s" % (
                count, "s" if count > 1 else ""), statistics.median(rates), rates[0],
                LONG / seconds))
        print("  %-34s %8.0f %8s %8.0f" % ("reading alone (meshplay-b-export)", LONG / wall, "",
                                          LONG / used))
        print("  %d clients against reading alone: %.2f (median), %.2f (CPU)" % (
            CLIENTS, statistics.median(flat[0][0]) * wall / LONG, used / flat[0][1]))
        print("Memory (RSS):")
        for what, mb in memory:
            print("  %-48s %6.1f MB" % (what, mb))
        print("CPU while nothing is written (%g s):" % IDLE)
        for what, percent in cpu:
            print("  %-48s %6.2f %% of a core" % (what, percent))
    finally:
        if server and server.proc.poll() is None:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
