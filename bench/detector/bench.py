#!/usr/bin/python3
"""Speed and memory of cuewatch on about ten minutes of golden audio.

    /usr/bin/python3 bench/detector/bench.py --native build/native/detector/cuewatch \
        [--armhf build/armhf/detector/cuewatch] [--minutes 10]

cuewatch runs as deployed: mono input, default options, no score lines.
For each golden streaming model: real-time factor (seconds of audio per CPU
second, best of --repeats) natively, once with the audio fed through a pipe
as a live producer would and once with the file itself as standard input
(the program's own cost), and the peak RSS; the same under qemu-arm-static
for the armhf build (an indication only: emulation, not the target); and,
with valgrind's callgrind, instructions per 10 ms chunk and the count of heap
allocations, each as the difference between a long and a short run so that
start-up cancels out. The same allocation count for both lengths means the
heap doesn't grow while audio flows.
"""

import argparse
import fcntl
import os
import pathlib
import re
import struct
import subprocess
import tempfile
import termios
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "data" / "golden"
MODELS = ["stream_f1a", "stream_f3a", "stream_f10a"]
CHUNK_BYTES = 320  # mono
SAMPLE_RATE = 16000


def mono_golden_audio():
    manifest = (GOLDEN / "audio" / "manifest.tsv").read_text().splitlines()[1:]
    names = [line.split("\t")[0] for line in manifest if line.split("\t")[1] == "1"]
    return b"".join((GOLDEN / "audio" / name).read_bytes() for name in names)


def long_input(seconds, directory):
    """Concatenated golden mono audio, repeated to the length asked for."""
    piece = mono_golden_audio()
    wanted = seconds * SAMPLE_RATE * 2
    data = (piece * (wanted // len(piece) + 1))[:wanted]
    path = pathlib.Path(directory) / f"audio_{seconds}s.raw"
    path.write_bytes(data)
    return path


def peak_rss_kib(pid):
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    return 0


def run_measured(command, audio):
    """CPU seconds and peak RSS (KiB) of one run over the audio file.

    The audio goes through a pipe so that the peak RSS can be read once the
    whole input has been consumed and before the process ends."""
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    with open(audio, "rb") as source:
        while True:
            block = source.read(1 << 16)
            if not block:
                break
            process.stdin.write(block)
        process.stdin.flush()
    fd = process.stdin.fileno()
    while struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]:
        time.sleep(0.001)
    time.sleep(0.05)  # the last chunk read is still being processed
    rss = peak_rss_kib(process.pid)
    process.stdin.close()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError(f"{command} ended with {process.returncode}")
    return usage.ru_utime + usage.ru_stime, rss


def cpu_from_file(command, audio):
    """CPU seconds of one run with the audio file itself as standard input:
    the program's own cost, without a producer to wait for."""
    with open(audio, "rb") as stdin:
        process = subprocess.Popen(command, stdin=stdin, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command} ended with {status}")
    return usage.ru_utime + usage.ru_stime


def rtf_and_rss(command, audio, audio_seconds, repeats):
    """Real-time factor of the fastest of the runs, and the largest peak RSS."""
    runs = [run_measured(command, audio) for _ in range(repeats)]
    return audio_seconds / min(cpu for cpu, _ in runs), max(rss for _, rss in runs)


def callgrind(command, audio, directory):
    """Total instructions and heap allocations of one run under callgrind."""
    out_file = pathlib.Path(directory) / "callgrind.out"
    with open(audio, "rb") as stdin:
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}",
                        *command], stdin=stdin, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
    text = out_file.read_text()
    total = int(re.search(r"^(?:summary|totals): (\d+)", text, re.M).group(1))
    names = {}
    allocations = 0
    current_target = None
    for line in text.splitlines():
        match = re.match(r"cfn=\((\d+)\)(?: (.*))?", line)
        if match:
            if match.group(2):
                names[match.group(1)] = match.group(2)
            current_target = names.get(match.group(1), "")
            continue
        match = re.match(r"fn=\((\d+)\) (.*)", line)
        if match:
            names[match.group(1)] = match.group(2)
            continue
        match = re.match(r"calls=(\d+)", line)
        if match and current_target in ("malloc", "__libc_malloc", "calloc", "realloc"):
            allocations += int(match.group(1))
    out_file.unlink()
    return total, allocations


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--armhf")
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as directory:
        seconds = int(args.minutes * 60)
        audio = long_input(seconds, directory)
        qemu_seconds = min(seconds, 60)
        qemu_audio = long_input(qemu_seconds, directory)
        short_audio, long_audio = long_input(10, directory), long_input(40, directory)
        chunk_difference = (40 - 10) * 100

        print(f"input: {seconds} s of concatenated golden mono audio "
              f"({seconds * 100} chunks)")
        print("model        RTF (pipe)  RTF (file)  native RSS  armhf/qemu RTF  qemu RSS  "
              "instr/chunk  allocs 10 s/40 s")
        for name in MODELS:
            model = str(GOLDEN / "models" / f"{name}.tflite")
            command = [args.native, model, "--mono"]
            rtf, rss = rtf_and_rss(command, str(audio), seconds, args.repeats)
            file_rtf = seconds / min(cpu_from_file(command, str(audio))
                                     for _ in range(args.repeats))
            qemu = "-"
            qemu_rss = "-"
            if args.armhf:
                q_rtf, q_rss = rtf_and_rss(["qemu-arm-static", args.armhf, model, "--mono"],
                                           str(qemu_audio), qemu_seconds, 1)
                qemu, qemu_rss = f"{q_rtf:.0f}x", f"{q_rss} KiB"
            short_total, short_allocs = callgrind(command, short_audio, directory)
            long_total, long_allocs = callgrind(command, long_audio, directory)
            per_chunk = (long_total - short_total) / chunk_difference
            print(f"{name:<12} {rtf:>9.0f}x  {file_rtf:>9.0f}x  {rss:>6} KiB  {qemu:>14}  {qemu_rss:>8}  "
                  f"{per_chunk:>11.0f}  {short_allocs}/{long_allocs}")



if __name__ == "__main__":
    main()
