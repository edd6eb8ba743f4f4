"""Inference set-up: the golden error models, the ready line and its failures."""

import os
import re
import subprocess

import pytest

from conftest import (GOLDEN, TARGET_SUFFIX, TIME_SCALE, cuewatch_command, error_line, model,
                      run)

FIT = "the model doesn't fit in memory"
ONE_EACH = "the model doesn't have one input and one output"
KIND = "the model's input or output isn't the expected kind"
INPUT = "the model's input isn't the expected kind"


def golden_results():
    """model name -> {key: value} from model_results.txt."""
    results = {}
    current = None
    for line in (GOLDEN / "model_results.txt").read_text().splitlines():
        match = re.match(r"\[(.+)\.tflite\]$", line)
        if match:
            current = results.setdefault(match.group(1), {})
        elif current is not None and ": " in line:
            key, value = line.split(": ", 1)
            current.setdefault(key, value)
    return results


def golden_field(name, key):
    """The reference's value for the target, where it has one of its own."""
    results = golden_results()[name]
    return results.get(key + TARGET_SUFFIX, results.get(key))


def library_text(name):
    raw = golden_field(name, "lib_raw")
    return raw[1:-1].encode().decode("unicode_escape")


@pytest.mark.parametrize("name,message", [
    ("err_add_op", FIT),
    ("err_arena_too_small", FIT),
    ("err_concat_scale_mismatch", FIT),
    ("err_21_resource_variables", FIT),
    ("err_two_inputs", ONE_EACH),
    ("err_float_input", KIND),
    ("err_input_batch2", KIND),
    ("err_int8_output", KIND),
    ("err_output_1x2", KIND),
    # These pass AllocateTensors; only the detector's own tests refuse them.
    ("err_input_f0", INPUT),
    ("err_input_scale_zero", INPUT),
    ("edge_f11", INPUT),
])
def test_golden_models_refused_at_set_up(name, message):
    result = run(model(name), audio=bytes(1280 * 20))
    assert result.status == 1
    assert result.stdout == ""
    assert result.stderr.endswith(error_line(message))
    library_lines = result.stderr[: -len(error_line(message))]
    if golden_results()[name]["outcome"] == "ok":
        assert library_lines == ""
    else:
        # The library speaks first, each of its lines ended by CR LF.
        assert library_lines.endswith("\r\n"), result.stderr


@pytest.mark.parametrize("name", ["err_add_op", "err_21_resource_variables",
                                  "err_arena_too_small"])
def test_library_lines_come_unchanged_before_the_error_line(name):
    result = run(model(name))
    assert result.stderr == library_text(name) + error_line(FIT)


@pytest.mark.parametrize("name", ["stream_f1a", "stream_f3a", "stream_f10a",
                                  "err_base_valid", "err_no_operators"])
def test_ready_line_gives_file_size_and_arena_use(name):
    result = run(model(name))
    assert result.status == 0 and result.stderr == ""
    assert len(result.lines) == 2 and result.lines[1] == "end 0.00"
    match = re.fullmatch(r"ready (\d+) (\d+)", result.lines[0])
    assert match, result.lines[0]
    assert int(match.group(1)) == os.path.getsize(model(name))
    assert int(match.group(2)) == int(golden_field(name, "arena_used_bytes"))


# Ending here, the program leaves the front end's buffers to process exit on
# purpose; the leak checker of the sanitizer build would call that a failure.
UNRELEASED_AT_EXIT = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")


def assert_silent_success(completed):
    assert completed.returncode == 0
    assert completed.stderr == b""


def test_output_that_cannot_take_the_ready_line_ends_quietly():
    with open("/dev/full", "wb") as full:
        completed = subprocess.run(cuewatch_command(model("stream_f3a"), "--scores"),
                                   input=bytes(1280 * 50), stdout=full, stderr=subprocess.PIPE,
                                   env=UNRELEASED_AT_EXIT,
                                   timeout=20 * TIME_SCALE)
    assert_silent_success(completed)


def test_output_whose_reader_is_gone_before_the_ready_line_ends_quietly():
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        completed = subprocess.run(cuewatch_command(model("stream_f3a"), "--scores"),
                                   input=bytes(1280 * 50), stdout=write_end,
                                   stderr=subprocess.PIPE, env=UNRELEASED_AT_EXIT,
                                   timeout=20 * TIME_SCALE)
    finally:
        os.close(write_end)
    assert_silent_success(completed)


def test_closed_output_ends_quietly():
    completed = subprocess.run(
        ["/bin/sh", "-c", 'exec "$@" >&-', "sh", *cuewatch_command(model("stream_f3a"))],
        input=bytes(1280 * 50), stderr=subprocess.PIPE, env=UNRELEASED_AT_EXIT,
        timeout=20 * TIME_SCALE)
    assert_silent_success(completed)

