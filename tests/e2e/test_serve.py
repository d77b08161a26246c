"""The live server with real stream clients that read its frames and inflate its chunks as the page
does: a writer appends the demo in bursts cut anywhere, and a client gets every step once, in
order, with its time; a client whose connection a proxy cuts resumes with ?run&from and ends with
every step once; a truncated result.dat begins a new run; a named pipe with --every, --from and
--to; requests refused for their Host, method, path or token, with the headers every response
carries; a request never finished is closed at the time limit; failures before serving; SIGINT with clients connected: gone within a second, status 0,
the port free again and nothing left in the folder."""

import os
import random
import re
import signal
import socket
import time

import harness
from harness import GEO, RES, TRI, Failure
from stream_client import Stream, cutting_proxy, pump_all, records, request

SECURITY = {"referrer-policy": "no-referrer", "x-content-type-options": "nosniff",
            "cache-control": "no-store"}


def run(ctx):
    p = ctx.profile
    demo = ctx.folder()
    ctx.companion("demodata", demo, demo).finish()
    with open(os.path.join(demo, RES), "rb") as f:
        text = f.read()
    parts, times = records(ctx, text)
    work = ctx.folder({name: ctx.model_files()[name] for name in (GEO, TRI)})
    server = ctx.serve(work)
    if not re.fullmatch(r"http://127\.0\.0\.1:%d/\?token=[0-9a-f]{48}" % server.port, server.url):
        raise Failure("the address printed: %r" % server.url)
    refusals(server)
    # Two that never finish a request: one says nothing, one stops inside its headers. They hold
    # up no one while the rest of this case is served, and go without a word at the time limit.
    idle = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(2)]
    idle[1].sendall(b"GET /run HTTP/1.1\r\nHo")

    # Before any record: the run's id, then a heartbeat that counts from the run's start.
    direct = Stream(server.port, server.token)
    pump_all([direct], lambda: direct.beats, "a heartbeat")
    if direct.times or not 1.5 <= direct.beats[0] <= 5 or len(set(direct.runs)) != 1:
        raise Failure("before any record: %r steps, heartbeats %r" % (direct.times, direct.beats))
    cut = Stream(cutting_proxy(server.port, 120000), server.token)
    cut.port = server.port  # it resumes directly

    # The demo in bursts cut anywhere, read between them.
    rng = random.Random(7)
    with open(os.path.join(work, RES), "ab", buffering=0) as f:
        at = 0
        while at < len(text):
            size = rng.randrange(1, 3 * len(parts[0]))
            f.write(text[at:at + size])
            at += size
            for client in (direct, cut):
                if not client.pump(0.002):
                    client.resume()
    pump_all([direct, cut], lambda: direct.ended and cut.ended, "the end of the run")
    if direct.times != times or [c[0] for c in direct.chunks] != [sum(c[1] for c in direct.chunks[:k])
                                                                  for k in range(len(direct.chunks))]:
        raise Failure("steps %d of %d, times %r ..., chunks %r ..." % (
            len(direct.times), len(times), direct.times[:3], direct.chunks[:5]))
    if cut.times != times or len(set(cut.runs)) != 1 or len(cut.runs) < 2:
        raise Failure("through a cut connection: %d steps of %d, runs %r" % (
            len(cut.times), len(times), cut.runs))

    # The solver starts again: a new run, from its first record.
    with open(os.path.join(work, RES), "wb") as f:
        f.write(b"".join(parts[:3]))
    pump_all([direct], lambda: len(direct.times) == 3, "the new run's steps")
    late = Stream(server.port, server.token, "?run=%d&from=2" % direct.runs[0])
    pump_all([late], lambda: len(late.times) == 3, "the new run, whole, for an old page")
    if direct.run == direct.runs[0] or direct.ended or late.run != direct.run or \
            direct.times != times[:3]:
        raise Failure("after truncation: runs %r, times %r, ended %s" % (
            direct.runs, direct.times, direct.ended))

    for s in idle:
        s.settimeout(15)
        got = s.recv(4096)
        if got:
            raise Failure("a request never finished was answered: %r" % got[:40])

    # A stop with clients connected.
    started = time.monotonic()
    server.proc.send_signal(signal.SIGINT)
    status, out, err = server.finish(timeout=5)
    took = time.monotonic() - started
    if status != 0 or took > 1.0 or err or sorted(os.listdir(work)) != sorted([GEO, TRI, RES]):
        raise Failure("SIGINT: status %d after %.2f s, stderr %r, folder %r" % (
            status, took, err, os.listdir(work)))
    harness.poll(lambda: not direct.pump() and not late.pump(), what="connections closed")
    again = ctx.serve(work, "--port", str(server.port))
    again.proc.send_signal(signal.SIGTERM)
    if again.port != server.port or again.finish(timeout=5)[0] != 0:
        raise Failure("the port was not free again, or SIGTERM did not end the server")

    piped(ctx, times, parts)
    failures(ctx, work)


def refusals(server):
    """Each refusal, and what every response carries."""
    port, token = server.port, server.token
    status, headers, page = request(port, "/?token=" + token)
    nonce = re.search(r"script-src 'nonce-([0-9a-f]+)'", headers.get("content-security-policy", ""))
    cookie = headers.get("set-cookie", "").split(";")[0]
    if status != 200 or not nonce or page.count(b'nonce="%s"' % nonce.group(1).encode()) != 2 \
            or cookie != "meshplay-%d=%s" % (port, token) or b'"live": true' not in page:
        raise Failure("the page: %d %r, cookie %r" % (status, headers, cookie))
    rows = [  # why, method, target, headers, Host, status
        ("the cookie", "HEAD", "/run", {"Cookie": cookie}, None, 200),
        ("no token", "GET", "/run", {}, None, 401),
        ("a wrong token", "GET", "/?token=" + token[::-1], {}, None, 403),
        ("a wrong cookie", "GET", "/run", {"Cookie": cookie[:-1] + "01"[cookie[-1] == "0"]}, None,
         403),
        ("a name for Host", "GET", "/?token=" + token, {}, "attacker.example:%d" % port, 403),
        ("POST", "POST", "/run", {"X-Meshplay-Token": token, "Content-Length": "0"}, None, 405),
        ("a file", "GET", "/geodata.dat", {"X-Meshplay-Token": token}, None, 404),
        ("a way out", "GET", "/../" + RES, {"X-Meshplay-Token": token}, None, 404),
        ("a body", "GET", "/run", {"X-Meshplay-Token": token, "Content-Length": "5"}, None, 413),
        ("headers too large", "GET", "/run", {"X-Pad": "x" * 9000}, None, 431),
    ]
    for why, method, target, fields, host, want in rows:
        status, headers, body = request(port, target, fields, method, host)
        missing = [k for k, v in SECURITY.items() if headers.get(k) != v]
        if "default-src 'none'" not in headers.get("content-security-policy", ""):
            missing.append("content-security-policy")
        if status == 405 and headers.get("allow") != "GET, HEAD":
            missing.append("allow")
        if status != want or missing or (want != 200 and b"\x00" in body):
            raise Failure("%s: status %d (expected %d), missing %r" % (why, status, want, missing))


def piped(ctx, times, parts):
    """result.dat a named pipe: every third step from the second on, the last included; the
    writer's close ends the run there, as nothing lies beyond --to yet; the next writer begins a
    new run. (A writer that opened the pipe before the server saw the last one close would carry
    the run on: a pipe tells of nothing else.)"""
    work = ctx.folder({name: ctx.model_files()[name] for name in (GEO, TRI)})
    os.mkfifo(os.path.join(work, RES))
    first, last = 1, 40
    server = ctx.serve(work, "--port", "0", "--every", "3", "--from", repr(times[first]),
                       "--to", repr(times[last]))
    client = Stream(server.port, server.token)
    for writes in range(2):
        with open(os.path.join(work, RES), "wb") as f:
            f.write(b"".join(parts[:last + 1]))
        # The end of this writer's run: its own, not the last writer's, which ended already.
        pump_all([client], lambda: client.ended and len(set(client.runs)) == writes + 1,
                 "the end of the piped run")
        want = times[first:last + 1:3] + ([times[last]] if (last - first) % 3 else [])
        if client.times != want or len(set(client.runs)) != writes + 1:
            raise Failure("piped, writer %d: times %r, expected %r, runs %r" % (
                writes, client.times, want, client.runs))
    server.proc.send_signal(signal.SIGINT)
    server.finish()


def failures(ctx, work):
    """Failures before serving: one line, status 1."""
    empty = ctx.folder()
    piped_mesh = ctx.folder({TRI: ctx.model_files()[TRI]})
    os.mkfifo(os.path.join(piped_mesh, GEO))  # a writer that stalls would hold every browser
    busy = ctx.serve(work)
    rows = [  # folder, arguments, the line expected after the program's name
        (empty, [], "geodata.dat: No such file or directory"),
        (piped_mesh, [], "geodata.dat: is a named pipe"),
        (work, ["--port", str(busy.port)], "port %d: Address already in use" % busy.port),
        (work, ["--bind", "192.0.2.1"], "port 8765 of 192.0.2.1: Cannot assign requested"),
        (work, ["--bind", "here"], "invalid value 'here' for --bind: expected an IP address"),
        (work, ["--from", "3", "--to", "2"], "--from 3 lies after --to 2"),
        (work, ["run.html"], "run.html: No such file or directory"),
        (work, [RES], RES + ": is not a folder"),
    ]
    for folder, args, line in rows:
        status, out, err = ctx.companion("serve", folder, *args).finish(timeout=10)
        if status != 1 or out or err.count("\n") != 1 or line not in err:
            raise Failure("%r: status %d, stdout %r, stderr %r" % (args, status, out, err))
    busy.proc.send_signal(signal.SIGINT)
    busy.finish()


harness.main(run)
