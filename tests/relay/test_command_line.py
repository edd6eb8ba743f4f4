"""The option scan: which words start the relay and which give the usage line."""

import socket
import subprocess

import pytest

from harness import (USAGE, Relay, free_port, listening_socket, relay_command, scaled)

P = "8000"

REFUSED = [
    pytest.param([P], id="one-word-number"),
    pytest.param(["--input"], id="one-word-input"),
    pytest.param(["--output"], id="one-word-output"),
    pytest.param(["--input", "7000", "--output"], id="missing-last-value"),
    pytest.param(["--input", "7000", "extra"], id="pair-then-word"),
    pytest.param(["--output", "7001", "--output", "0"], id="valid-then-refused"),
    pytest.param(["--input", "0"], id="zero"),
    pytest.param(["--input", "65536"], id="too-big"),
    pytest.param(["--input", "-1"], id="negative"),
    pytest.param(["--input", "-80"], id="minus-in-range-abs"),
    pytest.param(["--input", ""], id="empty"),
    pytest.param(["--input", "80a"], id="trailing-letter"),
    pytest.param(["--input", "80 "], id="trailing-blank"),
    pytest.param(["--input", "0x50"], id="hex"),
    pytest.param(["--input", "99999999999999999999999"], id="beyond-long"),
    pytest.param(["--input", " "], id="only-blank"),
    pytest.param(["--input", "+"], id="only-sign"),
    pytest.param(["--input=80"], id="equals-form"),
    pytest.param(["-i", "80"], id="short-form"),
    pytest.param(["--INPUT", "80"], id="upper-case"),
    pytest.param(["--Output", "80"], id="mixed-case"),
    pytest.param(["--port", "80"], id="unknown-option"),
]


@pytest.mark.parametrize("args", REFUSED)
def test_refused_words_give_usage_and_status_2_before_any_socket(args):
    # A source on the port named first must never be contacted, and nothing
    # may listen on the port named as output.
    source = listening_socket()
    out = free_port()
    words = [w.replace("7000", str(source.getsockname()[1])).replace("7001", str(out))
             for w in args]
    try:
        done = subprocess.run(relay_command(words), capture_output=True,
                              timeout=scaled(5))
        assert done.returncode == 2
        assert done.stderr == USAGE
        assert done.stdout == b""
        source.settimeout(0.2)
        with pytest.raises(socket.timeout):
            source.accept()
        with pytest.raises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", out), timeout=1).close()
    finally:
        source.close()


ACCEPTED = [
    pytest.param(lambda p: str(p), id="plain"),
    pytest.param(lambda p: "+" + str(p), id="plus-sign"),
    pytest.param(lambda p: "0" + str(p), id="leading-zero"),
    pytest.param(lambda p: " \t\n" + str(p), id="leading-blanks"),
]


@pytest.mark.parametrize("form", ACCEPTED)
def test_accepted_port_forms(form):
    source = listening_socket()
    sp = source.getsockname()[1]
    out = free_port()
    relay = Relay(["--input", form(sp), "--output", form(out)])
    try:
        assert relay.wait_ready() == f"ready: reading 127.0.0.1:{sp}, pictures on 127.0.0.1:{out}"
        socket.create_connection(("127.0.0.1", out), timeout=1).close()
    finally:
        relay.kill()
        source.close()


@pytest.mark.parametrize("port", [1, 65535])
def test_range_ends_are_accepted(port):
    # Used as the output port: either the relay listens there or the port is
    # taken, but the word itself must pass the scan.
    source = listening_socket()
    relay = Relay(["--input", str(source.getsockname()[1]), "--output", str(port)])
    try:
        line = relay.wait_line("", 10)
        assert line in (f"ready: reading 127.0.0.1:{source.getsockname()[1]}, "
                        f"pictures on 127.0.0.1:{port}",
                        f"can't listen on 127.0.0.1:{port}")
    finally:
        relay.kill()
        source.close()


def test_last_occurrence_wins():
    source = listening_socket()
    sp = source.getsockname()[1]
    out = free_port()
    # The first --input names a port where nothing listens: using it would
    # keep the relay retrying.
    relay = Relay(["--input", str(free_port()), "--output", str(free_port()),
                   "--output", str(out), "--input", str(sp)])
    try:
        assert relay.wait_ready(5) == f"ready: reading 127.0.0.1:{sp}, pictures on 127.0.0.1:{out}"
    finally:
        relay.kill()
        source.close()


def test_defaults_without_arguments():
    try:
        source = listening_socket(8793)
    except OSError:
        pytest.skip("port 8793 is in use")
    relay = Relay([])
    try:
        line = relay.wait_line("", 10)
        if line == "can't listen on 127.0.0.1:8794":
            pytest.skip("port 8794 is in use")
        assert line == "ready: reading 127.0.0.1:8793, pictures on 127.0.0.1:8794"
        socket.create_connection(("127.0.0.1", 8794), timeout=1).close()
    finally:
        relay.kill()
        source.close()
