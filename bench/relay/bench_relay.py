#!/usr/bin/python3
"""Measures framepump against bare single-thread decoding and the two relays a
user would otherwise reach for, on the same streams, in one run:

  throughput  pictures per second with the source sending as fast as it can
              and the client draining as fast as it can, CPU time per picture
              and peak RSS;
  latency     for a paced 30 fps stream, the time from the source writing the
              last byte of a picture to the client holding the whole picture.

Usage: bench/relay/bench_relay.py [--framepump build/native/relay/framepump]
       [--runs 5] [--cache DIR]
"""

import argparse
import hashlib
import os
import re
import socket
import statistics
import subprocess
import threading
import time

FFMPEG = "/usr/bin/ffmpeg"
GST = "/usr/bin/gst-launch-1.0"
AUD = b"\x00\x00\x00\x01\x09"
STREAMS = [
    # name, size, bitrate: about 10 s at 30 fps, camera-like bitrates
    ("720p", "1280x720", "4M"),
    ("1080p", "1920x1080", "8M"),
]
FRAMES = 300


def make_stream(cache, name, size, bitrate):
    path = os.path.join(cache, f"bench-{name}.h264")
    if not os.path.exists(path):
        # Moving test pattern with noise, so that every picture carries detail;
        # no B-frames, as from a live camera; access unit delimiters let the
        # latency source write one picture at a time.
        subprocess.run([FFMPEG, "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                        "-i", f"testsrc2=size={size}:rate=30,noise=alls=12:allf=t",
                        "-frames:v", str(FRAMES), "-c:v", "libx264", "-preset", "medium",
                        "-bf", "0", "-b:v", bitrate, "-maxrate", bitrate, "-bufsize", bitrate,
                        "-pix_fmt", "yuv420p", "-x264-params", "aud=1", path], check=True)
    with open(path, "rb") as f:
        return path, f.read()


def access_units(stream):
    return [AUD + p for p in stream.split(AUD)[1:]]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(1)
    return s


def connect_retry(port, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port))
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.001)


class Drain:
    """Reads a client connection as fast as it can. With identify set (for
    latency runs) it notes when each whole picture has arrived and which
    picture of the stream it is, by the digest of its planes."""

    def __init__(self, sock, skip, header_each, frame_size, identify=False):
        self.sock = sock
        self.skip = skip  # bytes before the first picture
        self.header_each = header_each  # bytes of framing in front of each picture
        self.frame_size = frame_size
        self.total = 0
        self.arrivals = []  # (time, digest)
        target = self._identify if identify else self._count
        self.thread = threading.Thread(target=target, daemon=True)
        self.thread.start()

    def _count(self):
        buf = bytearray(8 << 20)
        view = memoryview(buf)
        while True:
            try:
                n = self.sock.recv_into(view)
            except ConnectionResetError:
                break
            if not n:
                break
            self.total += n

    def _read(self, view):
        got = 0
        while got < len(view):
            n = self.sock.recv_into(view[got:])
            if not n:
                raise EOFError
            got += n
        self.total += got

    def _identify(self):
        record = bytearray(self.header_each + self.frame_size)
        view = memoryview(record)
        try:
            if self.skip:
                self._read(memoryview(bytearray(self.skip)))
            while True:
                self._read(view)
                now = time.monotonic()
                self.arrivals.append((now, hashlib.md5(view[self.header_each:]).digest()))
        except (EOFError, ConnectionResetError):
            pass

    def pictures(self):
        return max(0, (self.total - self.skip) // (self.header_each + self.frame_size))


def picture_digests(path, frame_size):
    """Digest of every picture that ffmpeg decodes from the stream, in order."""
    dec = subprocess.Popen([FFMPEG, "-hide_banner", "-loglevel", "error", "-i", path,
                            "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"],
                           stdout=subprocess.PIPE)
    digests = []
    while True:
        frame = dec.stdout.read(frame_size)
        if len(frame) < frame_size:
            break
        digests.append(hashlib.md5(frame).digest())
    dec.wait()
    return digests


def wait_rusage(proc):
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage


class Relay:
    """One relay program between a source socket we hold and a client we hold."""

    def __init__(self, kind, framepump, size, low_latency=False):
        self.kind = kind
        self.identify = low_latency
        w, h = map(int, size.split("x"))
        self.frame_size = w * h * 3 // 2
        self.source = listening()
        sp = self.source.getsockname()[1]
        self.out_port = free_port()
        op = self.out_port
        if kind == "framepump":
            cmd = [framepump, "--input", str(sp), "--output", str(op)]
        elif kind == "ffmpeg-relay":
            tuning = (["-fflags", "nobuffer", "-flags", "low_delay", "-probesize", "32",
                       "-analyzeduration", "0"] if low_latency else [])
            cmd = [FFMPEG, "-hide_banner", "-loglevel", "error", "-threads", "1"] + tuning + [
                "-f", "h264", "-i", f"tcp://127.0.0.1:{sp}", "-vsync", "passthrough",
                "-f", "rawvideo", "-pix_fmt", "yuv420p", f"tcp://127.0.0.1:{op}?listen=1"]
        elif kind == "gstreamer-relay":
            cmd = [GST, "-q", "tcpclientsrc", "host=127.0.0.1", f"port={sp}", "!", "h264parse",
                   "!", "avdec_h264", "max-threads=1", "!", "tcpserversink", "host=127.0.0.1",
                   f"port={op}", "sync=false"]
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
        self.source.settimeout(30)
        self.conn, _ = self.source.accept()
        self.stderr = b""
        self.err_thread = threading.Thread(target=self._read_stderr, daemon=True)
        self.err_thread.start()
        if kind == "framepump":
            self.client = connect_retry(op)
            self.drain = Drain(self.client, 116, 16, self.frame_size, self.identify)
        elif kind == "gstreamer-relay":
            # The sink throws away what arrives before a client is there.
            self.client = connect_retry(op)
            time.sleep(0.2)
            self.drain = Drain(self.client, 0, 0, self.frame_size, self.identify)
        else:
            self.client = None  # ffmpeg opens its output only after probing

    def _read_stderr(self):
        self.stderr = self.proc.stderr.read()

    def attach_late_client(self):
        if self.client is None:
            self.client = connect_retry(self.out_port)
            self.drain = Drain(self.client, 0, 0, self.frame_size, self.identify)

    def finish(self):
        self.conn.close()
        usage = wait_rusage(self.proc)
        end = time.monotonic()
        self.drain.thread.join(30)
        self.err_thread.join(5)
        self.client.close()
        self.source.close()
        return usage, end

    def decoded(self):
        if self.kind == "framepump":
            m = re.search(rb"end: decoded (\d+), sent (\d+), dropped (\d+)", self.stderr)
            return int(m.group(1)), int(m.group(2))
        n = self.drain.pictures()
        return n, n


def throughput(kind, framepump, size, stream):
    relay = Relay(kind, framepump, size)
    sender = threading.Thread(target=relay.conn.sendall, args=(stream,), daemon=True)
    start = time.monotonic()
    sender.start()
    if relay.client is None:
        relay.attach_late_client()
    sender.join()
    # Closing the source ends the stream: each relay then stops by itself.
    usage, end = relay.finish()
    decoded, sent = relay.decoded()
    wall = end - start
    cpu = usage.ru_utime + usage.ru_stime
    return {"pps": decoded / wall, "cpu_ms": 1000 * cpu / decoded, "rss_mib": usage.ru_maxrss / 1024,
            "decoded": decoded, "sent": sent, "wall": wall}


def bare_decode(path):
    done = subprocess.Popen([FFMPEG, "-hide_banner", "-nostats", "-threads", "1", "-benchmark",
                             "-i", path, "-f", "null", "-"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = done.stderr.read().decode()
    usage = wait_rusage(done)
    rtime = float(re.search(r"rtime=([\d.]+)s", err).group(1))
    utime = float(re.search(r"utime=([\d.]+)s", err).group(1))
    stime = float(re.search(r"stime=([\d.]+)s", err).group(1))
    return {"pps": FRAMES / rtime, "cpu_ms": 1000 * (utime + stime) / FRAMES,
            "rss_mib": usage.ru_maxrss / 1024, "decoded": FRAMES, "sent": FRAMES, "wall": rtime}


def latency(kind, framepump, size, stream, digests, trailing_delimiter):
    """Paced at 30 fps. With trailing_delimiter the source writes the next
    picture's delimiter right behind each picture, so that a parser can see
    the end of a picture without waiting for the next one."""
    units = access_units(stream)
    relay = Relay(kind, framepump, size, low_latency=True)
    written = []
    period = 1 / 30

    def pace():
        t0 = time.monotonic()
        for i, unit in enumerate(units):
            if trailing_delimiter:
                unit = unit[len(AUD) + 1:] if i else unit
                if i + 1 < len(units):
                    unit = unit + units[i + 1][:len(AUD) + 1]
            delay = t0 + i * period - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            relay.conn.sendall(unit)
            written.append(time.monotonic())

    sender = threading.Thread(target=pace, daemon=True)
    sender.start()
    if relay.client is None:
        relay.attach_late_client()
    sender.join()
    time.sleep(0.5)
    relay.finish()
    decoded, sent = relay.decoded()
    index = {d: i for i, d in enumerate(digests)}
    delays = []
    unknown = 0
    for arrived, digest in relay.drain.arrivals:
        k = index.get(digest)
        if k is None:
            unknown += 1
        elif k >= 30:  # past any start-up buffering
            delays.append(1000 * (arrived - written[k]))
    delays.sort()
    return {"median_ms": statistics.median(delays), "p95_ms": delays[int(0.95 * len(delays))],
            "pictures": len(relay.drain.arrivals), "unknown": unknown, "decoded": decoded}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--framepump", default=os.path.join(
        os.path.dirname(__file__), "..", "..", "build", "native", "relay", "framepump"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--cache", default=os.path.expanduser("~/.cache/framepump-bench"))
    args = ap.parse_args()
    os.makedirs(args.cache, exist_ok=True)
    framepump = os.path.abspath(args.framepump)

    print(f"framepump: {framepump}")
    print(f"throughput: median of {args.runs} interleaved runs, source as fast as it can, "
          "client draining as fast as it can")
    print(f"{'stream':7} {'program':16} {'pictures/s':>10} {'% bare':>7} {'CPU ms/pic':>10} "
          f"{'peak RSS MiB':>12} {'decoded':>7} {'sent':>5}")
    kinds = ["bare-decode", "framepump", "ffmpeg-relay", "gstreamer-relay"]
    for name, size, bitrate in STREAMS:
        path, stream = make_stream(args.cache, name, size, bitrate)
        runs = {kind: [] for kind in kinds}
        # Rounds of one run each, so that load from elsewhere on the machine
        # falls on all programs alike.
        for _ in range(args.runs):
            for kind in kinds:
                if kind == "bare-decode":
                    runs[kind].append(bare_decode(path))
                else:
                    runs[kind].append(throughput(kind, framepump, size, stream))
        results = {}
        for kind in kinds:
            by_rate = sorted(runs[kind], key=lambda r: r["pps"])
            results[kind] = by_rate[len(by_rate) // 2]
        bare = results["bare-decode"]["pps"]
        for kind, r in results.items():
            print(f"{name:7} {kind:16} {r['pps']:10.1f} {100 * r['pps'] / bare:6.1f}% "
                  f"{r['cpu_ms']:10.2f} {r['rss_mib']:12.1f} {r['decoded']:7d} {r['sent']:5d}")

    print("framepump decodes every picture but packs one only while the client has none "
          "pending (at most one per 64 KiB read), so it sends fewer; the relays send all.")
    print("latency: 720p paced at 30 fps, last byte written to whole picture received; "
          "ffmpeg with -fflags nobuffer -flags low_delay -probesize 32 -analyzeduration 0; "
          "first 30 pictures skipped")
    path, stream = make_stream(args.cache, "720p", "1280x720", "4M")
    digests = picture_digests(path, 1280 * 720 * 3 // 2)
    for trailing in (False, True):
        label = ("next delimiter sent behind each picture" if trailing
                 else "pictures as they come")
        print(f"  {label}:")
        for kind in ["framepump", "ffmpeg-relay", "gstreamer-relay"]:
            r = latency(kind, framepump, "1280x720", stream, digests, trailing)
            print(f"    {kind:16} median {r['median_ms']:6.1f} ms  p95 {r['p95_ms']:6.1f} ms  "
                  f"({r['pictures']} pictures received, {r['unknown']} not in the stream)")


if __name__ == "__main__":
    main()
