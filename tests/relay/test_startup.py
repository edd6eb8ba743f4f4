"""Start-up: the listening socket first, then up to 100 connection attempts
100 ms apart, and the stop signals while connecting."""

import socket
import time

import pytest

from harness import (HTTP_HEADER, STOP_SIGNALS, Relay, free_port, listening_socket,
                     read_header, scaled, wait_listening)


def test_output_port_taken_fails_without_contacting_the_source():
    holder = listening_socket()
    taken = holder.getsockname()[1]
    source = listening_socket()
    relay = Relay(["--input", str(source.getsockname()[1]), "--output", str(taken)])
    try:
        assert relay.wait_exit(10) == 1
        assert relay.own_lines() == [f"can't listen on 127.0.0.1:{taken}"]
        source.settimeout(0.3)
        with pytest.raises(socket.timeout):
            source.accept()
    finally:
        relay.kill()
        holder.close()
        source.close()


def test_no_source_gives_up_after_about_ten_seconds_and_serves_nobody():
    missing, out = free_port(), free_port()
    start = time.monotonic()
    relay = Relay(["--input", str(missing), "--output", str(out)])
    try:
        waiting = wait_listening(out, relay)
        assert relay.wait_exit(30) == 1
        elapsed = time.monotonic() - start
        assert relay.own_lines() == [f"can't reach the stream on 127.0.0.1:{missing}"]
        # 100 pauses of 100 ms after 100 failed attempts.
        assert 9.8 <= elapsed <= 10 + scaled(5), elapsed
        # The client that waited in the backlog never got a byte.
        waiting.settimeout(scaled(2))
        try:
            assert waiting.recv(1000) == b""
        except ConnectionResetError:
            pass
        waiting.close()
    finally:
        relay.kill()


def test_source_that_appears_late_is_reached():
    port, out = free_port(), free_port()
    relay = Relay(["--input", str(port), "--output", str(out)])
    try:
        wait_listening(out, relay).close()
        time.sleep(0.5)
        source = listening_socket(port)
        source.settimeout(scaled(5))
        conn, _ = source.accept()
        assert relay.wait_ready() == f"ready: reading 127.0.0.1:{port}, pictures on 127.0.0.1:{out}"
        conn.close()
        source.close()
        assert relay.wait_exit(10) == 0
        assert relay.end_line() == "end: decoded 0, sent 0, dropped 0"
    finally:
        relay.kill()


@pytest.mark.parametrize("sig", STOP_SIGNALS, ids=lambda s: s.name)
def test_stop_signal_while_connecting(sig):
    port, out = free_port(), free_port()
    relay = Relay(["--input", str(port), "--output", str(out)])
    try:
        wait_listening(out, relay).close()
        time.sleep(0.3)
        sent = time.monotonic()
        relay.signal(sig)
        assert relay.wait_exit(5) == 1
        # At most one pause of 100 ms, plus process exit.
        assert time.monotonic() - sent < 0.1 + scaled(0.4)
        assert relay.own_lines() == [f"can't reach the stream on 127.0.0.1:{port}"]
    finally:
        relay.kill()


def test_restart_on_the_same_output_port_while_old_connections_close():
    source = listening_socket()
    out = free_port()
    args = ["--input", str(source.getsockname()[1]), "--output", str(out)]
    first = Relay(args)
    source.settimeout(scaled(10))
    conn, _ = source.accept()
    first.wait_ready()
    client = socket.create_connection(("127.0.0.1", out), timeout=scaled(5))
    read_header(client)
    # The relay closes first, so its side of the connection lingers.
    first.signal(2)
    assert first.wait_exit(5) == 0
    conn.close()
    second = Relay(args)
    try:
        conn2, _ = source.accept()
        assert second.wait_ready().endswith(f"pictures on 127.0.0.1:{out}")
        again = socket.create_connection(("127.0.0.1", out), timeout=scaled(5))
        again.settimeout(scaled(5))
        assert again.recv(len(HTTP_HEADER), socket.MSG_WAITALL) == HTTP_HEADER
        again.close()
        conn2.close()
    finally:
        client.close()
        second.kill()
        source.close()
