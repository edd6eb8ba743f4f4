"""How a running relay ends: the end line, its counts and the exit status."""

import signal
import socket
import struct
import time

import pytest

from harness import Collector, access_units, read_header, scaled


def close_source(r):
    r.conn.close()


def reset_source(r):
    # A zero linger time makes close send a reset, so the relay's read fails.
    r.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    r.conn.close()


ENDS = [
    pytest.param(close_source, id="source-closes"),
    pytest.param(reset_source, id="source-resets"),
    pytest.param(lambda r: r.relay.signal(signal.SIGINT), id="SIGINT"),
    pytest.param(lambda r: r.relay.signal(signal.SIGTERM), id="SIGTERM"),
]


def stats_free(lines):
    # A slow run (the emulator) may pass the 5 s of a statistics line.
    return [l for l in lines if not l.startswith("decoded ")]


@pytest.mark.parametrize("end", ENDS)
def test_normal_ends(running, streams, end):
    units = access_units(streams.make("p320", "320x240", 30))
    r = running()
    collector = Collector(r.client(), keep_planes=False)
    collector.wait_header(r.relay)
    # Twelve units give eleven pictures, each sent whole before the next.
    r.send_in_step(units[:12], collector)
    ended = time.monotonic()
    end(r)
    assert r.relay.wait_exit(5) == 0
    # A signal cuts the poll short; nothing waits for its timeout.
    assert time.monotonic() - ended < scaled(0.5)
    records = collector.join()
    lines = stats_free(r.relay.own_lines())
    assert len(lines) == 2 and lines[0].startswith("ready:")
    assert r.relay.counts() == (11, 11, 0, "")
    assert [seq for seq, _, _, _ in records] == list(range(1, 12))


def test_stop_while_a_record_is_partly_sent(running, streams):
    units = access_units(streams.make("p1080", "1920x1080", 8))
    r = running()
    client = r.client(rcvbuf=65536)
    read_header(client)
    # The client reads nothing more, so the first record stays pending and
    # the second picture finds it there.
    r.conn.sendall(b"".join(units[:3]))
    r.wait_drained()
    r.relay.signal(signal.SIGTERM)
    assert r.relay.wait_exit(5) == 0
    decoded, sent, dropped, suffix = r.relay.counts()
    assert (decoded, sent, dropped, suffix) == (2, 0, 1, "")
    rest = b""
    while True:
        d = client.recv(1 << 20)
        if not d:
            break
        rest += d
    assert rest[:4] == b"FPV1" and 16 < len(rest) < 16 + 1920 * 1080 * 3 // 2
