"""What the black-box tests of framepump play over loopback TCP: the stream
source with its test streams, and the client's side of the response header.
Both the relay suite and the robustness suite use these."""

import fcntl
import os
import socket
import struct
import subprocess
import termios
import threading
import time

EMULATOR = os.environ.get("EMULATOR", "")
TIME_SCALE = float(os.environ.get("TIME_SCALE", "1") or "1")
FFMPEG = "/usr/bin/ffmpeg"

HTTP_HEADER = (b"HTTP/1.0 200 OK\r\n"
               b"Content-Type: application/octet-stream\r\n"
               b"Access-Control-Allow-Origin: *\r\n"
               b"Cache-Control: no-store\r\n"
               b"\r\n")
HTTP_HEADER_SIZE = len(HTTP_HEADER)
AUD = b"\x00\x00\x00\x01\x09"


def scaled(seconds):
    return seconds * TIME_SCALE


_reserved = []


def free_port():
    """A port that nothing listens on and that stays free for this test
    process: a socket bound to it, never listening, is kept open. Other
    binds and outgoing connections can't take the port, while the relay and
    the test can still listen there (both set SO_REUSEADDR)."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    _reserved.append(s)
    return s.getsockname()[1]


def listening_socket(port=0):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", port))
    s.listen(4)
    return s


def relay_client(port, rcvbuf=None):
    """A client connection to the relay's output port; a small receive buffer
    makes a slow reader."""
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.settimeout(scaled(10))
    s.connect(("127.0.0.1", port))
    return s


def wait_until(condition, failure, timeout=10):
    """Polls an observable condition; fails with the message after a
    generous time."""
    deadline = time.monotonic() + scaled(timeout)
    while not condition():
        assert time.monotonic() < deadline, failure
        time.sleep(0.002)


def open_fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def process_state(pid):
    """The process state letter: S while it waits in a system call."""
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()[0]


def _receive_queue(local, remote):
    """Bytes waiting to be read in the loopback TCP socket local -> remote."""
    def key(address):
        host, port = address
        return f"{socket.inet_aton(host)[::-1].hex().upper()}:{port:04X}"
    with open("/proc/net/tcp") as f:
        for line in f:
            fields = line.split()
            if fields[1] == key(local) and fields[2] == key(remote):
                return int(fields[4].split(":")[1], 16)
    raise ConnectionError("the peer's socket is gone")


def unread(sock):
    """Bytes sent on a loopback connection that the peer has not read yet.
    This side's queue is taken first: a byte gone from it is in the peer's
    receive queue or read, so the two never miss a byte between them."""
    queued = struct.unpack("i", fcntl.ioctl(sock, termios.TIOCOUTQ, b"\0" * 4))[0]
    return queued + _receive_queue(sock.getpeername(), sock.getsockname())


def wait_drained(sock, timeout=10):
    """Waits until the peer has read everything sent on sock so far."""
    wait_until(lambda: unread(sock) == 0, "the peer stopped reading", timeout)


class Feeder:
    """Sends access units over and over, paced or flat out, until stopped or
    until the connection fails."""

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


def access_units(stream):
    """Splits an AUD-delimited Annex B stream into its access units; bytes
    before the first delimiter (a stream joined mid-way) come first."""
    parts = stream.split(AUD)
    head = [parts[0]] if parts[0] else []
    return head + [AUD + p for p in parts[1:]]


class Streams:
    """Test streams made once per session with ffmpeg and libx264, and their
    reference decodes."""

    def __init__(self, folder):
        self.folder = folder

    def make(self, name, size, frames, pix_fmt="yuv420p", x264="aud=1", extra=()):
        path = os.path.join(self.folder, name + ".h264")
        if not os.path.exists(path):
            cmd = [FFMPEG, "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                   "-f", "lavfi", "-i", f"testsrc=size={size}:rate=30",
                   "-frames:v", str(frames), "-c:v", "libx264", "-preset", "veryfast",
                   "-bf", "0", "-pix_fmt", pix_fmt, "-x264-params", x264] + list(extra) + [path]
            subprocess.run(cmd, check=True, timeout=300)
        with open(path, "rb") as f:
            return f.read()

    def decode(self, name, pix_fmt="yuv420p"):
        """The pictures ffmpeg decodes from a stream, in the given layout."""
        src = os.path.join(self.folder, name + ".h264")
        raw = os.path.join(self.folder, f"{name}.{pix_fmt}")
        if not os.path.exists(raw):
            subprocess.run([FFMPEG, "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                            "-i", src, "-vsync", "passthrough", "-f", "rawvideo",
                            "-pix_fmt", pix_fmt, raw], check=True, timeout=300)
        with open(raw, "rb") as f:
            return f.read()
