"""Plays both partners of one framepump run for scripts/try.sh: serves an H.264
file on 127.0.0.1 at a camera's pace, reads the pictures framepump sends as a
client would, and keeps the first and the last one as PNG files.

usage: try_framepump.py FRAMEPUMP STREAM.h264 FOLDER"""

import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

FRAME_RATE = 25
AUD = b"\x00\x00\x00\x01\x09"
HTTP_HEADER = (b"HTTP/1.0 200 OK\r\n"
               b"Content-Type: application/octet-stream\r\n"
               b"Access-Control-Allow-Origin: *\r\n"
               b"Cache-Control: no-store\r\n"
               b"\r\n")
# No step here may wait longer than this for framepump.
PATIENCE_S = 20


def fail(message):
    sys.exit(f"try: {message}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def recv_exact(sock, n):
    """n bytes, or None if framepump closes the connection first."""
    data = bytearray()
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return bytes(data)


def feed(conn, units):
    """Sends one access unit per frame time, then ends the stream."""
    start = time.monotonic()
    try:
        for i, unit in enumerate(units):
            time.sleep(max(0.0, start + i / FRAME_RATE - time.monotonic()))
            conn.sendall(unit)
    except OSError:
        pass
    conn.close()


def write_png(record, path):
    width, height, _, planes = record
    subprocess.run(["/usr/bin/ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                    "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{width}x{height}",
                    "-i", "-", "-frames:v", "1", path],
                   input=planes, check=True, timeout=PATIENCE_S)


def main():
    framepump, stream_path, folder = sys.argv[1:]
    with open(stream_path, "rb") as f:
        # Each access unit starts with a delimiter.
        units = [AUD + unit for unit in f.read().split(AUD)[1:]]
    # Ports the system hands out, so that a stream source or relay already
    # running on the default ports is neither used nor disturbed.
    source = socket.create_server(("127.0.0.1", 0))
    input_port, output_port = source.getsockname()[1], free_port()
    print(f"$ framepump --input {input_port} --output {output_port}", flush=True)
    # A stop from try.sh ends this run through the cleanup below, which waits
    # for framepump to end.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    relay = None
    try:
        # framepump's lines go straight to the terminal as it writes them.
        relay = subprocess.Popen([framepump, "--input", str(input_port),
                                  "--output", str(output_port)], stdin=subprocess.DEVNULL)
        # framepump listens for its client before it connects to the source.
        source.settimeout(0.1)
        deadline = time.monotonic() + PATIENCE_S
        while True:
            try:
                conn, _ = source.accept()
                break
            except socket.timeout:
                if relay.poll() is not None:
                    fail(f"framepump ended with status {relay.returncode} before it read the stream")
                if time.monotonic() > deadline:
                    fail("framepump never connected to the stream source")
        client = socket.create_connection(("127.0.0.1", output_port), timeout=PATIENCE_S)
        # The client is in place before the first picture, so it gets them all.
        threading.Thread(target=feed, args=(conn, units), daemon=True).start()
        if recv_exact(client, len(HTTP_HEADER)) != HTTP_HEADER:
            fail("framepump's response header is not the expected one")
        first = last = None
        count = 0
        while True:
            head = recv_exact(client, 16)
            if head is None:
                break
            magic, width, height, sequence = struct.unpack("<4sIII", head)
            if magic != b"FPV1":
                fail(f"record {count + 1} does not start with FPV1")
            planes = recv_exact(client, width * height * 3 // 2)
            if planes is None:
                break
            count += 1
            last = (width, height, sequence, planes)
            first = first or last
        status = relay.wait(PATIENCE_S)
    except (socket.timeout, subprocess.TimeoutExpired):
        fail(f"framepump did nothing for {PATIENCE_S} s")
    finally:
        if relay and relay.poll() is None:
            relay.terminate()
            relay.wait()
    if status != 0:
        fail(f"framepump ended with status {status}")
    if not count:
        fail("no picture came")
    os.makedirs(folder, exist_ok=True)
    first_png = os.path.join(folder, "framepump-first.png")
    last_png = os.path.join(folder, "framepump-last.png")
    write_png(first, first_png)
    write_png(last, last_png)
    print(f"client: {count} records of {first[0]}x{first[1]} pictures, "
          f"sequence numbers {first[2]} to {last[2]}, from a stream of {len(units)}")
    print("client: (the picture still in framepump's parser when the stream ends is not decoded)")
    print(f"client: first picture {first_png}, last picture {last_png}")


if __name__ == "__main__":
    main()
