"""The audio loop: whole chunks, timing of the model runs, ends of the run."""

import os
import signal
import subprocess

import numpy as np
import pytest

from conftest import (AUDIO, STREAM_MODELS, TIME_SCALE, cuewatch_command, error_line,
                      model, run, score_runs, seconds, silence)


@pytest.mark.parametrize("options,audio,end", [
    ([], b"", "end 0.00"),
    ([], bytes(1279), "end 0.00"),
    (["--mono"], bytes(319), "end 0.00"),
    (["--mono"], bytes(320), "end 0.01"),
    ([], silence(2), "end 0.02"),
    ([], silence(150) + bytes(100), "end 1.50"),
    (["--mono"], silence(150, mono=True) + bytes(100), "end 1.50"),
    ([], silence(1000) + bytes(1279), "end 10.00"),
], ids=lambda v: f"{len(v)} bytes" if isinstance(v, bytes) else repr(v))
def test_end_line_counts_whole_chunks_only(options, audio, end):
    result = run(model("stream_f3a"), "--scores", *options, audio=audio)
    assert result.status == 0 and result.stderr == ""
    assert result.lines[-1] == end
    chunks = round(float(end.split()[1]) * 100)
    # stream_f3a runs on chunks 5, 8, 11, ...
    assert [c for c, _ in score_runs(result)] == list(range(5, chunks + 1, 3))


@pytest.mark.parametrize("name,rows", STREAM_MODELS.items())
def test_model_runs_on_chunk_f_plus_2_and_every_f_chunks_after(name, rows):
    result = run(model(name), "--scores", audio=silence(45))
    chunks = [c for c, _ in score_runs(result)]
    assert chunks[:2] == [rows + 2, 2 * rows + 2]
    assert chunks == list(range(rows + 2, 46, rows))


def mono_speech(chunks):
    return (AUDIO / "speech_hello.raw").read_bytes()[: 320 * chunks]


def test_audio_arriving_one_byte_per_read_gives_the_same_lines(session):
    audio = mono_speech(20)
    whole = run(model("stream_f1a"), "--mono", "--scores", "--cutoff", "0.1", audio=audio)
    assert len(whole.lines_of("score")) == 18 and whole.lines_of("wake")

    trickle = session(model("stream_f1a"), "--mono", "--scores", "--cutoff", "0.1")
    for i in range(len(audio)):
        trickle.send(audio[i:i + 1])
        trickle.wait_drained()  # so each read can find only this byte
    trickle.process.stdin.close()
    assert trickle.finish().lines == whole.lines
    assert trickle.process.returncode == 0


def mix_to_mono(quad):
    """The four-channel mix, done independently with numpy."""
    frames = np.frombuffer(quad[: len(quad) // 8 * 8], dtype="<i2").reshape(-1, 4)
    total = frames.astype(np.int32).sum(axis=1).astype(np.float32)
    mixed = total * np.float32(0.25) * np.float32(25.0)
    return np.trunc(np.clip(mixed, -32768, 32767)).astype("<i2").tobytes()


@pytest.mark.parametrize("audio_name", ["mix4_clamp", "mix4_speech_tone_noise_sweep"])
def test_four_channels_give_what_their_mix_gives_as_mono(audio_name):
    quad = (AUDIO / f"{audio_name}.raw").read_bytes()
    options = [model("stream_f1a"), "--scores", "--window", "2", "--cutoff", "0.3"]
    from_quad = run(*options, audio=quad)
    from_mono = run(*options, "--mono", audio=mix_to_mono(quad))
    assert from_quad.status == 0 and len(from_quad.lines_of("score")) > 100
    assert from_quad.lines == from_mono.lines


@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM])
def test_stop_signal_before_any_input_ends_with_the_end_line(session, number):
    detector = session(model("stream_f3a"))
    assert detector.read_line().startswith("ready ")
    detector.signal(number)
    result = detector.finish()
    assert (result.status, result.stdout, result.stderr) == (0, "end 0.00\n", "")


def test_stop_signal_inside_a_chunk_drops_the_partial_chunk(session):
    detector = session(model("stream_f1a"), "--scores")
    assert detector.read_line().startswith("ready ")
    detector.send(silence(3))
    assert detector.read_line() == "score 0.03 0.164 42\n"
    detector.send(bytes(700))
    detector.wait_drained()
    for _ in range(3):  # repeated signals don't end the process by themselves
        detector.signal(signal.SIGTERM)
    result = detector.finish()
    assert (result.status, result.stdout, result.stderr) == (0, "end 0.03\n", "")


def run_with_stdin(stdin, timeout=20):
    return subprocess.run(cuewatch_command(model("stream_f3a")), stdin=stdin,
                          capture_output=True, timeout=timeout * TIME_SCALE)


def test_non_blocking_empty_input_is_a_read_error():
    read_end, write_end = os.pipe()
    os.set_blocking(read_end, False)
    try:
        completed = run_with_stdin(read_end)
    finally:
        os.close(read_end)
        os.close(write_end)
    assert completed.returncode == 1
    assert completed.stdout.decode().startswith("ready ")
    assert "end" not in completed.stdout.decode()
    assert completed.stderr.decode() == error_line("can't read the audio")


def test_unreadable_input_is_a_read_error(tmp_path):
    directory = os.open(tmp_path, os.O_RDONLY)
    try:
        completed = run_with_stdin(directory)
    finally:
        os.close(directory)
    assert completed.returncode == 1
    assert completed.stdout.decode().count("\n") == 1
    assert completed.stderr.decode() == error_line("can't read the audio")
