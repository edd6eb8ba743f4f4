"""Helpers of the robustness suite: both programs run black-box, their peers
played by the test, with seeded randomness and bounded counts."""

import os
import pathlib
import random
import select
import socket
import sys
import threading
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
MODELS = ROOT / "tests" / "data" / "golden" / "models"
AUDIO = ROOT / "tests" / "data" / "golden" / "audio"

# framepump's peers are shared with the relay suite; the suite's files
# import them from here.
sys.path.insert(0, str(ROOT / "tests" / "tools"))
from stream_peers import (AUD, EMULATOR, FFMPEG, HTTP_HEADER,  # noqa: E402,F401
                          HTTP_HEADER_SIZE, TIME_SCALE, Feeder, Streams, access_units,
                          free_port, listening_socket, open_fds, process_state, scaled,
                          wait_drained, wait_until)


def trials(native):
    """How many random trials a test runs: fewer under the emulator."""
    return max(4, native // 4) if EMULATOR else native


def rng(name):
    """Each test draws from its own seeded stream, so a failure replays."""
    return random.Random(f"robustness:{name}")


def command(variable, args):
    binary = os.environ.get(variable, "")
    if not binary:
        pytest.fail(f"{variable} is not set")
    return ([EMULATOR] if EMULATOR else []) + [binary] + [str(a) for a in args]


def cpu_ticks(pid):
    """User and system time the process has used, in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


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
    return access_units(Streams(folder).make(name, size, frames))


@pytest.fixture(scope="session")
def streams(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("streams"))
    return lambda name, size, frames: h264_units(folder, name, size, frames)


def race_tries(count):
    """Tries of a race test, the same under the emulator, where the races show
    most; RACE_TRIES sets another count for a long hunt."""
    hunt = os.environ.get("RACE_TRIES", "")
    return int(hunt) if hunt else count


def spin(seconds):
    """A sub-millisecond pause, kept exact by spinning instead of sleeping."""
    until = time.perf_counter() + seconds
    while time.perf_counter() < until:
        pass
