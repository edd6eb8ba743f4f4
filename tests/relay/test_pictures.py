"""Decoding: every record is a picture exactly as ffmpeg decodes it, and the
pictures and streams the relay cannot handle end or skip as they should."""

import time

import pytest

from harness import Collector, access_units, read_header, scaled, split_frames

CONTENT = [
    # name, size, frames, encoder pixel format, layout of the reference decode
    pytest.param("p320", "320x240", 30, "yuv420p", "yuv420p", 0.01, id="320x240"),
    pytest.param("p1080", "1920x1080", 8, "yuv420p", "yuv420p", 0.05, id="1920x1080"),
    pytest.param("p2", "2x2", 10, "yuv420p", "yuv420p", 0.01, id="2x2"),
    # Full range decodes to the same planar layout; asking ffmpeg for the
    # native format keeps it from converting levels.
    pytest.param("full320", "320x240", 20, "yuvj420p", "yuvj420p", 0.01, id="full-range"),
]


@pytest.mark.parametrize("name,size,frames,pix_fmt,ref_fmt,pause", CONTENT)
def test_records_are_the_decoded_pictures(running, streams, name, size, frames, pix_fmt,
                                          ref_fmt, pause):
    w, h = map(int, size.split("x"))
    stream = streams.make(name, size, frames, pix_fmt)
    reference = split_frames(streams.decode(name, ref_fmt), w, h)
    assert len(reference) == frames
    r = running()
    collector = Collector(r.client())
    time.sleep(scaled(0.2))
    r.send_paced(access_units(stream), pause)
    time.sleep(scaled(0.5))
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    decoded, sent, dropped, suffix = r.relay.counts()
    # The parser keeps the last access unit: nothing follows it to end it.
    assert (decoded, suffix) == (frames - 1, "")
    assert sent == len(records) and sent + dropped <= decoded
    assert len(records) >= 2
    sequences = [seq for seq, _, _, _ in records]
    assert sequences == sorted(set(sequences)) and sequences[-1] <= decoded
    for seq, rw, rh, planes in records:
        assert (rw, rh) == (w, h)
        assert planes == reference[seq - 1], f"picture {seq} differs"


def test_picture_size_change_reuses_the_record_buffer(running, streams):
    big = streams.make("p1080", "1920x1080", 8)
    small = streams.make("p320", "320x240", 30)
    ref_big = split_frames(streams.decode("p1080"), 1920, 1080)
    ref_small = split_frames(streams.decode("p320"), 320, 240)
    r = running()
    collector = Collector(r.client())
    time.sleep(scaled(0.2))
    r.send_paced(access_units(big) + access_units(small) + access_units(big)[:3], 0.05)
    time.sleep(scaled(0.5))
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    assert r.relay.counts()[0] == 8 + 30 + 2
    sizes = set()
    for seq, w, h, planes in records:
        if seq <= 8:
            assert (w, h) == (1920, 1080) and planes == ref_big[seq - 1]
        elif seq <= 38:
            assert (w, h) == (320, 240) and planes == ref_small[seq - 9]
        else:
            assert (w, h) == (1920, 1080) and planes == ref_big[seq - 39]
        sizes.add((w, h, seq <= 8))
    # Large, then small, then large again.
    assert {(1920, 1080, True), (320, 240, False), (1920, 1080, False)} <= sizes


def test_pictures_decoded_without_client_are_only_counted(running, streams):
    stream = streams.make("p320", "320x240", 30)
    units = access_units(stream)
    r = running()
    # Eleven units give ten pictures before anybody listens.
    r.send_paced(units[:11], 0.01)
    time.sleep(scaled(0.3))
    collector = Collector(r.client())
    time.sleep(scaled(0.3))
    r.send_paced(units[11:], 0.01)
    time.sleep(scaled(0.3))
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    decoded, sent, dropped, _ = r.relay.counts()
    assert decoded == 29 and sent == len(records) >= 2
    assert records[0][0] >= 11
    assert dropped <= decoded - 10 - sent


FATAL = [
    pytest.param("p422", "320x240", "yuv422p", "only 8-bit 4:2:0 pictures (got format 4)",
                 id="4:2:2"),
    pytest.param("p2560", "2560x720", "yuv420p", "picture size 2560x720 not handled",
                 id="too-wide"),
]


@pytest.mark.parametrize("name,size,pix_fmt,message", FATAL)
def test_unhandled_pictures_end_the_run(running, streams, name, size, pix_fmt, message):
    stream = streams.make(name, size, 5, pix_fmt)
    r = running()
    client = r.client()
    read_header(client)
    r.conn.sendall(stream)
    assert r.relay.wait_exit(10) == 1
    assert r.relay.own_lines()[1:] == [message, "end: decoded 0, sent 0, dropped 0 (error)"]
    client.settimeout(scaled(2))
    assert client.recv(100) == b""


def test_picture_beyond_the_pixel_cap_is_skipped_and_the_run_goes_on(running, streams):
    stream = streams.make("p1088", "1920x1088", 4)
    r = running()
    client = r.client()
    read_header(client)
    r.send_paced(access_units(stream), 0.02)
    time.sleep(scaled(0.5))
    assert r.relay.proc.poll() is None
    r.close_source()
    assert r.relay.wait_exit(10) == 0
    assert r.relay.end_line() == "end: decoded 0, sent 0, dropped 0"
    client.settimeout(scaled(2))
    assert client.recv(100) == b""


def test_stream_joined_midway_decodes_from_the_next_parameter_sets(running, streams):
    frames, gop = 40, 10
    stream = streams.make("gop320", "320x240", frames, x264="aud=1:repeat-headers=1",
                          extra=["-g", str(gop), "-keyint_min", str(gop),
                                 "-sc_threshold", "0"])
    reference = split_frames(streams.decode("gop320"), 320, 240)
    units = access_units(stream)
    starts = [sum(map(len, units[:i])) for i in range(len(units))]
    cut = len(stream) // 3 + 7  # inside some access unit, not at a boundary
    first_idr = next(i for i, o in enumerate(starts) if o >= cut and i % gop == 0)
    r = running()
    collector = Collector(r.client())
    time.sleep(scaled(0.2))
    r.send_paced(access_units(stream[cut:]), 0.01)
    time.sleep(scaled(0.3))
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    decoded, sent, _, suffix = r.relay.counts()
    assert (decoded, suffix) == (frames - first_idr - 1, "")
    assert sent == len(records) >= 2
    for seq, _, _, planes in records:
        assert planes == reference[first_idr + seq - 1], f"picture {seq} differs"


def test_single_picture_stream_decodes_nothing(running, streams):
    stream = streams.make("one320", "320x240", 1)
    r = running()
    r.conn.sendall(stream)
    time.sleep(scaled(0.3))
    r.close_source()
    assert r.relay.wait_exit(10) == 0
    assert r.relay.end_line() == "end: decoded 0, sent 0, dropped 0"


@pytest.mark.parametrize("after_stream", [False, True], ids=["from-start", "after-pictures"])
def test_four_mib_without_a_packet_ends_the_run(running, streams, after_stream):
    r = running()
    decoded = 0
    if after_stream:
        # Each unit in a read of its own: the last one yields a packet and so
        # resets the count in the chunk that carries it.
        r.send_paced(access_units(streams.make("p320", "320x240", 30)), 0.02)
        decoded = 29
    r.conn.sendall(b"\xab" * 4194304)
    time.sleep(scaled(1.0))
    assert r.relay.proc.poll() is None, r.relay.own_lines()
    r.conn.sendall(b"\xab")
    assert r.relay.wait_exit(10) == 1
    # A slow machine may have written a statistics line before the message.
    assert r.relay.own_lines()[-2:] == [
        "no picture in the last 4 MB of the stream",
        f"end: decoded {decoded}, sent 0, dropped 0 (error)"]
