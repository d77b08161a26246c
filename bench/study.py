#!/usr/bin/env python3
"""A study served by meshplay-b-serve, on the profile-B demo. Prints, never asserts:

- ENDED ended runs (hard links of the demo's files): the time from the server's address line to
  the index painted with every row in headless Chromium; the server's memory before the index,
  after it, and after one run's page is opened; how long that page takes to hold the whole run;
- WRITTEN runs written at once, each at RATE records a second by writer processes: the server's
  CPU over the writing (a share of one core), and for one run watched in its live page, the time
  from a record's last byte written to its step in the page, p50 and p95;
- the server's CPU while nothing is written, over IDLE seconds, with ENDED runs listed.

Usage: python3 bench/study.py BUILD_DIR    Environment: ENDED (500), WRITTEN (100), RATE (20),
SECONDS (10: how long the runs are written), IDLE (10)."""

import multiprocessing
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import browsers  # noqa: E402
from served import PER_RECORD, Server, split_records  # noqa: E402

build = os.path.abspath(sys.argv[1])
ENDED = int(os.environ.get("ENDED", "500"))
WRITTEN = int(os.environ.get("WRITTEN", "100"))
RATE = float(os.environ.get("RATE", "20"))
SECONDS = float(os.environ.get("SECONDS", "10"))
IDLE = float(os.environ.get("IDLE", "10"))


def poll(fn, timeout=60):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        got = fn()
        if got:
            return got
        time.sleep(0.01)
    raise SystemExit("timed out")


def writer(paths, records, rate, start, written):
    """Appends `records` to each of `paths` at `rate` a second from `start`; the time each record
    of the first path was written goes to `written`."""
    files = [open(p, "ab", buffering=0) for p in paths]
    for k, record in enumerate(records):
        time.sleep(max(0.0, start + k / rate - time.time()))
        for n, f in enumerate(files):
            f.write(record)
            if n == 0 and written is not None:
                written.append(time.time())


def main():
    work = tempfile.mkdtemp(prefix="meshplay-bench-study-")
    server = None
    try:
        demo = os.path.join(work, "demo")
        subprocess.run([build + "/meshplay-b-demodata", demo], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(demo, "result.dat"), "rb") as f:
            records = split_records(f.read())

        # Ended runs: the index, one run's page, memory.
        ended = os.path.join(work, "ended")
        for k in range(ENDED):
            run = os.path.join(ended, "motion-%03d" % k)
            os.makedirs(run)
            for name in ("geodata.dat", "tridata.dat", "result.dat"):
                os.link(os.path.join(demo, name), os.path.join(run, name))
        print("A study of %d ended runs of the B demo (%d records of %d values each)" % (
            ENDED, len(records), PER_RECORD))
        b = browsers.Chromium(dict(os.environ))
        server = Server(build, work, [ended])
        url_at = time.monotonic()
        memory = [("before the index", server.rss())]
        b.open(server.url)
        poll(lambda: b.run("return !!window.meshplay && meshplay.ready && "
                           "meshplay.runs.length === arguments[0] && "
                           "document.querySelectorAll('.index tbody tr').length === arguments[0]",
                           ENDED))
        b.run_async("requestAnimationFrame(() => requestAnimationFrame(arguments[0]))")  # painted
        index_at = time.monotonic()
        memory.append(("after the index", server.rss()))
        opened = time.monotonic()
        b.open(server.base + "r/motion-007/")
        poll(lambda: b.run("return !!window.meshplay && meshplay.ready && meshplay.steps === "
                           "arguments[0]", len(records)))
        page_ready = time.monotonic() - opened
        memory.append(("after one run's page", server.rss()))
        print("  the index painted, every row: %.2f s after the address line" % (
            index_at - url_at))
        print("  one ended run's page holding all its steps: %.2f s after it was asked for" %
              page_ready)
        for what, mb in memory:
            print("  memory (RSS) %-28s %6.1f MB" % (what, mb))
        b.open(server.base)  # the run's page goes: its steps are dropped a minute later
        poll(lambda: all(r["state"] == "ended" for r in server.runs()), timeout=300)
        print("  every run counted (its steps, its end): %.1f s after the address line" % (
            time.monotonic() - url_at))
        time.sleep(2)
        before = server.cpu()
        time.sleep(IDLE)
        print("  CPU while nothing is written, %d runs listed: %.2f %% of a core" % (
            ENDED, 100 * (server.cpu() - before) / IDLE))
        server.stop()

        # Runs written at once.
        written_folder = os.path.join(work, "written")
        paths = []
        for k in range(WRITTEN):
            run = os.path.join(written_folder, "motion-%03d" % k)
            os.makedirs(run)
            for name in ("geodata.dat", "tridata.dat"):
                os.link(os.path.join(demo, name), os.path.join(run, name))
            paths.append(os.path.join(run, "result.dat"))
            open(paths[-1], "wb").close()
        server = Server(build, work, [written_folder])
        time.sleep(1.5)  # every run found
        b.open(server.base + "r/motion-000/?token=" + server.token)
        poll(lambda: b.run("return !!window.meshplay && meshplay.connected"))
        b.run("""window.arrivals = [];
            new MutationObserver(() => {
              const now = performance.timeOrigin + performance.now();
              while (arrivals.length < meshplay.steps) arrivals.push(now);
            }).observe(document.querySelector(".meshplay .status"),
                       { childList: true, characterData: true, subtree: true });""")
        count = int(SECONDS * RATE)
        manager = multiprocessing.Manager()
        written = manager.list()
        start = time.time() + 0.5
        workers = 4
        procs = [multiprocessing.Process(target=writer, args=(
            paths[w::workers], records[:count], RATE, start, written if w == 0 else None))
            for w in range(workers)]
        before = server.cpu()
        for p in procs:
            p.start()
        for p in procs:
            p.join()
        cpu = (server.cpu() - before) / (time.time() - start)
        time.sleep(1)
        arrivals = b.run("return arrivals")
        latencies = sorted(a / 1000 - w for a, w in zip(arrivals, list(written)))
        print("%d runs written at once, %g records a second each for %g s (%d records each)" % (
            WRITTEN, RATE, SECONDS, count))
        print("  the server's CPU: %.2f of a core" % cpu)
        if latencies:
            q = lambda f: 1000 * latencies[int(f * (len(latencies) - 1))]
            print("  one run's live page, record written to step shown (%d of %d): p50 %.1f ms  "
                  "p95 %.1f ms  max %.1f ms" % (len(latencies), count, q(0.5), q(0.95), q(1.0)))
        print("  memory (RSS) with every run written: %.1f MB" % server.rss())
        b.quit()
    finally:
        if server and server.proc.poll() is None:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
