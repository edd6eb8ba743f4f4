"""Helpers for the black-box tests of framepump: the test plays the stream source and the
client over real loopback sockets and watches the relay's standard error."""

import os
import re
import signal
import socket
import struct
import subprocess
import threading
import time

import pytest

FRAMEPUMP = os.environ.get("FRAMEPUMP", "")
EMULATOR = os.environ.get("EMULATOR", "")
TIME_SCALE = float(os.environ.get("TIME_SCALE", "1") or "1")
ARTIFACT_DIR = os.environ.get("ARTIFACT_DIR", "")
FFMPEG = "/usr/bin/ffmpeg"

HTTP_HEADER = (b"HTTP/1.0 200 OK\r\n"
               b"Content-Type: application/octet-stream\r\n"
               b"Access-Control-Allow-Origin: *\r\n"
               b"Cache-Control: no-store\r\n"
               b"\r\n")
USAGE = b"usage: framepump [--input PORT] [--output PORT]\n"
AUD = b"\x00\x00\x00\x01\x09"


def scaled(seconds):
    return seconds * TIME_SCALE


def relay_command(args):
    if not FRAMEPUMP:
        pytest.fail("FRAMEPUMP is not set")
    return ([EMULATOR] if EMULATOR else []) + [FRAMEPUMP] + list(args)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening_socket(port=0):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", port))
    s.listen(4)
    return s


def wait_listening(port, relay, timeout=10):
    """Connects to the relay's output port once it listens; the connection
    waits in the backlog."""
    deadline = time.monotonic() + scaled(timeout)
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=1)
        except ConnectionRefusedError:
            assert relay.proc.poll() is None, relay.own_lines()
            assert time.monotonic() < deadline, "the relay never listened"
            time.sleep(0.02)


class Relay:
    """One framepump process; its standard error is collected line by line
    with the time each line arrived."""

    def __init__(self, args, env=None):
        self.proc = subprocess.Popen(relay_command(args), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     env=env)
        self.lines = []
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stderr:
            with self.cond:
                self.lines.append((time.monotonic(), line.decode("latin-1").rstrip("\n")))
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def own_lines(self):
        """The relay's own lines, without the library's diagnostics."""
        with self.cond:
            return [l for _, l in self.lines if not l.startswith("[")]

    def wait_line(self, prefix, timeout):
        deadline = time.monotonic() + scaled(timeout)
        with self.cond:
            while True:
                for t, l in self.lines:
                    if l.startswith(prefix):
                        return l
                left = deadline - time.monotonic()
                if left <= 0 or (not self.reader.is_alive() and self.proc.poll() is not None):
                    raise AssertionError(f"no line {prefix!r}; got {self.own_lines()}")
                self.cond.wait(min(left, 0.1))

    def wait_ready(self, timeout=10):
        return self.wait_line("ready:", timeout)

    def wait_exit(self, timeout):
        rc = self.proc.wait(scaled(timeout))
        self.reader.join(scaled(5))
        return rc

    def end_line(self):
        ends = [l for l in self.own_lines() if l.startswith("end:")]
        assert len(ends) == 1, self.own_lines()
        return ends[0]

    def counts(self):
        """decoded, sent, dropped and suffix of the end line."""
        m = re.fullmatch(r"end: decoded (\d+), sent (\d+), dropped (\d+)( \(error\))?",
                         self.end_line())
        assert m, self.end_line()
        return int(m[1]), int(m[2]), int(m[3]), m[4] or ""

    def signal(self, sig):
        self.proc.send_signal(sig)

    def rss_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise AssertionError("no VmRSS")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(5)


class Running:
    """A relay connected to a stream source that the test holds."""

    def __init__(self, relay, source, conn, output_port):
        self.relay = relay
        self.source = source
        self.conn = conn
        self.output_port = output_port

    def client(self, rcvbuf=None):
        s = socket.socket()
        if rcvbuf:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        s.settimeout(scaled(10))
        s.connect(("127.0.0.1", self.output_port))
        return s

    def send_paced(self, units, pause=0.01):
        for unit in units:
            self.conn.sendall(unit)
            time.sleep(scaled(pause))

    def close_source(self):
        self.conn.close()


def recv_exact(sock, n):
    chunks = []
    while n:
        d = sock.recv(min(n, 1 << 20))
        if not d:
            raise EOFError(f"closed with {n} bytes missing")
        chunks.append(d)
        n -= len(d)
    return b"".join(chunks)


def read_header(sock):
    got = recv_exact(sock, len(HTTP_HEADER))
    assert got == HTTP_HEADER
    return got


def read_record(sock):
    """One whole record: (sequence, width, height, planes)."""
    head = recv_exact(sock, 16)
    magic, w, h, seq = struct.unpack("<4sIII", head)
    assert magic == b"FPV1", head
    assert 2 <= w <= 1920 and 2 <= h <= 1080 and w % 2 == 0 and h % 2 == 0, (w, h)
    return seq, w, h, recv_exact(sock, w * h * 3 // 2)


def access_units(stream):
    """Splits an AUD-delimited Annex B stream into its access units; bytes
    before the first delimiter (a stream joined mid-way) come first."""
    parts = stream.split(AUD)
    head = [parts[0]] if parts[0] else []
    return head + [AUD + p for p in parts[1:]]


class Feeder:
    """Sends access units to the relay in a loop, paced, until stopped."""

    def __init__(self, conn, units, pause):
        self.conn = conn
        self.units = units
        self.pause = scaled(pause)
        self.stopping = threading.Event()
        self.sent = 0
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            while not self.stopping.is_set():
                self.conn.sendall(self.units[self.sent % len(self.units)])
                self.sent += 1
                if self.pause:
                    time.sleep(self.pause)
        except OSError:
            pass

    def stop(self):
        self.stopping.set()
        self.thread.join(scaled(10))


class Streams:
    """Test streams made once per session with ffmpeg and libx264, and their
    reference decodes."""

    def __init__(self, folder):
        self.folder = folder

    def make(self, name, size, frames, pix_fmt="yuv420p", x264="aud=1", extra=()):
        path = os.path.join(self.folder, name + ".h264")
        if not os.path.exists(path):
            cmd = [FFMPEG, "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                   "-i", f"testsrc=size={size}:rate=30", "-frames:v", str(frames),
                   "-c:v", "libx264", "-preset", "veryfast", "-bf", "0",
                   "-pix_fmt", pix_fmt, "-x264-params", x264] + list(extra) + [path]
            subprocess.run(cmd, check=True, timeout=300)
        with open(path, "rb") as f:
            return f.read()

    def decode(self, name, pix_fmt="yuv420p"):
        """The pictures ffmpeg decodes from a stream, in the given layout."""
        src = os.path.join(self.folder, name + ".h264")
        raw = os.path.join(self.folder, f"{name}.{pix_fmt}")
        if not os.path.exists(raw):
            subprocess.run([FFMPEG, "-hide_banner", "-loglevel", "error", "-y", "-i", src,
                            "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", pix_fmt,
                            raw], check=True, timeout=300)
        with open(raw, "rb") as f:
            return f.read()


def split_frames(raw, w, h):
    size = w * h * 3 // 2
    assert len(raw) % size == 0
    return [raw[i:i + size] for i in range(0, len(raw), size)]


STOP_SIGNALS = [signal.SIGINT, signal.SIGTERM]


class Collector:
    """Reads the header and then whole records from a client socket until the
    relay closes it; a record cut off by the close is not kept."""

    def __init__(self, sock, keep_planes=True):
        self.sock = sock
        self.keep_planes = keep_planes
        self.records = []
        self.header = None
        self.error = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            self.header = recv_exact(self.sock, len(HTTP_HEADER))
            while True:
                seq, w, h, planes = read_record(self.sock)
                self.records.append((seq, w, h, planes if self.keep_planes else None))
        except (EOFError, ConnectionResetError):
            pass
        except Exception as e:  # reported by join()
            self.error = e

    def join(self, timeout=20):
        self.thread.join(scaled(timeout))
        assert not self.thread.is_alive(), "the client never saw the end"
        if self.error:
            raise self.error
        assert self.header == HTTP_HEADER
        return self.records
