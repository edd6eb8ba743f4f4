"""SIGINT and SIGTERM at random moments of a framepump run: while it connects,
during set-up, while pictures flow, while a record is half sent and while it
decodes flat out. Every time: the right last line and status, no hang, and
the client and the source see their sockets closed, the client having got
the header and exactly the records the end line counts as sent."""

import signal
import socket
import subprocess
import threading
import time

import pytest

from conftest import (HTTP_HEADER, HTTP_HEADER_SIZE, Lines, command, free_port,
                      listening_socket, read_to_eof, rng, scaled, trials, whole_records)

PHASES = ["connecting", "set-up", "streaming", "mid-record", "decoding"]
SIGNALS = [signal.SIGINT, signal.SIGTERM]


def plan():
    r = rng("relay-stop-signals")
    cases = []
    for i in range(trials(25)):
        phase = PHASES[i % len(PHASES)]
        sig = r.choice(SIGNALS)
        delay = {"connecting": r.uniform(0, 0.6), "set-up": r.uniform(0, 0.004)}.get(
            phase, r.uniform(0.05, 0.8))
        cases.append(pytest.param(phase, sig, delay,
                                  id=f"{i:02d}-{phase}-{sig.name}-{delay * 1000:.0f}ms"))
    return cases


class Relay:
    def __init__(self, input_port, output_port):
        self.proc = subprocess.Popen(
            command("FRAMEPUMP", ["--input", input_port, "--output", output_port]),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.err = Lines(self.proc.stderr)

    def finish(self, timeout):
        try:
            status = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError(f"framepump hung; lines {self.err.own()}")
        self.err.join(scaled(5))
        return status


class Feeder(threading.Thread):
    """Sends access units over and over, paced or flat out, until the relay
    goes away."""

    def __init__(self, conn, units, pause):
        super().__init__(daemon=True)
        self.conn, self.units, self.pause = conn, units, pause
        self.stopping = threading.Event()
        self.start()

    def run(self):
        i = 0
        try:
            while not self.stopping.is_set():
                self.conn.sendall(self.units[i % len(self.units)])
                i += 1
                if self.pause:
                    time.sleep(self.pause)
        except OSError:
            pass


class Client(threading.Thread):
    """Reads the relay's output to its end, slowly when asked, so that a
    record stays half sent."""

    def __init__(self, port, slow):
        super().__init__(daemon=True)
        self.sock = socket.socket()
        if slow:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
        self.sock.connect(("127.0.0.1", port))
        self.slow = slow
        self.data = bytearray()
        self.ended = False
        self.start()

    def run(self):
        self.sock.settimeout(scaled(20))
        try:
            while True:
                got = self.sock.recv(4096 if self.slow else 1 << 20)
                if not got:
                    break
                self.data += got
                if self.slow:
                    time.sleep(0.002)
        except ConnectionResetError:
            pass
        except socket.timeout:
            return  # a hang: ended stays false
        self.ended = True


def end_counts(line):
    # "end: decoded D, sent S, dropped P" with an optional suffix
    words = line.replace(",", "").split()
    return int(words[2]), int(words[4]), int(words[6]), " ".join(words[7:])


@pytest.mark.parametrize("phase,sig,delay", plan())
def test_stop_signal_at_a_random_moment(streams, phase, sig, delay):
    units = {"streaming": lambda: streams("r320", "320x240", 30),
             "mid-record": lambda: streams("r720", "1280x720", 10),
             "decoding": lambda: streams("r720", "1280x720", 10)}.get(phase, lambda: None)()
    source = None if phase == "connecting" else listening_socket()
    input_port = free_port() if source is None else source.getsockname()[1]
    output_port = free_port()
    relay = Relay(input_port, output_port)
    conn = client = feeder = None
    try:
        if phase in ("connecting", "set-up"):
            time.sleep(scaled(delay))
            relay.proc.send_signal(sig)
            sent_at = time.monotonic()
        else:
            source.settimeout(scaled(10))
            conn, _ = source.accept()
            assert relay.err.wait_for("ready:", scaled(10)), relay.err.own()
            client = Client(output_port, slow=(phase == "mid-record"))
            feeder = Feeder(conn, units, {"streaming": 1 / 30, "mid-record": 0.02}.get(phase, 0))
            time.sleep(scaled(delay))
            relay.proc.send_signal(sig)
            sent_at = time.monotonic()
        status = relay.finish(scaled(5))
        took = time.monotonic() - sent_at
        lines = relay.err.own()

        if status == -sig:
            # Before the handlers are installed a stop signal has its
            # default effect; nothing can have been written yet.
            assert phase in ("connecting", "set-up") and lines == []
            return
        if phase == "connecting" or not any(l.startswith("ready:") for l in lines):
            assert (status, lines) == (1, [f"can't reach the stream on 127.0.0.1:{input_port}"])
            # One pause of 100 ms at most, then the flag is seen.
            assert took < scaled(0.5)
            return
        assert status == 0, lines
        assert lines[0].startswith("ready:") and lines[-1].startswith("end:"), lines
        assert [l for l in lines if l.startswith("end:")] == [lines[-1]]
        decoded, sent, dropped, suffix = end_counts(lines[-1])
        assert suffix == "" and sent + dropped <= decoded
        # The poll is cut short; the pass in progress ends within a chunk.
        assert took < scaled(1.5)

        # The source sees its connection closed.
        if conn is None:
            source.settimeout(scaled(5))
            conn, _ = source.accept()
        assert read_to_eof(conn, scaled(5)) == b""
        if client is not None:
            client.join(scaled(10))
            assert client.ended, "the client never saw the close"
            assert bytes(client.data[:HTTP_HEADER_SIZE]) == HTTP_HEADER
            body = bytes(client.data[HTTP_HEADER_SIZE:])
            records, _ = whole_records(body)
            assert len(records) == sent, (len(records), lines[-1])
            sequences = [s for s, _, _ in records]
            assert sequences == sorted(set(sequences)) and all(s <= decoded for s in sequences)
    finally:
        if feeder:
            feeder.stopping.set()
        if relay.proc.poll() is None:
            relay.proc.kill()
            relay.proc.wait()
        for s in (conn, source, client.sock if client else None):
            if s:
                s.close()
