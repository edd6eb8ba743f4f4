"""framepump started with its standard descriptors closed, as a careless
launcher or supervisor may leave them. Its sockets must not take those
numbers: the client socket would otherwise be descriptor 2, and the
statistics and end lines would go into the client's picture stream."""

import signal
import socket
import subprocess
import time

from conftest import (HTTP_HEADER, HTTP_HEADER_SIZE, command, free_port,
                      listening_socket, read_to_eof, scaled, whole_records)

# The relay's statistics period, in real time whatever the emulation.
STATS_INTERVAL_S = 5.0
# Pictures a second; it only keeps the feeding from running flat out.
RATE = 30


class Client:
    """Reads the relay's output and checks it record by record as it comes."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=scaled(10))
        self.data = b""

    def read_until(self, sequence):
        """Reads until the record with this sequence number has come whole."""
        while True:
            if len(self.data) >= HTTP_HEADER_SIZE:
                assert self.data[:HTTP_HEADER_SIZE] == HTTP_HEADER, self.data[:200]
                records, _ = whole_records(self.data[HTTP_HEADER_SIZE:])
                if records and records[-1][0] >= sequence or sequence == 0:
                    return
            got = self.sock.recv(1 << 20)
            assert got, "the relay closed the client"
            self.data += got


def test_closed_standard_descriptors_keep_the_client_stream_clean(streams):
    units = streams("c160", "160x120", 30)
    source = listening_socket()
    output_port = free_port()
    relay = command("FRAMEPUMP", ["--input", source.getsockname()[1],
                                  "--output", output_port])
    proc = subprocess.Popen(["sh", "-c", 'exec 0<&- 1>&- 2>&- "$@"', "sh", *relay],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    conn = client = None
    try:
        source.settimeout(scaled(10))
        conn, _ = source.accept()
        # Connected before the loop runs, the client is accepted in its first
        # pass and gets the header there, so the loop has begun once it has come.
        client = Client(output_port)
        client.read_until(0)
        began = time.monotonic()
        # One access unit at a time, each only once the picture before it has
        # come whole (the parser gives a picture when the next one begins): no
        # picture is dropped and none is half sent when the run is stopped.
        # Past the statistics period a statistics line has fallen due.
        fed = 0
        while time.monotonic() - began < STATS_INTERVAL_S + 1.5:
            conn.sendall(units[fed % len(units)])
            fed += 1
            client.read_until(fed - 1)
            time.sleep(1 / RATE)
        proc.send_signal(signal.SIGTERM)
        assert proc.wait(scaled(10)) == 0
        data = client.data + read_to_eof(client.sock, scaled(10))
        assert read_to_eof(conn, scaled(10)) == b""
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        for s in (source, conn, client.sock if client else None):
            if s:
                s.close()

    # The header and whole records, nothing else and no tail.
    assert data[:HTTP_HEADER_SIZE] == HTTP_HEADER
    records, tail = whole_records(data[HTTP_HEADER_SIZE:])
    assert tail == 0, data[-tail:][:200]
    assert [s for s, _, _ in records] == list(range(1, fed))
    assert {(w, h) for _, w, h in records} == {(160, 120)}
