#!/usr/bin/python3
"""Soak of framepump: a paced 720p stream for a long run, with one client that
connects, stalls, reads and disconnects at random. RSS and open descriptors of
the relay are sampled every few seconds; both must stay flat.

usage: framepump_soak.py FRAMEPUMP [--minutes 30] [--out DIR] [--seed 1]
"""

import argparse
import os
import random
import socket
import subprocess
import sys
import tempfile
import threading
import time

AUD = b"\x00\x00\x00\x01\x09"
HEADER_SIZE = 116


def make_stream(path):
    if not os.path.exists(path):
        subprocess.run(["/usr/bin/ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                        "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30",
                        "-frames:v", "300", "-c:v", "libx264", "-preset", "veryfast",
                        "-bf", "0", "-g", "60", "-pix_fmt", "yuv420p",
                        "-x264-params", "aud=1", path], check=True, timeout=600)
    with open(path, "rb") as f:
        parts = f.read().split(AUD)
    return [AUD + p for p in parts[1:]]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def proc_figures(pid):
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


def source(conn, units, stop, counts):
    """Sends the stream in a loop at 30 pictures a second."""
    period = 1 / 30
    due = time.monotonic()
    try:
        while not stop.is_set():
            conn.sendall(units[counts["units"] % len(units)])
            counts["units"] += 1
            due += period
            time.sleep(max(0.0, due - time.monotonic()))
    except OSError as e:
        counts["source_error"] = repr(e)


def client(port, stop, rng, counts):
    """Connects, reads, stalls and leaves at random; sometimes resets."""
    while not stop.is_set():
        s = socket.socket()
        try:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rng.choice([65536, 1 << 20]))
            s.connect(("127.0.0.1", port))
            counts["connects"] += 1
            s.settimeout(2)
            leave_at = time.monotonic() + rng.uniform(0.1, 20)
            while time.monotonic() < leave_at and not stop.is_set():
                action = rng.random()
                if action < 0.3:
                    time.sleep(rng.uniform(0, 3))  # stall
                else:
                    try:
                        got = s.recv(1 << 20)
                    except socket.timeout:
                        continue
                    if not got:
                        break
                    counts["bytes"] += len(got)
            if rng.random() < 0.3:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
                counts["resets"] += 1
        except OSError:
            counts["client_errors"] += 1
        finally:
            s.close()
        time.sleep(rng.uniform(0, 2))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("framepump")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--out", default=tempfile.gettempdir())
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--period", type=float, default=5)
    args = parser.parse_args()

    units = make_stream(os.path.join(args.out, "soak720.h264"))
    rng = random.Random(args.seed)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    out_port = free_port()
    stderr_path = os.path.join(args.out, "framepump_soak.stderr")
    with open(stderr_path, "wb") as stderr:
        relay = subprocess.Popen([args.framepump, "--input", str(listener.getsockname()[1]),
                                  "--output", str(out_port)],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=stderr)
    conn, _ = listener.accept()
    stop = threading.Event()
    counts = {"units": 0, "connects": 0, "bytes": 0, "resets": 0, "client_errors": 0}
    threads = [threading.Thread(target=source, args=(conn, units, stop, counts), daemon=True),
               threading.Thread(target=client, args=(out_port, stop, rng, counts),
                                daemon=True)]
    for t in threads:
        t.start()

    samples_path = os.path.join(args.out, "framepump_soak.tsv")
    samples = []
    start = time.monotonic()
    with open(samples_path, "w") as log:
        log.write("seconds\trss_kib\tfds\tunits\tconnects\n")
        while time.monotonic() - start < args.minutes * 60:
            time.sleep(args.period)
            if relay.poll() is not None:
                print(f"framepump ended early with status {relay.returncode}")
                return 1
            rss, fds = proc_figures(relay.pid)
            t = time.monotonic() - start
            samples.append((t, rss, fds))
            log.write(f"{t:.0f}\t{rss}\t{fds}\t{counts['units']}\t{counts['connects']}\n")
            log.flush()
    stop.set()
    for t in threads:
        t.join(10)
    relay.send_signal(2)
    status = relay.wait(10)
    conn.close()
    with open(stderr_path, "rb") as f:
        end = [l for l in f.read().decode("latin-1").splitlines() if l.startswith("end:")]

    # The first minute holds the growth to the largest record; after it,
    # nothing may grow.
    settled = [s for s in samples if s[0] >= 60] or samples
    rss_values = [s[1] for s in settled]
    fd_values = [s[2] for s in settled]
    print(f"samples {len(samples)} over {samples[-1][0]:.0f} s; written to {samples_path}")
    print(f"rss KiB after the first minute: min {min(rss_values)} max {max(rss_values)} "
          f"first {rss_values[0]} last {rss_values[-1]}")
    print(f"open descriptors: min {min(fd_values)} max {max(fd_values)}")
    print(f"pictures sent by the source {counts['units']}, client connects "
          f"{counts['connects']} (resets {counts['resets']}, errors "
          f"{counts['client_errors']}), bytes read {counts['bytes']}")
    print(f"end line: {end}, status {status}")
    flat = max(rss_values) - min(rss_values) <= 1024 and max(fd_values) <= 6
    ok = flat and status == 0 and len(end) == 1
    print("flat" if ok else "NOT FLAT or bad end")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
