"""The client endpoint: the response header, one client at a time, whole
records only, and counters that run on across clients."""

import socket

import pytest

from harness import (HTTP_HEADER, Collector, Feeder, Relay, access_units, free_port,
                     listening_socket, read_header, read_record, recv_exact, scaled,
                     wait_listening, wait_until)

REQUESTS = [
    pytest.param(None, id="silent-client"),
    pytest.param(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n", id="http-request"),
    pytest.param(b"\x00\xff" * 25000, id="junk"),
]


@pytest.mark.parametrize("request_bytes", REQUESTS)
def test_header_then_records_whatever_the_client_sends(running, streams, request_bytes):
    units = access_units(streams.make("p320", "320x240", 30))
    r = running()
    client = r.client()
    if request_bytes:
        client.sendall(request_bytes)
    assert recv_exact(client, len(HTTP_HEADER)) == HTTP_HEADER
    # Nothing follows before a picture is decoded.
    client.settimeout(scaled(0.5))
    with pytest.raises(socket.timeout):
        client.recv(1)
    client.settimeout(scaled(10))
    r.conn.sendall(b"".join(units[:4]))
    seq, w, h, _ = read_record(client)
    assert (seq, w, h) == (1, 320, 240)


def test_second_client_gets_nothing_while_the_first_goes_on(running, streams):
    units = access_units(streams.make("p320", "320x240", 30))
    r = running()
    first = r.client()
    collector = Collector(first, keep_planes=False)
    collector.wait_header(r.relay)
    r.send_in_step(units[:10], collector)
    second = r.client()
    second.settimeout(scaled(5))
    try:
        assert second.recv(1000) == b""
    except ConnectionResetError:
        pass
    r.send_in_step(units[10:], collector, skip=0)
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    assert r.relay.counts() == (29, 29, 0, "")
    # The first client's stream went on past the newcomer.
    assert [seq for seq, _, _, _ in records] == list(range(1, 30))


def test_client_dropped_mid_record_then_next_client_gets_fresh_records(running, streams):
    units = access_units(streams.make("p1080", "1920x1080", 8))
    r = running()
    without_client = r.relay.open_fds()
    feeder = Feeder(r.conn, units, 0.04)
    try:
        # Small buffers on both sides: the relay can't have finished a
        # 3 MB record that this client stops reading 100 kB into.
        first = r.client(rcvbuf=65536)
        read_header(first)
        whole = [read_record(first)[0] for _ in range(2)]
        partial = recv_exact(first, 100000)
        assert partial[:4] == b"FPV1"
        first.close()
        # A newcomer is only served once the relay has dropped the first.
        wait_until(lambda: r.relay.open_fds() == without_client, "the first client stays")
        second = r.client()
        collector = Collector(second, keep_planes=False)
        collector.wait_records(2, r.relay, timeout=20)
    finally:
        feeder.stop()
    r.close_source()
    records = collector.join()
    assert records[0][0] > whole[-1]
    assert r.relay.wait_exit(10) == 0
    _, sent, _, _ = r.relay.counts()
    assert sent == len(whole) + len(records)


def test_two_connections_waiting_at_start_only_the_first_is_served(streams):
    # Both connect while the relay still looks for its source, so both wait
    # in the backlog when the loop begins.
    port, out = free_port(), free_port()
    relay = Relay(["--input", str(port), "--output", str(out)])
    source = None
    try:
        first = wait_listening(out, relay)
        second = socket.create_connection(("127.0.0.1", out), timeout=scaled(5))
        source = listening_socket(port)
        source.settimeout(scaled(5))
        conn, _ = source.accept()
        relay.wait_ready()
        first.settimeout(scaled(5))
        assert recv_exact(first, len(HTTP_HEADER)) == HTTP_HEADER
        second.settimeout(scaled(5))
        try:
            assert second.recv(1000) == b""
        except ConnectionResetError:
            pass
        conn.sendall(streams.make("p320", "320x240", 30))
        assert read_record(first)[0] == 1
        conn.close()
        assert relay.wait_exit(10) == 0
    finally:
        relay.kill()
        if source:
            source.close()
