"""Statistics lines: at most every 5 s, marked while no client is connected,
and never in the pass that the 4 MiB rule ends."""

import time

from harness import read_header, scaled


def stats_lines(relay):
    with relay.cond:
        return [(t, l) for t, l in relay.lines if l.startswith("decoded ")]


def wait_stats(relay, count, timeout):
    deadline = time.monotonic() + scaled(timeout)
    while len(stats_lines(relay)) < count:
        assert time.monotonic() < deadline, relay.own_lines()
        time.sleep(0.02)
    return stats_lines(relay)[count - 1]


def test_statistics_period_and_suffix(running):
    r = running()
    with r.relay.cond:
        ready_time = r.relay.lines[-1][0]
    t1, line1 = wait_stats(r.relay, 1, 8)
    assert line1 == "decoded 0, sent 0, dropped 0 (no page)"
    assert t1 - ready_time >= 4.95
    client = r.client()
    read_header(client)
    t2, line2 = wait_stats(r.relay, 2, 8)
    assert line2 == "decoded 0, sent 0, dropped 0"
    # The idle loop wakes once a second, so a line is at most that late.
    assert 4.95 <= t2 - t1 <= 5 + 1 + scaled(0.3)

    # 4 MiB without a packet passes; the byte after it ends the run in a pass
    # in which a statistics line is due, and none is written.
    r.conn.sendall(b"\xab" * 4194303)
    time.sleep(max(0, t2 + 4.6 - time.monotonic()))
    r.conn.sendall(b"\xab")
    time.sleep(max(0, t2 + 5.3 - time.monotonic()))
    r.conn.sendall(b"\xab")
    assert r.relay.wait_exit(10) == 1
    assert r.relay.own_lines()[-3:] == [
        "decoded 0, sent 0, dropped 0",
        "no picture in the last 4 MB of the stream",
        "end: decoded 0, sent 0, dropped 0 (error)"]
