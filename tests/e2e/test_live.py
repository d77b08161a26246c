"""The live page in a real browser (scripts/browsers.py), through a proxy the test can cut:
a writer appends the demo's records in bursts cut mid-record and the page follows the newest step,
drawn as the recorder draws it; paused, it stays where it is while the run grows, and the newest
button takes it back; a cut connection is made again by the page, which ends up with every step
once, in order; a pause of the solver is said; a truncated result.dat starts a new run in the page,
and the end of the run is said; and so is a server that went away. Run as `test_live.py
PROGRAM.json ARTIFACTS [ENGINE]`, Chromium without an engine."""

import os
import re
import select
import signal
import socket
import sys
import threading

import harness
from harness import GEO, RES, TRI, Failure, picture_as_recorded, poll

import browsers


class Proxy:
    """Forwards every connection to the server's port; cut() closes those open."""

    def __init__(self, port):
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port, self._pairs, self._lock = self._listener.getsockname()[1], [], threading.Lock()
        threading.Thread(target=self._accept, args=(port,), daemon=True).start()

    def _accept(self, port):
        while True:
            try:
                client, _ = self._listener.accept()
            except OSError:
                return
            try:
                pair = (client, socket.create_connection(("127.0.0.1", port)))
            except OSError:  # the server is gone: the page finds the door shut
                client.close()
                continue
            with self._lock:
                self._pairs.append(pair)
            threading.Thread(target=self._forward, args=(pair,), daemon=True).start()

    def _forward(self, pair):
        try:
            while True:
                for s in select.select(pair, [], [])[0]:
                    data = s.recv(1 << 16)
                    if not data:
                        raise OSError
                    pair[1 - pair.index(s)].sendall(data)
        except (OSError, ValueError):
            self._close(pair)

    def _close(self, pair):
        for s in pair:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def cut(self):
        with self._lock:
            pairs, self._pairs = self._pairs, []
        for pair in pairs:
            self._close(pair)


def records(ctx, text):
    """The records of result.dat's text, each with the white space after it, and their times."""
    per = ctx.profile.header_values + 2 * ctx.profile.pairs
    ends = [m.end() for m in re.finditer(r"\S+\s", text)][per - 1::per]
    parts = [text[a:b] for a, b in zip([0] + ends, ends)]
    return parts, [float(r.split()[0]) for r in parts]


def run(ctx):
    demo = ctx.folder()
    ctx.companion("demodata", demo, demo).finish()
    with open(os.path.join(demo, RES)) as f:
        parts, times = records(ctx, f.read())
    shown = 30  # the step whose picture is compared with the recorder's
    with open(os.path.join(demo, RES), "w") as f:
        f.write("".join(parts[:shown + 1]))
    ctx.companion("record", demo, "frames/", "--every", "1").finish(timeout=120)

    work = ctx.folder({GEO: ctx.model_files()[GEO], TRI: ctx.model_files()[TRI], RES: ""})
    result = open(os.path.join(work, RES), "a")
    server = ctx.serve(work)
    proxy = Proxy(server.port)
    b = browsers.ENGINES[sys.argv[3] if len(sys.argv) > 3 else "chromium"](ctx.env, served=True)
    state = ("return [meshplay.steps, meshplay.step, meshplay.live, meshplay.connected, "
             "document.querySelector('.meshplay .status').textContent]")

    def write(text):
        result.write(text)
        result.flush()

    def until(steps, step, live, what):
        return poll(lambda: (lambda s: s if s[:3] == [steps, step, live] else None)(
            b.run(state)), what=what)

    try:
        b.open("http://127.0.0.1:%d/?token=%s" % (proxy.port, server.token))
        poll(lambda: b.run("return !!window.meshplay && meshplay.connected"), what="a connection")

        # Bursts that end inside a record: the page follows the newest whole step.
        first = parts[shown][:len(parts[shown]) // 2]
        write("".join(parts[:shown]) + first)
        until(shown, shown - 1, True, "the first burst")
        write(parts[shown][len(first):])
        until(shown + 1, shown, True, "the rest of a record")
        picture_as_recorded(b.pixels("picture")[2],
                            os.path.join(demo, "frames/frame-%06d.png" % shown), ctx.profile)

        # Paused, the page stays as the run grows; the newest button follows again.
        b.key("s")
        write("".join(parts[shown + 1:60]))
        until(60, shown, False, "the run to grow under a paused page")
        b.click("follow")
        until(60, 59, True, "the page to follow again")

        # A cut connection: the page connects again and asks for what it lacks.
        proxy.cut()
        write("".join(parts[60:90]))
        until(90, 89, True, "the steps after a cut connection")
        got = b.run("return Array.from({length: meshplay.steps}, (_, k) => (meshplay.seek(k), "
                    "meshplay.time))")
        if got != times[:90]:
            raise Failure("the page's times after a cut connection: %r ..., expected %r ..."
                          % (got[:5], times[:5]))
        b.click("follow")
        poll(lambda: "Waiting for the solver" in b.run(state)[4], what="a pause to be said")

        # The solver starts again: a new run; then it writes its last record, and the run ends.
        result.truncate(0)
        result.seek(0)
        write("".join(parts[:5]))
        until(5, 4, True, "a new run")
        write(parts[-1])
        got = until(6, 5, True, "the run's last step")
        poll(lambda: "The run has ended" in b.run(state)[4], what="the end to be said")
        if b.run("return meshplay.time") != times[-1]:
            raise Failure("the new run: %r, ending at %r" % (got, b.run("return meshplay.time")))

        # The server goes away: said.
        server.proc.send_signal(signal.SIGINT)
        server.proc.wait(timeout=harness.TIMEOUT)
        proxy.cut()
        poll(lambda: "connection to the server is lost" in b.run(state)[4], what="a lost server")
    finally:
        result.close()
        b.quit()


harness.main(run)
