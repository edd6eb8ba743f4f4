"""A client slower than the stream: pictures are dropped, never queued."""

import os
import struct

from harness import HTTP_HEADER, recv_exact


def test_slow_client_drops_pictures_with_bounded_memory(running, streams):
    stream = streams.make("p320", "320x240", 30)
    record_size = 16 + 320 * 240 * 3 // 2
    # The sanitizer's quarantine of freed memory would look like growth.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0"
    r = running(env=env)
    client = r.client(rcvbuf=16384)
    received = bytearray(recv_exact(client, len(HTTP_HEADER)))

    def round_of_pictures():
        # Thirty pictures decoded while the client takes one record's worth:
        # the socket buffers hold a few records, the rest must be dropped.
        r.conn.sendall(stream)
        r.wait_drained()
        received.extend(recv_exact(client, record_size))

    for _ in range(2):
        round_of_pictures()
    baseline = r.relay.rss_kib()
    peak = baseline
    for _ in range(15):
        round_of_pictures()
        peak = max(peak, r.relay.rss_kib())
    r.close_source()
    assert r.relay.wait_exit(10) == 0
    while True:
        d = client.recv(1 << 20)
        if not d:
            break
        received.extend(d)
    decoded, sent, dropped, _ = r.relay.counts()
    assert decoded == 17 * 30 - 1
    # Queuing what was dropped would take tens of megabytes.
    assert dropped > 400 and dropped * record_size > 10 * (peak - baseline) * 1024
    assert peak - baseline < 16 * 1024, (baseline, peak)

    # Whole records back to back, and only a cut-off one at the very end.
    assert received[:116] == HTTP_HEADER
    pos, sequences = 116, []
    while len(received) - pos >= record_size:
        magic, w, h, seq = struct.unpack_from("<4sIII", received, pos)
        assert (magic, w, h) == (b"FPV1", 320, 240), pos
        sequences.append(seq)
        pos += record_size
    assert len(sequences) == sent and sequences == sorted(set(sequences))
    # Every picture was packed or dropped, but for one cut off at the end.
    assert decoded - sent - dropped in (0, 1)
