"""Fixtures: a running relay with its source, and the session's test streams."""

import pytest

from harness import Relay, Running, Streams, free_port, listening_socket, scaled


@pytest.fixture
def running():
    """Starts a relay against a fresh source and hands over both ends."""
    started = []

    def start(env=None):
        source = listening_socket()
        output_port = free_port()
        relay = Relay(["--input", str(source.getsockname()[1]),
                       "--output", str(output_port)], env=env)
        source.settimeout(scaled(10))
        conn, _ = source.accept()
        relay.wait_ready()
        r = Running(relay, source, conn, output_port)
        started.append(r)
        return r

    yield start
    for r in started:
        r.relay.kill()
        r.conn.close()
        r.source.close()



@pytest.fixture(scope="session")
def streams(tmp_path_factory):
    return Streams(str(tmp_path_factory.mktemp("streams")))
