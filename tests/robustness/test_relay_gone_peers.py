"""framepump's peers that go away: clients that reset at random points, and
a source that stalls mid-picture and then resets."""

import signal
import socket
import subprocess
import time

import pytest

from conftest import (HTTP_HEADER, HTTP_HEADER_SIZE, Feeder, Lines, command, cpu_ticks,
                      free_port, listening_socket, open_fds, process_state, read_to_eof,
                      reset, rng, scaled, trials, wait_drained, wait_until, whole_records)
from stream_peers import relay_client


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
        return relay_client(self.output_port, rcvbuf)

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


def test_clients_that_reset_at_random_points_leave_the_relay_serving(relay, streams):
    units = streams("g320", "320x240", 30)
    r = relay()
    baseline = open_fds(r.proc.pid)
    feeder = Feeder(r.conn, units, 1 / 60)
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
        # Every reset client is dropped and its socket closed.
        wait_until(lambda: open_fds(r.proc.pid) == baseline, "a reset client stays open")
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
        feeder.stop()
    r.proc.send_signal(signal.SIGTERM)
    status, end = r.finish()
    assert status == 0 and end.startswith("end: ") and "(error)" not in end
    read_to_eof(last, scaled(5))  # the close reaches the client; a hang raises


def test_source_that_stalls_mid_picture_then_resets_ends_normally(relay, streams):
    units = streams("g320", "320x240", 30)
    r = relay()
    client = r.client()
    assert client.recv(HTTP_HEADER_SIZE, socket.MSG_WAITALL) == HTTP_HEADER
    r.conn.sendall(b"".join(units[:6]) + units[6][:len(units[6]) // 2])
    wait_drained(r.conn)
    wait_until(lambda: process_state(r.proc.pid) == "S", "the relay never waits")
    # Longer than two poll timeouts: the relay waits, neither ending nor
    # spinning (a pass takes far less than a clock tick).
    before = cpu_ticks(r.proc.pid)
    time.sleep(2.5)
    assert r.proc.poll() is None
    assert cpu_ticks(r.proc.pid) - before <= 10
    reset(r.conn)
    status, end = r.finish()
    assert status == 0 and "(error)" not in end, end
    records, _ = whole_records(read_to_eof(client, scaled(5)))
    assert f"sent {len(records)}," in end


