"""Helpers for the black-box tests of framepump: the test plays the stream source and the
client over real loopback sockets and watches the relay's standard error."""

import os
import pathlib
import re
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

import pytest

# Shared with the robustness suite; the tests import them from here.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tools"))
from stream_peers import (EMULATOR, HTTP_HEADER, Feeder, Streams,  # noqa: E402,F401
                          access_units, free_port, listening_socket, open_fds,
                          process_state, relay_client, scaled, wait_drained,
                          wait_until)

FRAMEPUMP = os.environ.get("FRAMEPUMP", "")
ARTIFACT_DIR = os.environ.get("ARTIFACT_DIR", "")
USAGE = b"usage: framepump [--input PORT] [--output PORT]\n"


def relay_command(args):
    if not FRAMEPUMP:
        pytest.fail("FRAMEPUMP is not set")
    return ([EMULATOR] if EMULATOR else []) + [FRAMEPUMP] + list(args)


def wait_listening(port, relay, timeout=10):
    """Connects to the relay's output port once it listens; the connection
    waits in the backlog."""
    deadline = time.monotonic() + scaled(timeout)
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=1)
        except ConnectionRefusedError:
            assert relay.proc.poll() is None, relay.own_lines()
            assert time.monotonic() < deadline, "the relay never listened"
            time.sleep(0.02)


class Relay:
    """One framepump process; its standard error is collected line by line
    with the time each line arrived."""

    def __init__(self, args, env=None):
        # Read before the process exists, so no later than anything it does.
        self.started = time.monotonic()
        self.proc = subprocess.Popen(relay_command(args), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     env=env)
        self.lines = []
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stderr:
            with self.cond:
                self.lines.append((time.monotonic(), line.decode("latin-1").rstrip("\n")))
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def own_lines(self):
        """The relay's own lines, without the library's diagnostics."""
        with self.cond:
            return [l for _, l in self.lines if not l.startswith("[")]

    def wait_line(self, prefix, timeout):
        deadline = time.monotonic() + scaled(timeout)
        with self.cond:
            while True:
                for t, l in self.lines:
                    if l.startswith(prefix):
                        return l
                left = deadline - time.monotonic()
                if left <= 0 or (not self.reader.is_alive() and self.proc.poll() is not None):
                    raise AssertionError(f"no line {prefix!r}; got {self.own_lines()}")
                self.cond.wait(min(left, 0.1))

    def wait_ready(self, timeout=10):
        return self.wait_line("ready:", timeout)

    def wait_exit(self, timeout):
        rc = self.proc.wait(scaled(timeout))
        self.reader.join(scaled(5))
        return rc

    def end_line(self):
        ends = [l for l in self.own_lines() if l.startswith("end:")]
        assert len(ends) == 1, self.own_lines()
        return ends[0]

    def counts(self):
        """decoded, sent, dropped and suffix of the end line."""
        m = re.fullmatch(r"end: decoded (\d+), sent (\d+), dropped (\d+)( \(error\))?",
                         self.end_line())
        assert m, self.end_line()
        return int(m[1]), int(m[2]), int(m[3]), m[4] or ""

    def signal(self, sig):
        self.proc.send_signal(sig)

    def wait_state(self, letter):
        """Waits for a process state: S while the relay waits in a system
        call, T once stopped."""
        wait_until(lambda: process_state(self.proc.pid) == letter,
                   f"the relay never reached state {letter}")

    def open_fds(self):
        return open_fds(self.proc.pid)

    def rss_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise AssertionError("no VmRSS")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(5)


class Running:
    """A relay connected to a stream source that the test holds."""

    def __init__(self, relay, source, conn, output_port):
        self.relay = relay
        self.source = source
        self.conn = conn
        self.output_port = output_port

    def client(self, rcvbuf=None):
        return relay_client(self.output_port, rcvbuf)

    def send_in_step(self, units, collector, skip=1):
        """Sends the access units one at a time and, after each, waits until
        the client has the picture that unit completed (that of the unit
        before it), so that no picture finds a record still pending and none
        is dropped. The first `skip` units complete no picture: the first
        unit of a stream; in a stream joined mid-way, every unit up to and
        including that of the first key frame."""
        want = len(collector.records)
        for i, unit in enumerate(units):
            self.conn.sendall(unit)
            if i >= skip:
                want += 1
                collector.wait_records(want, self.relay)

    def wait_drained(self):
        """Waits until the relay has read everything the source sent; the
        pass that read the last bytes has then decoded them before the relay
        looks at anything else."""
        wait_drained(self.conn)

    def close_source(self):
        self.conn.close()


def recv_exact(sock, n):
    chunks = []
    while n:
        d = sock.recv(min(n, 1 << 20))
        if not d:
            raise EOFError(f"closed with {n} bytes missing")
        chunks.append(d)
        n -= len(d)
    return b"".join(chunks)


def read_header(sock):
    got = recv_exact(sock, len(HTTP_HEADER))
    assert got == HTTP_HEADER
    return got


def read_record(sock):
    """One whole record: (sequence, width, height, planes)."""
    head = recv_exact(sock, 16)
    magic, w, h, seq = struct.unpack("<4sIII", head)
    assert magic == b"FPV1", head
    assert 2 <= w <= 1920 and 2 <= h <= 1080 and w % 2 == 0 and h % 2 == 0, (w, h)
    return seq, w, h, recv_exact(sock, w * h * 3 // 2)


def split_frames(raw, w, h):
    size = w * h * 3 // 2
    assert len(raw) % size == 0
    return [raw[i:i + size] for i in range(0, len(raw), size)]


STOP_SIGNALS = [signal.SIGINT, signal.SIGTERM]


class Collector:
    """Reads the header and then whole records from a client socket until the
    relay closes it; a record cut off by the close is not kept."""

    def __init__(self, sock, keep_planes=True):
        self.sock = sock
        self.keep_planes = keep_planes
        self.records = []
        self.header = None
        self.error = None
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            header = recv_exact(self.sock, len(HTTP_HEADER))
            with self.cond:
                self.header = header
                self.cond.notify_all()
            while True:
                seq, w, h, planes = read_record(self.sock)
                with self.cond:
                    self.records.append((seq, w, h, planes if self.keep_planes else None))
                    self.cond.notify_all()
        except (EOFError, ConnectionResetError):
            pass
        except Exception as e:  # reported by join()
            self.error = e
        with self.cond:
            self.cond.notify_all()

    def _wait(self, done, what, relay, timeout):
        deadline = time.monotonic() + scaled(timeout)
        with self.cond:
            while not done():
                left = deadline - time.monotonic()
                if left <= 0 or not self.thread.is_alive():
                    lines = relay.own_lines() if relay else []
                    raise AssertionError(f"the client never got {what}: {self.error or lines}")
                self.cond.wait(min(left, 0.1))

    def wait_header(self, relay=None, timeout=10):
        """Returns once the header is in: the relay has taken this client."""
        self._wait(lambda: self.header is not None, "the header", relay, timeout)
        assert self.header == HTTP_HEADER

    def wait_records(self, count, relay=None, timeout=10):
        self._wait(lambda: len(self.records) >= count, f"{count} records", relay, timeout)

    def join(self, timeout=20):
        self.thread.join(scaled(timeout))
        assert not self.thread.is_alive(), "the client never saw the end"
        if self.error:
            raise self.error
        assert self.header == HTTP_HEADER
        return self.records
