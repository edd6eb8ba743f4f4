"""cuewatch's peers that go away or stop taking data: an output pipe that
nobody reads, and audio inputs that run dry or reset."""

import fcntl
import os
import signal
import socket
import struct
import subprocess
import termios
import time

import pytest

from conftest import (AUDIO, MODELS, Lines, command, cpu_ticks, listening_socket, reset,
                      process_state, scaled, wait_until)

F_SETPIPE_SZ = 1031
MODEL = MODELS / "stream_f1a.tflite"
SPEECH = (AUDIO / "speech_hello.raw").read_bytes()


def reference_lines(audio, *options):
    done = subprocess.run(command("CUEWATCH", [MODEL, "--mono", "--scores", *options]),
                          input=audio, capture_output=True, timeout=scaled(60))
    assert done.returncode == 0
    return done.stdout.decode().splitlines(keepends=True)


def pipe_bytes(fd):
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0]


def blocked_on_small_pipe(audio, folder):
    """cuewatch with its output on a 4 KiB pipe that nobody reads yet, and
    audio enough to fill it many times over; returns once it is stuck."""
    read_end, write_end = os.pipe()
    fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
    # Audio from a file never keeps a read waiting, so once the process
    # sleeps with the pipe too full for a line, it waits in that write.
    path = folder / "audio.raw"
    path.write_bytes(audio)
    with open(path, "rb") as audio_in:
        proc = subprocess.Popen(command("CUEWATCH", [MODEL, "--mono", "--scores"]),
                                stdin=audio_in, stdout=write_end, stderr=subprocess.PIPE)
    os.close(write_end)
    wait_until(lambda: proc.poll() is not None or
               (pipe_bytes(read_end) > 4096 - 64 and process_state(proc.pid) == "S"),
               "cuewatch never filled its output", timeout=20)
    assert proc.poll() is None
    # Waiting in the write, not spinning.
    before = cpu_ticks(proc.pid)
    time.sleep(0.5)
    assert cpu_ticks(proc.pid) - before <= 2
    assert proc.poll() is None and process_state(proc.pid) == "S"
    return proc, read_end


def read_all(fd):
    data = b""
    while True:
        d = os.read(fd, 65536)
        if not d:
            return data
        data += d


def test_full_output_pipe_waits_and_loses_no_line(tmp_path):
    audio = SPEECH * 3
    proc, read_end = blocked_on_small_pipe(audio, tmp_path)
    try:
        out = read_all(read_end).decode()
        assert proc.wait(scaled(10)) == 0
    finally:
        os.close(read_end)
        proc.kill()
    assert out.splitlines(keepends=True) == reference_lines(audio)
    assert proc.stderr.read() == b""


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM], ids=lambda s: s.name)
def test_stop_signal_while_blocked_on_a_full_output_ends_quietly(sig, tmp_path):
    audio = SPEECH * 3
    proc, read_end = blocked_on_small_pipe(audio, tmp_path)
    try:
        proc.send_signal(sig)
        # The interrupted write fails, which ends the run without an end line.
        assert proc.wait(scaled(5)) == 0
        out = read_all(read_end).decode()
    finally:
        os.close(read_end)
        proc.kill()
    expected = reference_lines(audio)
    got = out.splitlines(keepends=True)
    assert got == expected[:len(got)] and len(got) < len(expected)
    assert not any(line.startswith("end") for line in got)
    assert proc.stderr.read() == b""


def test_non_blocking_input_that_runs_dry_is_a_read_error_after_its_lines():
    chunks = 60
    read_end, write_end = os.pipe()
    os.write(write_end, SPEECH[:320 * chunks])
    os.set_blocking(read_end, False)
    try:
        done = subprocess.run(command("CUEWATCH", [MODEL, "--mono", "--scores"]),
                              stdin=read_end, capture_output=True, timeout=scaled(20))
    finally:
        os.close(read_end)
        os.close(write_end)
    assert done.returncode == 1
    assert done.stderr == b"cuewatch: can't read the audio\n"
    # Every whole chunk before the dry read was processed; no end line.
    expected = reference_lines(SPEECH[:320 * chunks])[:-1]
    assert done.stdout.decode().splitlines(keepends=True) == expected


@pytest.mark.parametrize("close,status,last", [
    (lambda s: s.close(), 0, "end 0.40\n"),
    (reset, 1, None),
], ids=["producer-closes", "producer-resets"])
def test_audio_socket_whose_producer_goes_away(close, status, last):
    chunks = 40
    server = listening_socket()
    producer = socket.create_connection(server.getsockname())
    audio_in, _ = server.accept()
    server.close()
    proc = subprocess.Popen(command("CUEWATCH", [MODEL, "--mono", "--scores"]),
                            stdin=audio_in, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    audio_in.close()
    out = Lines(proc.stdout)
    try:
        producer.sendall(SPEECH[:320 * chunks])
        # Let every chunk be read before the producer goes.
        assert out.wait_for("score 0.40", scaled(10))
        close(producer)
        assert proc.wait(scaled(10)) == status
        out.join(scaled(5))
        stderr = proc.stderr.read()
    finally:
        proc.kill()
    expected = reference_lines(SPEECH[:320 * chunks])
    got = [l + "\n" for l in out.own()]
    if last is None:
        assert got == expected[:-1] and stderr == b"cuewatch: can't read the audio\n"
    else:
        assert got == expected and got[-1] == last and stderr == b""
