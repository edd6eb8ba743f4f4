"""Decoding: every record is a picture exactly as ffmpeg decodes it, and the
pictures and streams the relay cannot handle end or skip as they should."""

import pytest

from harness import Collector, access_units, read_header, scaled, split_frames

CONTENT = [
    # name, size, frames, encoder pixel format, layout of the reference decode
    pytest.param("p320", "320x240", 30, "yuv420p", "yuv420p", id="320x240"),
    pytest.param("p1080", "1920x1080", 8, "yuv420p", "yuv420p", id="1920x1080"),
    pytest.param("p2", "2x2", 10, "yuv420p", "yuv420p", id="2x2"),
    # Full range decodes to the same planar layout; asking ffmpeg for the
    # native format keeps it from converting levels.
    pytest.param("full320", "320x240", 20, "yuvj420p", "yuvj420p", id="full-range"),
]


@pytest.mark.parametrize("name,size,frames,pix_fmt,ref_fmt", CONTENT)
def test_records_are_the_decoded_pictures(running, streams, name, size, frames, pix_fmt,
                                          ref_fmt):
    w, h = map(int, size.split("x"))
    stream = streams.make(name, size, frames, pix_fmt)
    reference = split_frames(streams.decode(name, ref_fmt), w, h)
    assert len(reference) == frames
    r = running()
    collector = Collector(r.client())
    collector.wait_header(r.relay)
    r.send_in_step(access_units(stream), collector)
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    # The parser keeps the last access unit: nothing follows it to end it.
    assert r.relay.counts() == (frames - 1, frames - 1, 0, "")
    assert [seq for seq, _, _, _ in records] == list(range(1, frames))
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
    collector.wait_header(r.relay)
    # Large, then small, then large again.
    r.send_in_step(access_units(big) + access_units(small) + access_units(big)[:3], collector)
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    assert r.relay.counts() == (8 + 30 + 2, 8 + 30 + 2, 0, "")
    expected = ([(1920, 1080, p) for p in ref_big] + [(320, 240, p) for p in ref_small] +
                [(1920, 1080, p) for p in ref_big[:2]])
    assert [seq for seq, _, _, _ in records] == list(range(1, 41))
    for (seq, w, h, planes), (ew, eh, ep) in zip(records, expected):
        assert (w, h) == (ew, eh) and planes == ep, f"picture {seq} differs"


def test_pictures_decoded_without_client_are_only_counted(running, streams):
    units = access_units(streams.make("p320", "320x240", 30))
    r = running()
    # Eleven units give ten pictures before anybody listens: the relay has
    # read them all, and so decoded them, before the client connects.
    r.conn.sendall(b"".join(units[:11]))
    r.wait_drained()
    collector = Collector(r.client())
    collector.wait_header(r.relay)
    # The twelfth unit completes the eleventh picture, the first the client sees.
    r.send_in_step(units[11:], collector, skip=0)
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    assert r.relay.counts() == (29, 19, 0, "")
    assert [seq for seq, _, _, _ in records] == list(range(11, 30))


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
    # A slow run (the emulator) may pass the 5 s of a statistics line.
    lines = [l for l in r.relay.own_lines()[1:] if not l.startswith("decoded ")]
    assert lines == [message, "end: decoded 0, sent 0, dropped 0 (error)"]
    client.settimeout(scaled(2))
    assert client.recv(100) == b""


def test_picture_beyond_the_pixel_cap_is_skipped_and_the_run_goes_on(running, streams):
    stream = streams.make("p1088", "1920x1088", 4)
    r = running()
    client = r.client()
    read_header(client)
    r.conn.sendall(stream)
    r.wait_drained()
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
    joined = access_units(stream[cut:])
    # The tail of the unit cut into comes first, then whole units.
    first_whole = len(units) - (len(joined) - 1)
    assert starts[first_whole - 1] < cut < starts[first_whole]
    first_idr = next(i for i in range(first_whole, len(units)) if i % gop == 0)
    r = running()
    collector = Collector(r.client())
    collector.wait_header(r.relay)
    # The units up to the key frame's, and that one itself, complete no picture.
    r.send_in_step(joined, collector, skip=first_idr - first_whole + 2)
    r.close_source()
    records = collector.join()
    assert r.relay.wait_exit(10) == 0
    pictures = frames - first_idr - 1
    assert r.relay.counts() == (pictures, pictures, 0, "")
    assert [seq for seq, _, _, _ in records] == list(range(1, pictures + 1))
    for seq, _, _, planes in records:
        assert planes == reference[first_idr + seq - 1], f"picture {seq} differs"


def test_single_picture_stream_decodes_nothing(running, streams):
    stream = streams.make("one320", "320x240", 1)
    r = running()
    r.conn.sendall(stream)
    r.close_source()
    assert r.relay.wait_exit(10) == 0
    assert r.relay.end_line() == "end: decoded 0, sent 0, dropped 0"


@pytest.mark.parametrize("after_stream", [False, True], ids=["from-start", "after-pictures"])
def test_four_mib_without_a_packet_ends_the_run(running, streams, after_stream):
    r = running()
    decoded = 0
    if after_stream:
        # The chunk that yields the last packet resets the count and is not
        # counted itself, so the filler must not share it: it follows once
        # the stream has been read.
        r.conn.sendall(streams.make("p320", "320x240", 30))
        r.wait_drained()
        decoded = 29
    r.conn.sendall(b"\xab" * 4194304)
    r.wait_drained()
    assert r.relay.proc.poll() is None, r.relay.own_lines()
    r.conn.sendall(b"\xab")
    assert r.relay.wait_exit(10) == 1
    # A slow machine may have written a statistics line before the message.
    assert r.relay.own_lines()[-2:] == [
        "no picture in the last 4 MB of the stream",
        f"end: decoded {decoded}, sent 0, dropped 0 (error)"]
