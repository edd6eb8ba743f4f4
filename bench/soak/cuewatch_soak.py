#!/usr/bin/python3
"""Soak of cuewatch: an hour of four-channel audio (golden clips in a loop),
fed faster than real time, with every score printed. RSS and open
descriptors are sampled every few seconds; both must stay flat, and the run
must end with its end line after exactly one model run per F chunks.

usage: cuewatch_soak.py CUEWATCH [--minutes-of-audio 60] [--speed 30] [--out DIR]
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "data" / "golden"
MODEL = GOLDEN / "models" / "stream_f3a.tflite"
ROWS = 3
CHUNK = 1280  # 160 frames of four channels


def proc_figures(pid):
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


def quad(mono):
    """A mono clip as four channels: the clip, its negation, half and zero."""
    out = bytearray()
    for i in range(0, len(mono) - 1, 2):
        s = int.from_bytes(mono[i:i + 2], "little", signed=True)
        for v in (s, -s if s > -32768 else 32767, s // 2, 0):
            out += v.to_bytes(2, "little", signed=True)
    return bytes(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cuewatch")
    parser.add_argument("--minutes-of-audio", type=float, default=60)
    parser.add_argument("--speed", type=float, default=30, help="times real time")
    parser.add_argument("--period", type=float, default=2)
    parser.add_argument("--out", default=tempfile.gettempdir())
    args = parser.parse_args()

    clip = (GOLDEN / "audio" / "mix4_speech_tone_noise_sweep.raw").read_bytes()
    clip += quad((GOLDEN / "audio" / "speech_hello_noisy.raw").read_bytes())
    clip += quad((GOLDEN / "audio" / "noise_10db_s3.raw").read_bytes())
    clip = clip[:len(clip) // CHUNK * CHUNK]
    total_chunks = int(args.minutes_of_audio * 60 * 100)

    proc = subprocess.Popen([args.cuewatch, str(MODEL), "--scores", "--cutoff", "0.5"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    counts = {"score": 0, "wake": 0, "end": [], "ready": 0}

    def read_output():
        for line in proc.stdout:
            kind = line.split(b" ")[0].decode()
            if kind == "end":
                counts["end"].append(line.decode().strip())
            elif kind in counts:
                counts[kind] += 1

    def feed():
        # Paced in slices of one second of audio at the asked speed.
        per_second = 100 * CHUNK
        start = time.monotonic()
        sent = 0
        at = 0
        while sent < total_chunks * CHUNK:
            n = min(per_second, total_chunks * CHUNK - sent)
            piece = bytearray()
            while len(piece) < n:
                take = min(n - len(piece), len(clip) - at)
                piece += clip[at:at + take]
                at = (at + take) % len(clip)
            proc.stdin.write(piece)
            sent += n
            due = start + sent / per_second / args.speed
            time.sleep(max(0.0, due - time.monotonic()))
        proc.stdin.close()

    reader = threading.Thread(target=read_output, daemon=True)
    feeder = threading.Thread(target=feed, daemon=True)
    reader.start()
    feeder.start()
    samples = []
    start = time.monotonic()
    samples_path = os.path.join(args.out, "cuewatch_soak.tsv")
    with open(samples_path, "w") as log:
        log.write("seconds\trss_kib\tfds\tscores\n")
        while proc.poll() is None:
            time.sleep(args.period)
            try:
                rss, fds = proc_figures(proc.pid)
            except (FileNotFoundError, ProcessLookupError, StopIteration):
                break
            t = time.monotonic() - start
            samples.append((t, rss, fds))
            log.write(f"{t:.0f}\t{rss}\t{fds}\t{counts['score']}\n")
            log.flush()
    status = proc.wait()
    reader.join(10)
    stderr = proc.stderr.read()

    settled = samples[1:] or samples
    rss_values = [s[1] for s in settled]
    fd_values = [s[2] for s in settled]
    expected_scores = (total_chunks - 2) // ROWS
    print(f"audio {total_chunks / 100:.0f} s fed in {time.monotonic() - start:.0f} s; "
          f"{len(samples)} samples in {samples_path}")
    print(f"rss KiB: min {min(rss_values)} max {max(rss_values)} first {rss_values[0]} "
          f"last {rss_values[-1]}")
    print(f"open descriptors: min {min(fd_values)} max {max(fd_values)}")
    print(f"score lines {counts['score']} (expected {expected_scores}), wakes {counts['wake']}, "
          f"end {counts['end']}, status {status}, stderr {stderr!r}")
    ok = (max(rss_values) - min(rss_values) <= 512 and max(fd_values) == min(fd_values)
          and status == 0 and stderr == b"" and counts["score"] == expected_scores
          and counts["end"] == [f"end {total_chunks / 100:.2f}"])
    print("flat" if ok else "NOT FLAT or bad end")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
