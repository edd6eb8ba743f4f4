"""The option scan: which words start the relay and which give the usage line."""

import socket
import subprocess
import time

import pytest

from harness import (USAGE, Relay, free_port, listening_socket, relay_command, scaled)

# {src} is a stream source the test holds, {out} a free port, {free} a port
# where nothing listens. A refused command line must contact neither.
WORDS = [
    # accepted: the relay starts with the ports {src} and {out}
    (["--input", "{src}", "--output", "{out}"], True),
    (["--output", "{out}", "--input", "{src}"], True),
    (["--input", "+{src}", "--output", "+{out}"], True),
    (["--input", "0{src}", "--output", "00{out}"], True),
    (["--input", " \t\n{src}", "--output", "\v\f\r{out}"], True),
    # every occurrence is checked and the last one wins
    (["--input", "{free}", "--output", "{free}", "--output", "{out}", "--input", "{src}"], True),
    # refused: the usage line and status 2
    (["{src}"], False),
    (["--input"], False),
    (["--output"], False),
    (["--input", "{src}", "--output"], False),
    (["--input", "{src}", "--output", "{out}", "extra"], False),
    (["--output", "{out}", "--output", "0"], False),
    (["--input", "0"], False),
    (["--input", "65536"], False),
    (["--input", "-1"], False),
    (["--input", "-{src}"], False),
    (["--input", ""], False),
    (["--input", " "], False),
    (["--input", "+"], False),
    (["--input", "{src}a"], False),
    (["--input", "{src} "], False),
    (["--input", "0x50"], False),
    (["--input", "99999999999999999999999"], False),
    (["--input={src}"], False),
    (["-i", "{src}"], False),
    (["--INPUT", "{src}"], False),
    (["--Output", "{out}"], False),
    (["--port", "{src}"], False),
]


@pytest.mark.parametrize("template,accepted", WORDS,
                         ids=[" ".join(t).encode("unicode_escape").decode() or "none"
                              for t, _ in WORDS])
def test_command_line_words(template, accepted):
    source = listening_socket()
    sp, out, free = source.getsockname()[1], free_port(), free_port()
    words = [w.format(src=sp, out=out, free=free) for w in template]
    try:
        if accepted:
            relay = Relay(words)
            try:
                assert relay.wait_ready(5) == (f"ready: reading 127.0.0.1:{sp}, "
                                               f"pictures on 127.0.0.1:{out}")
                socket.create_connection(("127.0.0.1", out), timeout=1).close()
            finally:
                relay.kill()
            return
        done = subprocess.run(relay_command(words), capture_output=True, timeout=scaled(5))
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


def test_defaults_without_arguments():
    # Another program may hold a default port for a while; the test waits
    # for the ports rather than pass untested.
    deadline = time.monotonic() + scaled(60)
    while True:
        try:
            source = listening_socket(8793)
        except OSError:
            source = None
        if source:
            relay = Relay([])
            line = relay.wait_line("", 10)
            if line != "can't listen on 127.0.0.1:8794":
                break
            relay.kill()
            source.close()
        assert time.monotonic() < deadline, "the default ports 8793 and 8794 stay in use"
        time.sleep(0.1)
    try:
        assert line == "ready: reading 127.0.0.1:8793, pictures on 127.0.0.1:8794"
        socket.create_connection(("127.0.0.1", 8794), timeout=1).close()
    finally:
        relay.kill()
        source.close()
