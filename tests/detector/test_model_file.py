"""Reading and verifying the model file."""

import os
import signal
import struct
import subprocess
import time

import pytest

from conftest import TIME_SCALE, cuewatch_command, error_line, model, run

EMPTY_OR_BIG = "the model is empty or too big"
DAMAGED = "the model file is damaged"
VERSION = "the model's format version isn't supported"
BUFFER = 1048576


def base_bytes():
    return model("stream_f3a").read_bytes()


def with_root_offset(offset):
    data = bytearray(base_bytes())
    data[0:4] = struct.pack("<I", offset)
    return bytes(data)


def with_version(version):
    """The model with its version field set, or absent for None."""
    data = bytearray(base_bytes())
    table = struct.unpack_from("<I", data, 0)[0]
    vtable = table - struct.unpack_from("<i", data, table)[0]
    field = struct.unpack_from("<H", data, vtable + 4)[0]
    assert field != 0, "the base model has a version field"
    if version is None:
        struct.pack_into("<H", data, vtable + 4, 0)  # an absent field
    else:
        struct.pack_into("<I", data, table + field, version)
    return bytes(data)


def padded(size):
    data = base_bytes()
    return data + bytes(size - len(data))


CASES = [
    ("empty", lambda: b"", EMPTY_OR_BIG),
    ("1 byte", lambda: base_bytes()[:1], DAMAGED),
    ("8 bytes", lambda: base_bytes()[:8], DAMAGED),
    ("11 bytes", lambda: base_bytes()[:11], DAMAGED),
    ("12 bytes of a model", lambda: base_bytes()[:12], DAMAGED),
    ("TFL3 header only", lambda: struct.pack("<I", 4) + b"TFL3" + bytes(4), DAMAGED),
    ("identifier TFL2", lambda: base_bytes()[:4] + b"TFL2" + base_bytes()[8:], DAMAGED),
    ("root offset 0", lambda: with_root_offset(0), DAMAGED),
    ("root offset 2^31", lambda: with_root_offset(1 << 31), DAMAGED),
    ("root offset 2^32-1", lambda: with_root_offset((1 << 32) - 1), DAMAGED),
    ("root offset at the end", lambda: with_root_offset(len(base_bytes())), DAMAGED),
    ("truncated", lambda: base_bytes()[: len(base_bytes()) // 2], DAMAGED),
    ("version 2", lambda: with_version(2), VERSION),
    ("version 4", lambda: with_version(4), VERSION),
    ("version absent", lambda: with_version(None), VERSION),
    ("exactly 1 MiB", lambda: padded(BUFFER), EMPTY_OR_BIG),
    ("2 MiB", lambda: padded(2 * BUFFER), EMPTY_OR_BIG),
]


@pytest.mark.parametrize("name,content,message", CASES, ids=[c[0] for c in CASES])
def test_refused_files(name, content, message, tmp_path):
    path = tmp_path / "model.tflite"
    path.write_bytes(content())
    result = run(path, "--scores")
    assert (result.status, result.stdout, result.stderr) == (1, "", error_line(message))


@pytest.mark.parametrize("name,message", [
    ("bad_empty", EMPTY_OR_BIG),
    ("bad_truncated_half", DAMAGED),
    ("err_file_identifier", DAMAGED),
    ("err_version_2", VERSION),
])
def test_refused_golden_files(name, message):
    result = run(model(name))
    assert (result.status, result.stdout, result.stderr) == (1, "", error_line(message))


def test_directory_is_refused_as_unreadable(tmp_path):
    result = run(tmp_path)
    assert (result.status, result.stdout, result.stderr) == (1, "", error_line(EMPTY_OR_BIG))


def test_largest_model_file_runs(tmp_path):
    path = tmp_path / "model.tflite"
    path.write_bytes(padded(BUFFER - 1))
    result = run(path, "--scores", audio=bytes(1280 * 5))
    assert result.status == 0, result.stderr
    assert result.lines[0].startswith("ready 1048575 ")
    assert result.lines[1:] == ["score 0.05 0.000 0", "end 0.05"]


def test_a_model_that_names_its_version_3_runs(tmp_path):
    path = tmp_path / "model.tflite"
    path.write_bytes(with_version(3))
    result = run(path)
    assert result.status == 0 and result.lines[1:] == ["end 0.00"]


def test_model_read_cut_short_by_a_stop_signal_is_refused(tmp_path):
    fifo = tmp_path / "model.tflite"
    os.mkfifo(fifo)
    process = subprocess.Popen(cuewatch_command(fifo), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    try:
        # The pipe opens for writing once cuewatch has opened it, and so has
        # its stop handlers in place.
        writer = None
        while writer is None and process.poll() is None:
            try:
                writer = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
            except OSError:
                time.sleep(0.01)
        assert writer is not None, "cuewatch ended before it opened the model"
        os.write(writer, base_bytes()[:4000])
        for _ in range(100):  # until one signal meets the blocked read
            process.send_signal(signal.SIGINT)
            try:
                process.wait(0.1 * TIME_SCALE)
                break
            except subprocess.TimeoutExpired:
                pass
        os.close(writer)
        stdout, stderr = process.communicate(timeout=20 * TIME_SCALE)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert (process.returncode, stdout.decode(), stderr.decode()) == \
        (1, "", error_line(EMPTY_OR_BIG))
