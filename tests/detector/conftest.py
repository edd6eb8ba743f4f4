"""Shared helpers of the cuewatch black-box tests."""

import fcntl
import math
import os
import pathlib
import select
import signal
import struct
import subprocess
import termios
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "data" / "golden"
MODELS = GOLDEN / "models"
AUDIO = GOLDEN / "audio"
SCORES = GOLDEN / "scores"

EMULATOR = os.environ.get("EMULATOR", "")
TIME_SCALE = float(os.environ.get("TIME_SCALE", "1") or "1")
# The reference results name their 32-bit ARM figures with this suffix;
# cuewatch runs natively (64-bit) or under qemu-arm on its 32-bit target.
TARGET_SUFFIX = "_armhf" if os.path.basename(EMULATOR).startswith("qemu-arm") else ""

QUAD_CHUNK = 1280
MONO_CHUNK = 320

# Models that cuewatch accepts, with their number of feature rows per run.
STREAM_MODELS = {"stream_f1a": 1, "stream_f3a": 3, "stream_f10a": 10}


def cuewatch_command(*args):
    binary = os.environ["CUEWATCH"]
    return ([EMULATOR] if EMULATOR else []) + [binary, *[str(a) for a in args]]


def model(name):
    return MODELS / f"{name}.tflite"


def silence(chunks, mono=False):
    return bytes((MONO_CHUNK if mono else QUAD_CHUNK) * chunks)


def error_line(message):
    return f"cuewatch: {message}\n"


class Result:
    def __init__(self, status, stdout, stderr):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr

    @property
    def lines(self):
        return self.stdout.splitlines()

    def lines_of(self, kind):
        return [line for line in self.lines if line.split(" ")[0] == kind]


def run(*args, audio=b"", timeout=30, **popen_args):
    """Runs cuewatch to its end with audio on standard input."""
    completed = subprocess.run(cuewatch_command(*args), input=audio,
                               capture_output=True, timeout=timeout * TIME_SCALE,
                               **popen_args)
    return Result(completed.returncode, completed.stdout.decode(),
                  completed.stderr.decode(errors="replace"))


def ready_line(model_path):
    """The ready line a model that loads gives, up to the arena figure."""
    return f"ready {os.path.getsize(model_path)} "


class Session:
    """A running cuewatch whose input and output the test drives by hand."""

    def __init__(self, *args):
        self.process = subprocess.Popen(cuewatch_command(*args), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def read_line(self, timeout=20):
        ready, _, _ = select.select([self.process.stdout], [], [], timeout * TIME_SCALE)
        assert ready, "no line from cuewatch in time"
        return self.process.stdout.readline().decode()

    def send(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def wait_drained(self, timeout=20):
        """Waits until cuewatch has read everything sent so far."""
        deadline = time.monotonic() + timeout * TIME_SCALE
        fd = self.process.stdin.fileno()
        while True:
            pending = struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]
            if pending == 0:
                return
            assert time.monotonic() < deadline, "cuewatch stopped reading"
            time.sleep(0.0001)

    def signal(self, number=signal.SIGINT):
        self.process.send_signal(number)

    def running_after(self, seconds):
        try:
            self.process.wait(seconds * TIME_SCALE)
        except subprocess.TimeoutExpired:
            return True
        return False

    def finish(self, timeout=20):
        """Waits for the end; gives status, the rest of stdout and stderr."""
        status = self.process.wait(timeout * TIME_SCALE)
        stdout = b"" if self.process.stdout.closed else self.process.stdout.read()
        stderr = self.process.stderr.read()
        return Result(status, stdout.decode(), stderr.decode(errors="replace"))

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except (BrokenPipeError, OSError):
                pass


@pytest.fixture
def session():
    sessions = []

    def start(*args):
        started = Session(*args)
        sessions.append(started)
        return started

    yield start
    for started in sessions:
        started.close()


def seconds(chunk):
    """The time cuewatch prints for the end of a chunk."""
    return "%.2f" % (chunk * 160.0 / 16000.0)


def expected_wakes(runs, window, cutoff):
    """Wake lines that the ring rule gives on a sequence of (chunk, score)."""
    import numpy as np

    ring = [0] * window
    next_slot = 0
    filled = 0
    wake_chunk = None
    wakes = []
    limit = np.float32(cutoff)
    for chunk, score in runs:
        ring[next_slot] = score
        filled = min(filled + 1, window)
        next_slot = (next_slot + 1) % window
        if wake_chunk is not None and chunk - wake_chunk < 100:
            continue
        if filled < window:
            continue
        mean = np.float32(sum(ring)) / np.float32(window) * np.float32(1 / 256)
        if mean > limit:
            wakes.append(f"wake {seconds(chunk)} {float(mean):.3f}")
            ring = [0] * window
            filled = 0
            wake_chunk = chunk
    return wakes


def score_runs(result):
    """(chunk, score) of every score line."""
    runs = []
    for line in result.lines_of("score"):
        _, time_text, _, raw = line.split(" ")
        runs.append((round(float(time_text) * 100), int(raw)))
    return runs


def ceil_div(a, b):
    return math.ceil(a / b)
