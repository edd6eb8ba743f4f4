"""Helpers of the robustness suite: both programs run black-box, their peers
played by the test, with seeded randomness and bounded counts."""

import os
import pathlib
import random
import select
import socket
import subprocess
import threading
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
MODELS = ROOT / "tests" / "data" / "golden" / "models"
AUDIO = ROOT / "tests" / "data" / "golden" / "audio"

EMULATOR = os.environ.get("EMULATOR", "")
TIME_SCALE = float(os.environ.get("TIME_SCALE", "1") or "1")
FFMPEG = "/usr/bin/ffmpeg"
AUD = b"\x00\x00\x00\x01\x09"
HTTP_HEADER = (b"HTTP/1.0 200 OK\r\n"
               b"Content-Type: application/octet-stream\r\n"
               b"Access-Control-Allow-Origin: *\r\n"
               b"Cache-Control: no-store\r\n"
               b"\r\n")
HTTP_HEADER_SIZE = len(HTTP_HEADER)


def scaled(seconds):
    return seconds * TIME_SCALE


def trials(native):
    """How many random trials a test runs: fewer under the emulator."""
    return max(4, native // 4) if EMULATOR else native


def rng(name):
    """Each test draws from its own seeded stream, so a failure replays."""
    return random.Random(f"robustness:{name}")


def command(variable, args):
    binary = os.environ.get(variable, "")
    if not binary:
        pytest.skip(f"{variable} is not set")
    return ([EMULATOR] if EMULATOR else []) + [binary] + [str(a) for a in args]


def open_fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening_socket():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(4)
    return s


def reset(sock):
    """Closes with a reset: a zero linger time makes close send RST."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
    sock.close()


def read_to_eof(sock, timeout):
    """Everything the peer sends until it closes; fails on a hang."""
    sock.settimeout(timeout)
    data = bytearray()
    while True:
        try:
            got = sock.recv(1 << 20)
        except ConnectionResetError:
            return bytes(data)
        if not got:
            return bytes(data)
        data += got


def whole_records(body):
    """(sequence, width, height) of each whole record in a client's body
    (the bytes after the header), and the length of a cut-off tail."""
    records = []
    at = 0
    while len(body) - at >= 16:
        assert body[at:at + 4] == b"FPV1", f"no record at offset {at}"
        w = int.from_bytes(body[at + 4:at + 8], "little")
        h = int.from_bytes(body[at + 8:at + 12], "little")
        seq = int.from_bytes(body[at + 12:at + 16], "little")
        size = 16 + w * h * 3 // 2
        if len(body) - at < size:
            break
        records.append((seq, w, h))
        at += size
    return records, len(body) - at


class Lines:
    """Collects a stream of a process line by line as it comes."""

    def __init__(self, stream):
        self.lines = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for raw in stream:
            with self.cond:
                self.lines.append(raw.decode("latin-1").rstrip("\n"))
                self.cond.notify_all()

    def own(self):
        """The program's own lines, without FFmpeg's bracketed diagnostics."""
        with self.cond:
            return [l for l in self.lines if not l.startswith("[")]

    def wait_for(self, prefix, timeout):
        deadline = time.monotonic() + timeout
        with self.cond:
            while not any(l.startswith(prefix) for l in self.lines):
                left = deadline - time.monotonic()
                if left <= 0 or not self.thread.is_alive():
                    return False
                self.cond.wait(min(left, 0.05))
            return True

    def join(self, timeout):
        self.thread.join(timeout)
        assert not self.thread.is_alive(), "the stream never ended"


def readable(fd, timeout):
    return bool(select.select([fd], [], [], timeout)[0])


def h264_units(folder, name, size, frames):
    """Access units of a test stream made with ffmpeg and libx264."""
    path = os.path.join(folder, name + ".h264")
    if not os.path.exists(path):
        subprocess.run([FFMPEG, "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                        "-f", "lavfi", "-i", f"testsrc=size={size}:rate=30",
                        "-frames:v", str(frames), "-c:v", "libx264", "-preset", "veryfast",
                        "-bf", "0", "-pix_fmt", "yuv420p", "-x264-params", "aud=1", path],
                       check=True, timeout=300)
    with open(path, "rb") as f:
        parts = f.read().split(AUD)
    return [AUD + p for p in parts[1:]]


@pytest.fixture(scope="session")
def streams(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("streams"))
    return lambda name, size, frames: h264_units(folder, name, size, frames)
