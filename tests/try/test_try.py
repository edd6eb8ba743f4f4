"""scripts/try.sh, run as a newcomer would: it shows both programs' lines,
leaves pictures that match the stream, and leaves no process behind, also
when it is interrupted."""

import os
import pathlib
import re
import shutil
import signal
import struct
import subprocess

import numpy
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "try.sh"
OUT = ROOT / "build" / "try"
TIME_SCALE = float(os.environ.get("TIME_SCALE", "1") or "1")
# The script takes a few seconds; this only turns a hang into a failure.
TIMEOUT_S = 120 * TIME_SCALE
WIDTH, HEIGHT = 480, 270


def start(script=SCRIPT):
    """The script in a session of its own, its standard output and error in
    one pipe. Every process it starts inherits that pipe."""
    return subprocess.Popen([str(script)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, start_new_session=True)


def read_until(proc, text):
    """The script's output up to and including the line that starts with text."""
    output = b""
    while not re.search(rb"^" + re.escape(text.encode()), output, re.M):
        chunk = os.read(proc.stdout.fileno(), 4096)
        if not chunk:
            pytest.fail(f"no line {text!r}:\n{output.decode()}")
        output += chunk
    return output.decode()


def finish(proc, output=""):
    """Status and whole output once the script has ended. The pipe must be at
    its end by then: a process still holding it has outlived the script.
    (The script writes a few KiB, far less than the pipe holds, so it never
    waits for this reader.)"""
    try:
        status = proc.wait(TIMEOUT_S)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        pytest.fail(f"the script was still running after {TIMEOUT_S} s")
    fd = proc.stdout.fileno()
    os.set_blocking(fd, False)
    rest = b""
    try:
        while chunk := os.read(fd, 65536):
            rest += chunk
    except BlockingIOError:
        pytest.fail(f"a process outlived the script:\n{output}{rest.decode()}")
    return status, output + rest.decode()


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    _, kind, width, height = struct.unpack(">I4sII", data[8:24])
    assert kind == b"IHDR", path
    return width, height


def rgb(command):
    return numpy.frombuffer(subprocess.run(
        ["/usr/bin/ffmpeg", "-hide_banner", "-loglevel", "error", *command,
         "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
        check=True, capture_output=True, timeout=TIMEOUT_S).stdout, numpy.uint8).astype(int)


def test_shows_both_programs_and_leaves_matching_pictures():
    for png in OUT.glob("framepump-*.png"):
        png.unlink()
    status, output = finish(start())
    assert status == 0, output

    ready = re.search(r"^ready: reading 127\.0\.0\.1:(\d+), pictures on 127\.0\.0\.1:(\d+)$",
                      output, re.M)
    end = re.search(r"^end: decoded (\d+), sent (\d+), dropped (\d+)$", output, re.M)
    client = re.search(rf"^client: (\d+) records of {WIDTH}x{HEIGHT} pictures, "
                       r"sequence numbers (\d+) to (\d+)", output, re.M)
    assert ready and end and client, output
    # Every record that framepump sent reached the client whole.
    assert int(client[1]) == int(end[2]) > 1, output

    for line in ["ready 10160 6224", "end 3.04",
                 "cuewatch: the model doesn't have one input and one output"]:
        assert line in output.splitlines(), output
    assert re.search(r"^score \d+\.\d\d \d\.\d{3} \d+$", output, re.M), output
    assert re.search(r"^wake \d+\.\d\d 0\.9\d\d$", output, re.M), output

    # The pictures are the stream's own, frame for frame: colours, orientation
    # and rows all in place. Sequence number n is the n-th decoded picture.
    for name, sequence in [("first", int(client[2])), ("last", int(client[3]))]:
        png = OUT / f"framepump-{name}.png"
        assert png_size(png) == (WIDTH, HEIGHT)
        got = rgb(["-i", str(png)])
        want = rgb(["-i", str(OUT / "pattern.h264"), "-vf", f"select=eq(n\\,{sequence - 1})"])
        assert got.shape == want.shape == (WIDTH * HEIGHT * 3,)
        assert numpy.abs(got - want).max() <= 2, name


@pytest.mark.parametrize("sig, group, status", [
    (signal.SIGINT, True, 130),    # Ctrl-C in the terminal: the whole foreground group
    (signal.SIGTERM, False, 143),  # kill: the script alone
])
def test_interrupted_while_relaying(sig, group, status):
    proc = start()
    output = read_until(proc, "ready: reading")
    if group:
        os.killpg(proc.pid, sig)
    else:
        proc.send_signal(sig)
    got_status, output = finish(proc, output)
    assert got_status == status, output
    # framepump was stopped, not killed: it wrote its end line.
    assert re.search(r"^end: decoded \d+, sent \d+, dropped \d+$", output, re.M), output


def test_missing_build_says_to_run_setup(tmp_path):
    (tmp_path / "scripts").mkdir()
    shutil.copy(SCRIPT, tmp_path / "scripts")
    status, output = finish(start(tmp_path / "scripts" / "try.sh"))
    assert status == 1
    assert output == "try: build/native/relay/framepump is missing: run scripts/setup.sh first\n"
