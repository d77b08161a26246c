"""The live server under what a study's long runs, its file systems and its users bring: a stored
run past a client's backlog, opened whole by a late client and by one that resumes from its first
step, while a client that stopped reading is dropped and the clients that read are fed all the
while the server reads flat out; a file that cannot be read, then can; fewer descriptors than
connections; refused clients closed within their deadline however they trickle; titles that hold
the page's own marks; a NaN and an infinite time said as the page writer says them; an HTTP/1.0
client, and a request of two Host headers."""

import os
import random
import re
import socket
import time

import harness
from harness import GEO, RES, TRI, Failure
from stream_client import Stream, pump_all, request

# The most a client may have waiting beyond the run it was sent on connecting.
BACKLOG = 8 << 20


def noisy_run(p, steps):
    """Records whose displacements are random to their last digit, so that deflate makes little
    of them: every step costs a stream client some seven bytes a node. The last one ends the run.
    Returns the text and the times."""
    rng = random.Random(11)
    to_digits = bytes(48 + b % 10 for b in range(256))
    header = b" ".join([b"0"] * (p.header_values - 1))
    tail = b" ".join([b"0 0"] * (p.pairs - p.node_count))
    records, times = [], []
    for k in range(steps):
        digits = rng.randbytes(14 * p.node_count).translate(to_digits)
        fields = b" ".join(b"0." + digits[i:i + 7] for i in range(0, len(digits), 7))
        t = p.t_end * k / (steps - 1)
        times.append(t)
        records.append(b" ".join(filter(None, [repr(t).encode(), header, fields, tail])))
    return b"\n".join(records) + b"\n", times


def long_run(ctx, work):
    p = ctx.profile
    text, times = noisy_run(p, (BACKLOG * 13 // 8) // (6 * p.node_count))
    server = ctx.serve(work)
    stopped = Stream(server.port, server.token, receive_buffer=4096)  # it reads nothing
    readers = [Stream(server.port, server.token) for _ in range(3)]
    pump_all(readers, lambda: all(r.run is not None for r in readers), "the readers' first frames")
    with open(os.path.join(work, RES), "wb") as f:
        f.write(text)
    pump_all(readers, lambda: all(r.ended for r in readers), "the long run's end")
    for r in readers:
        if r.times != times or len(r.runs) != 1:
            raise Failure("a client that reads, while the server read flat out: %d steps of %d, "
                          "%d connections" % (len(r.times), len(times), len(r.runs)))
    # The one that read nothing was dropped: what it reads now ends before the run's end.
    harness.poll(lambda: not stopped.pump(), what="the end of a client that read nothing")
    if stopped.ended or len(stopped.times) == len(times):
        raise Failure("a client that read nothing was not dropped: %d steps" % len(stopped.times))
    # The stored run is past the backlog, and opens whole for a new client and a resumed one.
    late = Stream(server.port, server.token)
    resumed = Stream(server.port, server.token, "?run=%d&from=0" % readers[0].run)
    pump_all([late, resumed], lambda: late.ended and resumed.ended, "the stored run")
    for name, c in (("a late client", late), ("a client resumed from step 0", resumed)):
        if c.times != times or len(c.runs) != 1 or c.received <= BACKLOG:
            raise Failure("%s: %d steps of %d, %d bytes" % (name, len(c.times), len(times),
                                                           c.received))
    return server


def unreadable(ctx, work):
    """result.dat that reads as an I/O error (as NFS can), then a file: said once, served."""
    os.symlink("/proc/self/mem", os.path.join(work, RES))
    server = ctx.serve(work)
    client = Stream(server.port, server.token)
    harness.poll(lambda: "Input/output error" in server.stderr(), what="the read error said")
    with open(os.path.join(work, "new.dat"), "w") as f:
        f.write(harness.results(ctx.profile, [(0.0, {}), (0.01, {})]))
    os.rename(os.path.join(work, "new.dat"), os.path.join(work, RES))
    pump_all([client], lambda: len(client.times) == 2, "the steps after the read error")
    if server.proc.poll() is not None or server.stderr().count("Input/output error") != 1:
        raise Failure("after a read error: status %r, stderr %r" % (server.proc.poll(),
                                                                   server.stderr()))
    return server


def descriptors(ctx, work):
    """Fewer descriptors than connections: said at the start; the connections beyond what leaves
    room for the files are closed as they come, and a new run's files still open."""
    server = ctx.serve(work, "--port", "0", nofile=96)
    if "at most 64 connections at once" not in server.stderr():
        raise Failure("with 96 descriptors: %r" % server.stderr())
    crowd = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(100)]
    harness.poll(lambda: "more are closed as they come" in server.stderr(),
                 what="the crowd's refusal said")
    for s in crowd[:40]:
        s.close()
    client = Stream(server.port, server.token)
    with open(os.path.join(work, "new.dat"), "w") as f:
        f.write(harness.results(ctx.profile, [(0.0, {}), (0.01, {}), (0.02, {})]))
    os.rename(os.path.join(work, "new.dat"), os.path.join(work, RES))
    pump_all([client], lambda: len(client.times) == 3, "a new run's steps, the crowd connected")
    for s in crowd[40:]:
        s.close()
    return server


def refused(ctx, server):
    """A refused request ends its connection, and a refused client that trickles a byte at a
    time is closed at the deadline all the same."""
    s = socket.create_connection(("127.0.0.1", server.port), timeout=harness.TIMEOUT)
    s.sendall(b"GET /run HTTP/1.1\r\nHost: localhost\r\n\r\n")  # no token, kept alive
    got = b""
    while chunk := s.recv(4096):
        got += chunk
    if not got.startswith(b"HTTP/1.1 401") or b"Connection: close" not in got:
        raise Failure("a request without its token: %r" % got[:200])
    s = socket.create_connection(("127.0.0.1", server.port), timeout=harness.TIMEOUT)
    s.sendall(b"NOT HTTP\r\n\r\n")
    started = time.monotonic()
    s.setblocking(False)
    closed = False
    while not closed and time.monotonic() - started < 6:
        try:
            s.send(b"x")
            while s.recv(4096):
                pass
            closed = True  # the server closed its end
        except BlockingIOError:
            pass
        except OSError:
            closed = True
        time.sleep(0.3)
    if not closed or time.monotonic() - started > 4:
        raise Failure("a refused client that trickles: still open after %.1f s" % (
            time.monotonic() - started))


def old_clients(ctx, server):
    """An HTTP/1.0 client gets the frames as they are, no chunks; two Host headers get 400."""
    s = socket.create_connection(("127.0.0.1", server.port), timeout=harness.TIMEOUT)
    s.sendall(b"GET /run HTTP/1.0\r\nHost: localhost\r\nX-Meshplay-Token: %s\r\n\r\n" %
              server.token.encode())
    got = b""
    while b"\r\n\r\n" not in got or len(got) < got.index(b"\r\n\r\n") + 9:
        got += s.recv(4096)
    head, _, body = got.partition(b"\r\n\r\n")
    s.close()
    if not head.startswith(b"HTTP/1.0 200") or b"chunked" in head.lower() or body[:5] != \
            b"R\x04\x00\x00\x00":
        raise Failure("an HTTP/1.0 stream: %r, then %r" % (head, body[:9]))
    s = socket.create_connection(("127.0.0.1", server.port), timeout=harness.TIMEOUT)
    s.sendall(b"GET / HTTP/1.1\r\nHost: localhost\r\nHost: evil.example\r\n"
              b"X-Meshplay-Token: %s\r\n\r\n" % server.token.encode())
    status = s.recv(4096)[:12]
    s.close()
    if status != b"HTTP/1.1 400":
        raise Failure("two Host headers: %r" % status)


def titles(ctx, work):
    """The page's own marks in a title are text in the live page, and its nonces two."""
    title = "@NONCE@ @DATA@ @STYLE@ @TITLE@"
    server = ctx.serve(work, "--port", "0", "--title", title)
    status, headers, page = request(server.port, "/?token=" + server.token)
    nonce = re.search(r"script-src 'nonce-([0-9a-f]+)'", headers["content-security-policy"])
    if b"<title>%s</title>" % title.encode() not in page or \
            page.count(nonce.group(1).encode()) != 2 or b"@NONCE@" not in page:
        raise Failure("the live page with the title %r: %r" % (title, page[:400]))
    return server


def not_finite(ctx, work):
    """A NaN and an infinite time: the run's end says them, in the page writer's words."""
    p = ctx.profile
    server = ctx.serve(work)
    client = Stream(server.port, server.token)
    with open(os.path.join(work, RES), "w") as f:
        f.write(harness.record(p, "0", {0: ("nan", "1")}) + harness.record(p, "inf") +
                harness.record(p, repr(float(p.t_end))))
    pump_all([client], lambda: client.ended, "the run's end")
    harness.poll(lambda: "2 values that are not finite numbers (NaN or infinity) written as 0"
                 in server.stderr(), what="the values said")
    return server


def run(ctx):
    model = {name: ctx.model_files()[name] for name in (GEO, TRI)}
    served = [long_run(ctx, ctx.folder(model)), unreadable(ctx, ctx.folder(model)),
              descriptors(ctx, ctx.folder(model))]
    refused(ctx, served[-1])
    old_clients(ctx, served[-1])
    served += [titles(ctx, ctx.folder(model)), not_finite(ctx, ctx.folder(model))]
    for server in served:
        server.proc.terminate()
        status, out, err = server.finish(timeout=5)
        if status != 0:
            raise Failure("the server ended with %d: %r" % (status, err))


harness.main(run)
