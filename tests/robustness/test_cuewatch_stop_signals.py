"""SIGINT and SIGTERM at random moments of a cuewatch run: during set-up,
while it waits for audio, inside a chunk and while audio flows in pieces of
any size. Every time: status 0 and one end line whose time counts the whole
chunks read, every line before it exactly what an uninterrupted run prints
up to that time, nothing on standard error, and no hang."""

import random
import signal
import subprocess
import threading
import time

import pytest

from conftest import AUDIO, MODELS, Lines, command, rng, scaled, trials

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
            time.sleep(scaled(0.2))
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
