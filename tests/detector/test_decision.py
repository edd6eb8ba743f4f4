"""Wake decision through the program: timing of the pause, score lines, quiet ends."""

import pytest

from conftest import (STREAM_MODELS, ceil_div, expected_wakes, model, run, score_runs,
                      silence)

# On silence stream_f1a scores 42 throughout, stream_f10a 233, and stream_f3a
# 0 and 246 on its first two runs, then 62.
PAUSE_CASES = [
    ("stream_f1a", 5, "0.1", 600),
    ("stream_f1a", 1, "0.1", 600),
    ("stream_f1a", 50, "0.1", 600),
    ("stream_f3a", 5, "0.2", 600),
    ("stream_f3a", 40, "0.2", 800),
    ("stream_f10a", 5, "0.9", 600),
    ("stream_f10a", 12, "0.9", 600),
    ("stream_f10a", 50, "0.9", 1600),
]


@pytest.mark.parametrize("name,window,cutoff,chunks", PAUSE_CASES)
def test_next_wake_comes_after_the_pause_and_a_refilled_ring(name, window, cutoff, chunks):
    rows = STREAM_MODELS[name]
    result = run(model(name), "--scores", "--window", window, "--cutoff", cutoff,
                 audio=silence(chunks))
    assert result.status == 0 and result.stderr == ""
    runs = score_runs(result)
    # Score lines go on through every pause, one per model run.
    assert [c for c, _ in runs] == list(range(rows + 2, chunks + 1, rows))

    wakes = result.lines_of("wake")
    assert wakes == expected_wakes(runs, window, float(cutoff))
    wake_chunks = [round(float(w.split()[1]) * 100) for w in wakes]
    assert len(wake_chunks) >= 2
    gap = rows * max(window, ceil_div(100, rows))
    assert [b - a for a, b in zip(wake_chunks, wake_chunks[1:])] == [gap] * (len(wakes) - 1)

    quiet = run(model(name), "--window", window, "--cutoff", cutoff, audio=silence(chunks))
    assert quiet.lines_of("wake") == wakes
    assert quiet.lines_of("score") == []


def test_no_wake_with_the_highest_cutoff():
    result = run(model("stream_f10a"), "--cutoff", "1", "--window", "1", audio=silence(300))
    assert result.lines_of("wake") == []


def test_failed_score_line_ends_quietly_without_more_input(session):
    detector = session(model("stream_f3a"), "--scores")
    assert detector.read_line().startswith("ready ")
    detector.process.stdout.close()
    detector.send(silence(10))  # first score line on chunk 5, before any poll
    result = detector.finish()
    assert (result.status, result.stderr) == (0, "")


def test_failed_wake_line_ends_quietly_without_more_input(session):
    detector = session(model("stream_f10a"), "--cutoff", "0.9")
    assert detector.read_line().startswith("ready ")
    detector.process.stdout.close()
    # The wake comes with chunk 52. Not a byte more: the write of the rest
    # would fail once the process has ended.
    detector.send(silence(52))
    result = detector.finish()
    assert (result.status, result.stderr) == (0, "")


def test_gone_reader_is_noticed_on_chunk_100_when_no_line_is_due(session):
    detector = session(model("stream_f3a"))
    assert detector.read_line().startswith("ready ")
    detector.process.stdout.close()
    detector.send(silence(99))
    detector.wait_drained()
    assert detector.running_after(0.5)
    detector.send(silence(1))
    result = detector.finish()
    assert (result.status, result.stderr) == (0, "")
