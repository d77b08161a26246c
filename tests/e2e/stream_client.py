"""Clients of the live server for the end-to-end cases: one request on a connection of its own,
and a stream client of /run that reads the frames and inflates the chunks as the page does."""

import re
import select
import socket
import struct
import threading
import zlib

import harness
from harness import Failure


def request(port, target, headers=None, method="GET", host=None):
    """One request on a connection of its own: (status, headers in lower case, body)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=harness.TIMEOUT)
    lines = ["%s %s HTTP/1.1" % (method, target), "Host: " + (host or "127.0.0.1:%d" % port),
             "Connection: close"] + ["%s: %s" % kv for kv in (headers or {}).items()]
    s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
    data = b""
    while chunk := s.recv(1 << 16):
        data += chunk
    s.close()
    head, _, body = data.partition(b"\r\n\r\n")
    status = int(head.split()[1])
    fields = dict(line.split(": ", 1) for line in head.decode().split("\r\n")[1:])
    return status, {k.lower(): v for k, v in fields.items()}, body


class Stream:
    """A client of /run that holds the run as the page's store does: a new run id clears it, a
    steps chunk may repeat steps it holds but never leave a gap."""

    def __init__(self, port, token, query="", receive_buffer=None):
        self.port, self.token = port, token
        self.run = None
        self.times, self.chunks, self.runs, self.beats = [], [], [], []
        self.ended = self.mesh = False
        self.received = 0  # bytes of frames
        self.receive_buffer = receive_buffer
        self.connect(query)

    def connect(self, query):
        self.sock = socket.socket()
        if self.receive_buffer:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, self.receive_buffer)
        self.sock.settimeout(harness.TIMEOUT)
        self.sock.connect(("127.0.0.1", self.port))
        self.sock.sendall(("GET /run%s HTTP/1.1\r\nHost: localhost:%d\r\nX-Meshplay-Token: %s\r\n"
                           "\r\n" % (query, self.port, self.token)).encode())
        self.raw, self.body, self.head = b"", b"", None

    def resume(self):
        self.connect("?run=%d&from=%d" % (self.run, len(self.times)))

    def pump(self, wait=0.0):
        """Reads what has come; False once the server closed the connection."""
        while select.select([self.sock], [], [], wait)[0]:
            data = self.sock.recv(1 << 20)
            if not data:
                return False
            self.raw += data
            self.dechunk()
            wait = 0.0
        return True

    def dechunk(self):
        if self.head is None:
            if b"\r\n\r\n" not in self.raw:
                return
            self.head, _, self.raw = self.raw.partition(b"\r\n\r\n")
            if not self.head.startswith(b"HTTP/1.1 200") or b"chunked" not in self.head:
                raise Failure("/run answered %r" % self.head)
        while b"\r\n" in self.raw:
            size_line, _, rest = self.raw.partition(b"\r\n")
            size = int(size_line, 16)
            if len(rest) < size + 2:
                return
            self.body += rest[:size]
            self.received += size
            self.raw = rest[size + 2:]
            self.frames()

    def frames(self):
        while len(self.body) >= 5:
            kind, size = self.body[0:1], struct.unpack("<I", self.body[1:5])[0]
            if len(self.body) < 5 + size:
                return
            payload, self.body = self.body[5:5 + size], self.body[5 + size:]
            if kind == b"R":
                run = struct.unpack("<I", payload)[0]
                if run != self.run:
                    self.run, self.times, self.mesh, self.ended = run, [], False, False
                self.runs.append(run)
            elif kind == b"M":
                self.mesh = True
                nodes, triangles = struct.unpack("<II", zlib.decompress(payload)[:8])
                if len(zlib.decompress(payload)) != 8 + 16 * nodes + 12 * triangles:
                    raise Failure("a mesh chunk of the wrong size")
            elif kind == b"S":
                data = zlib.decompress(payload)
                first, count = struct.unpack("<II", data[:8])
                if first > len(self.times) or not self.mesh:
                    raise Failure("steps from %d, %d held, mesh %s" % (first, len(self.times),
                                                                       self.mesh))
                self.chunks.append((first, count))
                times = struct.unpack("<%dd" % count, data[24:24 + 8 * count])
                self.times += times[len(self.times) - first:]
            elif kind == b"E":
                self.ended = True
            elif kind == b"H":
                self.beats.append(struct.unpack("<d", payload)[0])
            else:
                raise Failure("a frame of kind %r" % kind)


def cutting_proxy(port, after):
    """A proxy to the server's port that closes the connection once `after` bytes went through to
    its one client; returns its own port."""
    listener = socket.create_server(("127.0.0.1", 0))

    def forward():
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", port))
        passed = 0
        while passed < after:
            for s in select.select([client, server], [], [], harness.TIMEOUT)[0]:
                data = s.recv(1 << 14)
                (server if s is client else client).sendall(data)
                passed += len(data) if s is server else 0
        for s in (client, server, listener):
            s.close()
    threading.Thread(target=forward, daemon=True).start()
    return listener.getsockname()[1]


def records(ctx, text):
    """The records of result.dat's text, each with its white space after it, and their times."""
    per = ctx.profile.header_values + 2 * ctx.profile.pairs
    ends = [m.end() for m in re.finditer(rb"\S+\s", text)][per - 1::per]
    parts = [text[a:b] for a, b in zip([0] + ends, ends)]
    return parts, [float(r.split()[0]) for r in parts]


def pump_all(clients, until, what):
    harness.poll(lambda: all(c.pump() for c in clients) and until(), what=what)
