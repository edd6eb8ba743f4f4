"""SIGINT and SIGTERM at random moments of a framepump run: while it connects,
during set-up, while pictures flow, while a record is half sent and while it
decodes flat out. Every time: the right last line and status, no hang, and
the client and the source see their sockets closed, the client having got
the header and exactly the records the end line counts as sent. Then many
short runs whose signal lands within a fraction of a millisecond of a wait:
a connection attempt to a port where nobody listens, one to a source that
never accepts, and the main loop's poll; a stop that falls between the flag
test and the wait must still end the run at once."""

import signal
import socket
import subprocess
import threading
import time

import pytest

from conftest import (HTTP_HEADER, HTTP_HEADER_SIZE, Lines, command, free_port,
                      listening_socket, race_tries, read_to_eof, rng, scaled, spin,
                      trials, whole_records)

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


# An end at once takes about 1 ms natively, 3 to 8 ms under the emulator and
# up to 15 ms with the sanitizers; a stop lost before a wait would have to wait
# out the pause between attempts (100 ms), the poll (1 s) or a hanging attempt.
RACE_BOUND = scaled(0.1)


def held_port():
    """A free port, held by a bound socket that doesn't listen, so that no
    other process can take it before the relay, which binds with SO_REUSEADDR,
    does; over thousands of tries beside other suites that happens. Connections
    to it are refused."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    return s, s.getsockname()[1]


def connect_when_listening(port, proc, timeout):
    """Connects to the relay's output port as soon as it listens, which is
    right before its first connection attempt. The connection waits in the
    backlog."""
    deadline = time.monotonic() + timeout
    while True:
        s = socket.socket()
        if s.connect_ex(("127.0.0.1", port)) == 0:
            return s
        s.close()
        if proc.poll() is not None or time.monotonic() > deadline:
            return None


def full_source():
    """A source whose accept queue is full: with a backlog of 0 one waiting
    connection fills it, and the SYN of any further one is dropped, so that
    connect hangs."""
    source = socket.socket()
    source.bind(("127.0.0.1", 0))
    source.listen(0)
    filler = socket.create_connection(source.getsockname())
    return source, filler


def race_relay_once(phase, sig, offset, nudge):
    """One run with the signal offset seconds after the observed start of a
    wait; gives what went wrong, or None."""
    hold, output_port = held_port()
    sockets = [hold]
    if phase == "no-source":
        hold, input_port = held_port()
        sockets.append(hold)
    elif phase == "full-source":
        source, filler = full_source()
        sockets += [source, filler]
        input_port = source.getsockname()[1]
    else:
        source = listening_socket()
        sockets.append(source)
        input_port = source.getsockname()[1]
    proc = subprocess.Popen(
        command("FRAMEPUMP", ["--input", input_port, "--output", output_port]),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        client = connect_when_listening(output_port, proc, scaled(10))
        if client is None:
            return f"never listened; status {proc.poll()}"
        sockets.append(client)
        if phase == "main-loop":
            # The first pass accepts the client and sends the header; then the
            # loop waits, or, nudged by one byte from the source, makes one
            # more pass and waits again.
            source.settimeout(scaled(10))
            client.settimeout(scaled(10))
            try:
                conn, _ = source.accept()
                sockets.append(conn)
                header = client.recv(HTTP_HEADER_SIZE, socket.MSG_WAITALL)
            except socket.timeout:
                header = b"(none in time)"
            if header != HTTP_HEADER:
                return f"no header but {header!r}; status {proc.poll()}"
            if nudge:
                conn.send(b"\0")
        spin(offset)
        proc.send_signal(sig)
        sent_at = time.monotonic()
        try:
            status = proc.wait(scaled(1))
        except subprocess.TimeoutExpired:
            return "hung"
        took = time.monotonic() - sent_at
        lines = proc.stderr.read().decode().splitlines()
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.stderr.close()
        for s in sockets:
            s.close()
    if phase == "main-loop":
        expected = (0, ["ready: reading 127.0.0.1:%d, pictures on 127.0.0.1:%d"
                        % (input_port, output_port), "end: decoded 0, sent 0, dropped 0"])
    else:
        expected = (1, [f"can't reach the stream on 127.0.0.1:{input_port}"])
    if (status, lines) != expected:
        return f"status {status}, lines {lines}"
    if took > RACE_BOUND:
        return f"took {took * 1000:.0f} ms"
    return None


@pytest.mark.parametrize("phase", ["no-source", "full-source", "main-loop"])
def test_stop_signal_racing_a_wait_ends_the_run_at_once(phase):
    """no-source: the signal within 0.5 ms of the relay listening, around its
    first connection attempt (refused at once) and the pause after it.
    full-source: the same around an attempt that hangs. main-loop: within 0.5 ms
    of the client getting its header, or of one byte from the source, around the
    loop's return to its poll."""
    r = rng(f"relay-race-{phase}")
    failures = []
    for i in range(race_tries(400 if phase == "main-loop" else 200)):
        sig = r.choice(SIGNALS)
        offset = r.uniform(0, 0.0005)
        nudge = phase == "main-loop" and r.random() < 0.5
        failure = race_relay_once(phase, sig, offset, nudge)
        if failure:
            failures.append(f"try {i}, {sig.name} {offset * 1e6:.0f} us"
                            f"{' after a nudge' if nudge else ''}: {failure}")
    assert not failures, f"{len(failures)} failed, the first:\n" + "\n".join(failures[:10])
