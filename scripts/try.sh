#!/bin/bash
# Runs both native programs on sample input and shows what they do:
# framepump relays a few seconds of H.264 test pattern to a client, which
# keeps the first and the last picture as PNG files; cuewatch listens to a
# bundled speech recording with a bundled test model, then refuses a model.
# Everything it writes goes to build/try/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
FRAMEPUMP=build/native/relay/framepump
CUEWATCH=build/native/detector/cuewatch
GOLDEN=tests/data/golden
OUT=build/try

for tool in "$FRAMEPUMP" "$CUEWATCH" /usr/bin/ffmpeg /usr/bin/python3; do
  if [[ ! -x "$tool" ]]; then
    printf 'try: %s is missing: run scripts/setup.sh first\n' "$tool" >&2
    exit 1
  fi
done

# The relay part runs in a session of its own, out of reach of a Ctrl-C
# meant for this script. An interrupted run stops the whole session and waits
# for its leader, which waits for framepump, so nothing outlives the script.
relay_session=
stop_relay_session() {
  if [[ -n "$relay_session" ]]; then
    kill -TERM -- "-$relay_session" 2>/dev/null
    wait "$relay_session" || true
  fi
}
trap stop_relay_session EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$OUT"
printf '== framepump\n'
printf 'Making 3 s of H.264 test pattern (480x270, 25 pictures a second) in %s/pattern.h264\n' "$OUT"
/usr/bin/ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=480x270:rate=25 \
  -frames:v 75 -c:v libx264 -preset veryfast -bf 0 -pix_fmt yuv420p -x264-params aud=1 \
  -f h264 "$OUT/pattern.h264"
printf 'Serving it on 127.0.0.1 at 25 pictures a second, on ports the system picks;\n'
printf 'a client reads the pictures:\n'
setsid /usr/bin/python3 scripts/try_framepump.py "$FRAMEPUMP" "$OUT/pattern.h264" "$OUT" &
relay_session=$!
status=0
wait "$relay_session" || status=$?
relay_session=
((status == 0)) || exit "$status"

printf '\n== cuewatch\n'
printf 'The bundled models are test models with made-up weights: a wake line shows\n'
printf 'the mechanics, not that a wake word was recognised.\n'
# One of the combinations that gives a wake at the default cutoff; the
# recording has one channel, hence --mono.
model=stream_f3a
audio=speech_hello
lines="$OUT/cuewatch-$model-$audio.txt"
printf '$ cuewatch %s/models/%s.tflite --mono --scores < %s/audio/%s.raw\n' \
  "$GOLDEN" "$model" "$GOLDEN" "$audio"
"$CUEWATCH" "$GOLDEN/models/$model.tflite" --mono --scores < "$GOLDEN/audio/$audio.raw" > "$lines"
# The ready line, the first scores, the scores leading up to each wake, the end.
head -n 4 "$lines"
printf '...\n'
grep -B 3 -A 1 '^wake' "$lines"
printf '...\n'
tail -n 1 "$lines"
printf '(%d lines in all, in %s; a wake needs the mean of the last 5 scores above 0.95)\n' \
  "$(wc -l < "$lines")" "$lines"

refused=err_two_inputs
printf '\nA model with two inputs is refused:\n'
printf '$ cuewatch %s/models/%s.tflite --mono < %s/audio/%s.raw\n' \
  "$GOLDEN" "$refused" "$GOLDEN" "$audio"
if "$CUEWATCH" "$GOLDEN/models/$refused.tflite" --mono < "$GOLDEN/audio/$audio.raw"; then
  printf 'try: cuewatch accepted %s\n' "$refused" >&2
  exit 1
else
  printf '(exit status %d)\n' "$?"
fi
