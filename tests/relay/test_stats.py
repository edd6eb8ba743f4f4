"""Statistics lines: at most every 5 s, marked while no client is connected,
and never in the pass that the 4 MiB rule ends.

The relay's rule is about its own clock: lines at least 5.0 s apart, the
first no earlier than 5.0 s after its loop began. The test reads the same
clock (CLOCK_MONOTONIC), but only ever later than the relay: a line arrives
after it was written. So a gap between two arrivals can be shorter than the
relay's gap, and is no sound lower bound. `Relay.started` is read before the
process exists, so it is no later than the start of the loop; line k is
written at least 5k s after that start, and so arrives at least 5k s after
`started`, however late anything is scheduled."""

import signal
import time

from harness import Feeder, read_header, scaled, wait_until

LIMIT = 4194304  # bytes without a packet that still pass


def stats_lines(relay):
    with relay.cond:
        return [(t, l) for t, l in relay.lines if l.startswith("decoded ")]


def wait_stats(relay, count):
    # Lines are due every 5 s and the idle loop wakes once a second.
    wait_until(lambda: len(stats_lines(relay)) >= count,
               f"no statistics line {count}: {relay.own_lines()}", timeout=5 * count + 1 + 2)
    return stats_lines(relay)[count - 1]


def test_statistics_period_and_suffix(running):
    r = running()
    start = r.relay.started
    # A byte every 20 ms makes the relay run a pass that often, so that a
    # line comes when it falls due, not at the next idle wake a second on.
    poker = Feeder(r.conn, [b"\xab"], 0.02)
    try:
        first, line = wait_stats(r.relay, 1)
        assert first - start >= 5, first - start
        assert line == "decoded 0, sent 0, dropped 0 (no page)"
        client = r.client()
        read_header(client)
        # The relay took the client before this moment; line k comes no
        # earlier than start + 5k, so the first k for which that is later
        # still was written with the client connected.
        taken = time.monotonic()
        k = int((taken - start) // 5) + 1
        _, line = wait_stats(r.relay, k)
        assert line == "decoded 0, sent 0, dropped 0"
    finally:
        poker.stop()
    arrivals = [t for t, _ in stats_lines(r.relay)]
    for i, t in enumerate(arrivals, 1):
        assert t - start >= 5 * i, (i, t - start)
    # Even an idle relay wakes once a second, so a line is at most that late.
    assert all(b - a <= 5 + 1 + scaled(2) for a, b in zip(arrivals, arrivals[1:])), arrivals


def test_no_statistics_line_in_the_pass_that_the_4mib_rule_ends(running):
    # The pass that reads the byte over the limit must come when a line is
    # due, and be the first pass to come then: any earlier pass would write
    # the line. The relay is stopped (SIGSTOP) while it waits in its poll,
    # the due time passes, the byte is sent, and only then does it go on.
    # An attempt whose passes still wrote a line before the message proves
    # nothing (the stop caught the relay inside a pass, say) and is repeated.
    for _ in range(3):
        r = running()
        r.conn.sendall(b"\xab" * LIMIT)
        r.wait_drained()
        r.relay.wait_state("S")
        r.relay.signal(signal.SIGSTOP)
        r.relay.wait_state("T")
        seen = stats_lines(r.relay)
        due = (seen[-1][0] if seen else r.relay.started) + 5
        time.sleep(max(0, due - time.monotonic()))
        r.conn.sendall(b"\xab")
        r.relay.signal(signal.SIGCONT)
        assert r.relay.wait_exit(10) == 1
        # Never a statistics line between the message and the end line.
        assert r.relay.own_lines()[-2:] == [
            "no picture in the last 4 MB of the stream",
            "end: decoded 0, sent 0, dropped 0 (error)"]
        if len(stats_lines(r.relay)) == len(seen):
            return  # the ending pass was the first after the due time
    raise AssertionError("no attempt ended in a pass where a statistics line was due")
