"""SIGINT and SIGTERM at random moments of a cuewatch run: during set-up,
while it waits for audio, inside a chunk and while audio flows in pieces of
any size. Every time: status 0 and one end line whose time counts the whole
chunks read, every line before it exactly what an uninterrupted run prints
up to that time, nothing on standard error, and no hang. Then many short runs
whose signal lands within a fraction of a millisecond of the read that waits
for audio, where a stop that falls between the flag test and the read must
still end the run."""

import fcntl
import os
import random
import select
import signal
import struct
import subprocess
import termios
import threading
import time

import pytest

from conftest import (AUDIO, MODELS, Lines, command, race_tries, readable, rng, scaled,
                      spin, trials)

MODEL = MODELS / "stream_f3a.tflite"
REPEATS = 4  # enough audio that a signal finds it still flowing
INPUTS = {  # audio, options, bytes per chunk
    "mono": (AUDIO / "speech_hello.raw", ["--mono"], 320),
    "quad": (AUDIO / "mix4_speech_tone_noise_sweep.raw", [], 1280),
}
OPTIONS = ["--scores", "--cutoff", "0.3", "--window", "2"]
PHASES = ["set-up", "waiting", "mid-chunk", "flowing"]
SIGNALS = [signal.SIGINT, signal.SIGTERM]


def plan():
    r = rng("cuewatch-stop-signals")
    cases = []
    for i in range(trials(32)):
        phase = PHASES[i % len(PHASES)]
        layout = r.choice(sorted(INPUTS))
        sig = r.choice(SIGNALS)
        delay = r.uniform(0, 0.004) if phase == "set-up" else r.uniform(0, 0.3)
        piece_seed = r.randrange(1 << 30)
        cases.append(pytest.param(phase, layout, sig, delay, piece_seed,
                                  id=f"{i:02d}-{phase}-{layout}-{sig.name}"))
    return cases


def wait_drained(pipe, timeout):
    """Waits until cuewatch has read everything written to the pipe. Reads
    never cross a chunk's end, so by then every whole chunk has been counted."""
    deadline = time.monotonic() + timeout
    while struct.unpack("i", fcntl.ioctl(pipe.fileno(), termios.FIONREAD, b"\0" * 4))[0]:
        assert time.monotonic() < deadline, "cuewatch stopped reading"


def line_time(line):
    return round(float(line.split()[1]) * 100)


@pytest.fixture(scope="module")
def reference():
    """What an uninterrupted run prints for each layout."""
    lines = {}
    for layout, (audio, options, _) in INPUTS.items():
        done = subprocess.run(command("CUEWATCH", [MODEL, *options, *OPTIONS]),
                              input=audio.read_bytes() * REPEATS, capture_output=True,
                              timeout=scaled(60))
        assert done.returncode == 0 and done.stderr == b""
        lines[layout] = done.stdout.decode().splitlines()
        assert sum(l.startswith("score") for l in lines[layout]) > 50
    return lines


class Writer(threading.Thread):
    """Writes the audio in pieces of random size, with random pauses."""

    def __init__(self, pipe, audio, seed):
        super().__init__(daemon=True)
        self.pipe, self.audio, self.seed = pipe, audio, seed
        self.written = 0
        self.start()

    def run(self):
        r = random.Random(self.seed)
        try:
            while self.written < len(self.audio):
                piece = self.audio[self.written:self.written + r.randint(1, 3000)]
                self.pipe.write(piece)
                self.pipe.flush()
                self.written += len(piece)
                if r.random() < 0.5:
                    time.sleep(r.uniform(0, 0.01))
        except (BrokenPipeError, OSError, ValueError):
            pass


@pytest.mark.parametrize("phase,layout,sig,delay,piece_seed", plan())
def test_stop_signal_at_a_random_moment(reference, phase, layout, sig, delay, piece_seed):
    audio_path, options, chunk_bytes = INPUTS[layout]
    audio = audio_path.read_bytes() * REPEATS
    proc = subprocess.Popen(command("CUEWATCH", [MODEL, *options, *OPTIONS]),
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    out = Lines(proc.stdout)
    sent = 0
    try:
        if phase != "set-up":
            assert out.wait_for("ready", scaled(10))
        if phase == "mid-chunk":
            # Whole chunks and then part of one, all read before the signal.
            sent = chunk_bytes * (piece_seed % 40) + 1 + piece_seed % (chunk_bytes - 1)
            proc.stdin.write(audio[:sent])
            proc.stdin.flush()
            wait_drained(proc.stdin, scaled(10))
        writer = Writer(proc.stdin, audio, piece_seed) if phase == "flowing" else None
        time.sleep(scaled(delay))
        proc.send_signal(sig)
        signalled = time.monotonic()
        try:
            status = proc.wait(scaled(5))
        except subprocess.TimeoutExpired:
            raise AssertionError(f"cuewatch hung; lines {out.own()}")
        took = time.monotonic() - signalled
        out.join(scaled(5))
        stderr = proc.stderr.read()
        if writer:
            writer.join(scaled(5))
            sent = writer.written
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()

    lines = out.own()
    if status == -sig:
        # A signal before the handlers are installed has its default effect.
        assert phase == "set-up" and lines == [] and stderr == b""
        return
    assert (status, stderr) == (0, b""), lines
    assert took < scaled(1)
    assert lines[0].startswith("ready ") and lines[-1].startswith("end "), lines
    assert sum(l.startswith("end") for l in lines) == 1
    chunks = line_time(lines[-1])
    if phase == "mid-chunk":
        assert chunks == sent // chunk_bytes
    assert chunks <= sent // chunk_bytes
    expected = [l for l in reference[layout][1:-1] if line_time(l) <= chunks]
    assert lines[0] == reference[layout][0]
    assert lines[1:-1] == expected


RACE_MODEL = MODELS / "stream_f1a.tflite"
MONO_CHUNK = 320


def race_once(sig, offset, audio):
    """One run: audio (silence) written right after the ready line and read to
    the last byte, the pipe held open after it, then the signal offset seconds
    later. Gives what went wrong, or None."""
    proc = subprocess.Popen(command("CUEWATCH", [RACE_MODEL, "--mono"]),
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    try:
        out = b""
        while not out.endswith(b"\n"):
            if not readable(proc.stdout, scaled(10)):
                return f"no ready line: {out!r}"
            out += os.read(proc.stdout.fileno(), 100)
        if audio:
            os.write(proc.stdin.fileno(), audio)
            wait_drained(proc.stdin, scaled(10))
        spin(offset)
        proc.send_signal(sig)
        try:
            status = proc.wait(scaled(1))
        except subprocess.TimeoutExpired:
            return "hung"
        out += proc.stdout.read()
        err = proc.stderr.read()
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        for pipe in (proc.stdin, proc.stdout, proc.stderr):
            pipe.close()
    lines = out.decode().splitlines()
    if status != 0 or err or len(lines) != 2 or not lines[0].startswith("ready "):
        return f"status {status}, lines {lines}, stderr {err!r}"
    # Every whole chunk was read before the stop; a part of one is dropped.
    if lines[1] != f"end {len(audio) // MONO_CHUNK / 100:.2f}":
        return f"end line {lines[1]!r} after {len(audio)} bytes"
    return None


@pytest.mark.parametrize("phase", ["waiting", "mid-stream"])
def test_stop_signal_racing_the_read_ends_the_run_at_once(phase):
    """waiting: the signal within 0.2 ms of the ready line, no audio coming; the
    read waits right after the line, and under the emulator the first pass of
    that code takes long enough for a signal to land before the read. mid-stream:
    within 0.5 ms of cuewatch reading the last byte of a burst of up to eight
    chunks, perhaps with part of one, so that it is still processing the last
    chunk or about to wait again."""
    r = rng(f"cuewatch-race-{phase}")
    failures = []
    # Under the emulator about one try in a hundred of waiting caught a stop
    # lost before the read.
    for i in range(race_tries(400 if phase == "waiting" else 200)):
        sig = r.choice(SIGNALS)
        if phase == "waiting":
            offset, audio = r.uniform(0, 0.0002), b""
        else:
            offset = r.uniform(0, 0.0005)
            audio = bytes(MONO_CHUNK * r.randint(1, 8) + r.choice([0, r.randrange(MONO_CHUNK)]))
        failure = race_once(sig, offset, audio)
        if failure:
            failures.append(f"try {i}, {sig.name} {offset * 1e6:.0f} us after "
                            f"{len(audio)} bytes: {failure}")
    assert not failures, f"{len(failures)} failed, the first:\n" + "\n".join(failures[:10])
