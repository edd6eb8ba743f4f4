"""A client slower than the stream: pictures are dropped, never queued."""

import os
import struct
import threading
import time

from harness import HTTP_HEADER, Feeder, access_units, scaled


def test_slow_client_drops_pictures_with_bounded_memory(running, streams):
    units = access_units(streams.make("p320", "320x240", 30))
    record_size = 16 + 320 * 240 * 3 // 2
    # The sanitizer's quarantine of freed memory would look like growth.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0"
    r = running(env=env)
    client = r.client(rcvbuf=16384)
    received = bytearray()
    reading = threading.Event()

    def read_slowly():
        # About 800 kB/s: a few records a second against hundreds decoded.
        while True:
            d = client.recv(4096)
            if not d:
                return
            received.extend(d)
            if reading.is_set():
                time.sleep(0.005)

    reader = threading.Thread(target=read_slowly, daemon=True)
    reading.set()
    reader.start()
    time.sleep(scaled(0.2))
    feeder = Feeder(r.conn, units, 0)
    time.sleep(scaled(0.5))
    baseline = r.relay.rss_kib()
    peak = baseline
    for _ in range(15):
        time.sleep(0.2)
        peak = max(peak, r.relay.rss_kib())
    feeder.stop()
    reading.clear()
    r.close_source()
    assert r.relay.wait_exit(10) == 0
    reader.join(scaled(10))
    decoded, sent, dropped, _ = r.relay.counts()
    # Queuing what was dropped would take hundreds of megabytes.
    assert dropped > 20 and dropped * record_size > 10 * (peak - baseline) * 1024
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
