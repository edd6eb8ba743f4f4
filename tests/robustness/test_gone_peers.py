"""Peers that go away or stop taking data: clients that reset at random
points, a source that stalls mid-picture and then resets, an output pipe
that nobody reads, and audio inputs that run dry or reset."""

import fcntl
import os
import signal
import socket
import subprocess
import threading
import time

import pytest

from conftest import (AUDIO, HTTP_HEADER, HTTP_HEADER_SIZE, MODELS, Lines, command,
                      free_port, listening_socket, open_fds, read_to_eof, readable, reset,
                      rng, scaled, trials, whole_records)

F_SETPIPE_SZ = 1031


class RunningRelay:
    def __init__(self):
        self.source = listening_socket()
        self.output_port = free_port()
        self.proc = subprocess.Popen(
            command("FRAMEPUMP", ["--input", self.source.getsockname()[1],
                                  "--output", self.output_port]),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.err = Lines(self.proc.stderr)
        self.source.settimeout(scaled(10))
        self.conn, _ = self.source.accept()
        assert self.err.wait_for("ready:", scaled(10)), self.err.own()

    def client(self, rcvbuf=None):
        s = socket.socket()
        if rcvbuf:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        s.settimeout(scaled(10))
        s.connect(("127.0.0.1", self.output_port))
        return s

    def finish(self):
        status = self.proc.wait(scaled(10))
        self.err.join(scaled(5))
        lines = self.err.own()
        assert [l for l in lines if l.startswith("end:")] == [lines[-1]], lines
        return status, lines[-1]

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.conn.close()
        self.source.close()


@pytest.fixture
def relay():
    started = []

    def start():
        r = RunningRelay()
        started.append(r)
        return r

    yield start
    for r in started:
        r.close()


def feed(conn, units, pause, stopping):
    def run():
        i = 0
        try:
            while not stopping.is_set():
                conn.sendall(units[i % len(units)])
                i += 1
                time.sleep(pause)
        except OSError:
            pass
    t = threading.Thread(target=run, daemon=True)
    t.start()
    return t


def test_clients_that_reset_at_random_points_leave_the_relay_serving(relay, streams):
    units = streams("g320", "320x240", 30)
    r = relay()
    baseline = open_fds(r.proc.pid)
    stopping = threading.Event()
    feeder = feed(r.conn, units, scaled(1 / 60), stopping)
    draw = rng("clients-that-reset")
    try:
        for _ in range(trials(12)):
            c = r.client(rcvbuf=draw.choice([4096, 65536]))
            # Anywhere from before the header to deep inside a record.
            want = draw.choice([0, draw.randrange(1, HTTP_HEADER_SIZE),
                                draw.randrange(HTTP_HEADER_SIZE, 400000)])
            got = 0
            while got < want:
                d = c.recv(min(65536, want - got))
                if not d:
                    break
                got += len(d)
            time.sleep(draw.uniform(0, scaled(0.05)))
            reset(c)
        time.sleep(scaled(0.5))
        # Every reset client was dropped and its socket closed.
        assert open_fds(r.proc.pid) == baseline
        last = r.client()
        assert last.recv(HTTP_HEADER_SIZE, socket.MSG_WAITALL) == HTTP_HEADER
        body = b""
        while len(whole_records(body)[0]) < 3:
            d = last.recv(1 << 20)
            assert d, "the relay closed a client it should serve"
            body += d
        sequences = [s for s, _, _ in whole_records(body)[0]]
        assert sequences == sorted(set(sequences))
    finally:
        stopping.set()
        feeder.join(scaled(5))
    r.proc.send_signal(signal.SIGTERM)
    status, end = r.finish()
    assert status == 0 and end.startswith("end: ") and "(error)" not in end
    read_to_eof(last, scaled(5))  # the close reaches the client; a hang raises


def test_source_that_stalls_mid_picture_then_resets_ends_normally(relay, streams):
    units = streams("g320", "320x240", 30)
    r = relay()
    client = r.client()
    assert client.recv(HTTP_HEADER_SIZE, socket.MSG_WAITALL) == HTTP_HEADER
    for unit in units[:6]:
        r.conn.sendall(unit)
        time.sleep(scaled(0.02))
    r.conn.sendall(units[6][:len(units[6]) // 2])
    # Longer than two poll timeouts: the relay waits, neither ending nor spinning.
    time.sleep(scaled(2.5))
    assert r.proc.poll() is None
    reset(r.conn)
    status, end = r.finish()
    assert status == 0 and "(error)" not in end, end
    records, _ = whole_records(read_to_eof(client, scaled(5)))
    assert f"sent {len(records)}," in end


# cuewatch

MODEL = MODELS / "stream_f1a.tflite"
SPEECH = (AUDIO / "speech_hello.raw").read_bytes()


def reference_lines(audio, *options):
    done = subprocess.run(command("CUEWATCH", [MODEL, "--mono", "--scores", *options]),
                          input=audio, capture_output=True, timeout=scaled(60))
    assert done.returncode == 0
    return done.stdout.decode().splitlines(keepends=True)


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def blocked_on_small_pipe(audio):
    """cuewatch with its output on a 4 KiB pipe that nobody reads yet, and
    audio enough to fill it many times over; returns once it is stuck."""
    read_end, write_end = os.pipe()
    fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
    proc = subprocess.Popen(command("CUEWATCH", [MODEL, "--mono", "--scores"]),
                            stdin=subprocess.PIPE, stdout=write_end, stderr=subprocess.PIPE)
    os.close(write_end)
    feeder = threading.Thread(target=lambda: _write_all(proc.stdin, audio), daemon=True)
    feeder.start()
    time.sleep(scaled(1))
    before = cpu_ticks(proc.pid)
    time.sleep(scaled(0.5))
    # Waiting in the write, not spinning.
    assert cpu_ticks(proc.pid) - before <= 2
    assert proc.poll() is None
    return proc, read_end, feeder


def _write_all(pipe, data):
    try:
        pipe.write(data)
        pipe.close()
    except (BrokenPipeError, OSError, ValueError):
        pass


def read_all(fd):
    data = b""
    while True:
        d = os.read(fd, 65536)
        if not d:
            return data
        data += d


def test_full_output_pipe_waits_and_loses_no_line():
    audio = SPEECH * 3
    proc, read_end, feeder = blocked_on_small_pipe(audio)
    try:
        out = read_all(read_end).decode()
        assert proc.wait(scaled(10)) == 0
    finally:
        os.close(read_end)
        proc.kill()
    assert out.splitlines(keepends=True) == reference_lines(audio)
    assert proc.stderr.read() == b""


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM], ids=lambda s: s.name)
def test_stop_signal_while_blocked_on_a_full_output_ends_quietly(sig):
    audio = SPEECH * 3
    proc, read_end, feeder = blocked_on_small_pipe(audio)
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
