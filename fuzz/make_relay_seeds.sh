#!/bin/bash
# Writes the seeds of the relay_decode fuzzer: small H.264 streams of the
# kinds the relay meets (accepted, refused, beyond the pixel cap, joined
# mid-way), each behind a first byte that picks the chunk size and client.
# usage: fuzz/make_relay_seeds.sh [out-dir]
set -euo pipefail
out="${1:-$(dirname "$0")/seeds/relay_decode}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

# name size frames pix_fmt source mode-byte
while read -r name size frames fmt src mode; do
  /usr/bin/ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$src=size=$size:rate=30" \
    -frames:v "$frames" -c:v libx264 -preset veryfast -bf 0 -g 4 -pix_fmt "$fmt" \
    -x264-params aud=1 "$tmp/$name.h264"
  { printf "\\x$mode"; cat "$tmp/$name.h264"; } > "$out/$name"
done <<'LIST'
p64 64x48 6 yuv420p testsrc 10
p64_small_reads 64x48 3 yuv420p testsrc 27
p64_keep_up 64x48 6 yuv420p testsrc 2c
pj64 64x48 3 yuvj420p testsrc 30
p2 2x2 4 yuv420p color 0c
p422 64x48 2 yuv422p testsrc 10
p444 48x32 2 yuv444p testsrc 10
p10bit 64x48 2 yuv420p10le testsrc 10
p2560 2560x16 2 yuv420p color 10
p1088 1920x1088 1 yuv420p color 10
p_near_limit 64x48 3 yuv420p testsrc d0
LIST

# Joined mid-way: the stream from its second picture on, before any
# parameter sets.
/usr/bin/ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=30 \
  -frames:v 8 -c:v libx264 -preset veryfast -bf 0 -g 8 -pix_fmt yuv420p \
  -x264-params aud=1 "$tmp/mid.h264"
/usr/bin/python3 - "$tmp/mid.h264" "$out/p64_midway" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
aud = b"\x00\x00\x00\x01\x09"
second = data.index(aud, data.index(aud) + 1)
open(sys.argv[2], "wb").write(b"\x10" + data[data.index(aud, second + 1):])
PY
ls -l "$out"
