#!/bin/bash
# Installs what is missing, builds the third-party libraries into a cache
# outside the tree, then configures and builds every preset.
# Safe to run again: finished steps are skipped.
#
# Every step sends its output to a log. A step that fails says which step it
# was and shows the end of its log. No function here prints on standard
# output and no value is read back from a command's output, so nothing a
# tool prints (apt's progress, say) can end up in a path.
set -euo pipefail
shopt -s nullglob

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS="$HOME/.cache/framepump-cuewatch-deps"
LOGS="$DEPS/logs"
APT_ETC=/etc/apt
JOBS="$(nproc)"

PACKAGES=(
  # toolchains
  g++ cmake ninja-build pkg-config nasm make dpkg-dev
  g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user-static
  # libraries (header-only use; they serve the cross builds too)
  libflatbuffers-dev flatbuffers-compiler libgemmlowp-dev googletest
  # test tools
  python3-pytest python3-numpy python3-flatbuffers ffmpeg x264 chromium
  valgrind clang-14 libfuzzer-14-dev libclang-rt-14-dev
  gstreamer1.0-tools gstreamer1.0-libav gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
)

log() { printf '== %s\n' "$*" >&2; }
fail() { printf 'setup: %s\n' "$*" >&2; exit 1; }

# step NAME LOGFILE COMMAND...: runs COMMAND with all its output in LOGFILE.
step() {
  local name="$1" logfile="$2"
  shift 2
  mkdir -p "$(dirname "$logfile")"
  if ! "$@" > "$logfile" 2>&1; then
    printf 'setup: %s failed; the end of %s:\n' "$name" "$logfile" >&2
    tail -n 40 "$logfile" | sed 's/^/    /' >&2
    exit 1
  fi
}

install_packages() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  log "installing ${missing[*]}"
  step "apt-get update" "$LOGS/apt-update.log" apt-get update
  step "installing packages" "$LOGS/apt-install.log" \
    env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# apt-get source needs deb-src entries. They are derived from the machine's
# own Debian entries, in either apt format, so that no mirror is named here.
ensure_deb_src() {
  local deb822="$APT_ETC/sources.list.d/debian.sources" oneline="$APT_ETC/sources.list"
  if grep -qsE '^[[:space:]]*Types:.*\<deb-src\>' "$APT_ETC"/sources.list.d/*.sources ||
    grep -qsE '^[[:space:]]*deb-src[[:space:]]' "$oneline" "$APT_ETC"/sources.list.d/*.list; then
    return 0
  fi
  if grep -qsE '^Types:.*\<deb\>' "$deb822"; then
    log "adding deb-src entries derived from $deb822"
    sed -E '/^[[:space:]]*#/d; s/^Types:.*/Types: deb-src/' "$deb822" \
      > "$APT_ETC/sources.list.d/debian-src.sources"
  elif grep -qsE '^[[:space:]]*deb[[:space:]]' "$oneline"; then
    log "adding deb-src entries derived from $oneline"
    sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$oneline" \
      > "$APT_ETC/sources.list.d/debian-src.list"
  else
    fail "no Debian entries in $deb822 or $oneline to derive deb-src entries from"
  fi
  step "apt-get update (deb-src entries)" "$LOGS/apt-update-src.log" apt-get update
}

# fetch_source PACKAGE VARIABLE: unpacks Debian's source package (patches
# applied) under $DEPS/src and stores the source folder's path in VARIABLE.
# The package is unpacked in a scratch folder and moved into place only when
# complete, so an interrupted fetch never leaves a folder that looks done.
fetch_source() {
  local pkg="$1" result="$2" scratch="$DEPS/src/.fetch-$1" target
  local complete=("$DEPS/src/$pkg"-[0-9]*/.unpacked)
  if ((${#complete[@]})); then
    printf -v "$result" '%s' "${complete[-1]%/.unpacked}"
    return 0
  fi
  ensure_deb_src
  log "fetching the $pkg source package"
  rm -rf "$scratch" "$DEPS/src/$pkg"-[0-9]*
  mkdir -p "$scratch"
  step "apt-get source $pkg" "$LOGS/source-$pkg.log" env -C "$scratch" apt-get source "$pkg"
  local unpacked=("$scratch/$pkg"-[0-9]*/)
  ((${#unpacked[@]} == 1)) ||
    fail "apt-get source $pkg left ${#unpacked[@]} source folders instead of one; see $LOGS/source-$pkg.log"
  target="$DEPS/src/$(basename "${unpacked[0]}")"
  mv "${unpacked[0]}" "$target"
  rm -rf "$scratch"
  touch "$target/.unpacked"
  printf -v "$result" '%s' "$target"
}

# Only the H.264 decoder and parser: no programs, network, devices,
# filters, hardware acceleration or autodetected libraries.
build_ffmpeg() {
  local target="$1" src="$2" prefix="$DEPS/$1" build="$DEPS/build/ffmpeg-$1" extra=()
  [[ -f "$prefix/.ffmpeg-done" ]] && return 0
  [[ -x "$src/configure" ]] || fail "no FFmpeg configure script in '$src'"
  case "$target" in
    x86_64) ;;
    aarch64) extra=(--enable-cross-compile --arch=aarch64 --target-os=linux --cross-prefix=aarch64-linux-gnu-) ;;
  esac
  log "building FFmpeg for $target"
  rm -rf "$build" && mkdir -p "$build"
  step "configuring FFmpeg for $target" "$build/configure.log" \
    env -C "$build" "$src/configure" --prefix="$prefix" --disable-all --enable-avcodec --enable-avutil \
    --enable-decoder=h264 --enable-parser=h264 --disable-autodetect --disable-network \
    --disable-debug --disable-doc --disable-programs "${extra[@]}"
  step "building FFmpeg for $target" "$build/build.log" make -C "$build" -j"$JOBS"
  step "installing FFmpeg for $target" "$build/install.log" make -C "$build" install
  touch "$prefix/.ffmpeg-done"
}

# 16-bit fixed point, with the real FFT.
build_kissfft() {
  local target="$1" src="$2" prefix="$DEPS/$1" build="$DEPS/build/kissfft-$1" extra=()
  [[ -f "$prefix/.kissfft-done" ]] && return 0
  [[ -f "$src/CMakeLists.txt" ]] || fail "no KissFFT CMakeLists.txt in '$src'"
  case "$target" in
    x86_64) ;;
    armhf) extra=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-armhf.cmake") ;;
  esac
  log "building KissFFT for $target"
  rm -rf "$build" && mkdir -p "$build"
  step "configuring KissFFT for $target" "$build/configure.log" \
    cmake -S "$src" -B "$build" -G Ninja "${extra[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DKISSFFT_DATATYPE=int16_t -DKISSFFT_STATIC=ON -DKISSFFT_TEST=OFF \
    -DKISSFFT_TOOLS=OFF -DKISSFFT_PKGCONFIG=OFF -DKISSFFT_OPENMP=OFF
  step "building KissFFT for $target" "$build/build.log" cmake --build "$build"
  step "installing KissFFT for $target" "$build/install.log" cmake --install "$build"
  touch "$prefix/.kissfft-done"
}

build_presets() {
  local preset
  for preset in native native-asan aarch64 armhf fuzz; do
    log "building preset $preset"
    step "configuring preset $preset" "$ROOT/build/logs/$preset-configure.log" \
      cmake --preset "$preset"
    step "building preset $preset" "$ROOT/build/logs/$preset-build.log" \
      cmake --build --preset "$preset"
  done
}

main() {
  local ffmpeg_src kissfft_src
  cd "$ROOT"
  install_packages
  fetch_source ffmpeg ffmpeg_src
  fetch_source kissfft kissfft_src
  build_ffmpeg x86_64 "$ffmpeg_src"
  build_ffmpeg aarch64 "$ffmpeg_src"
  build_kissfft x86_64 "$kissfft_src"
  build_kissfft armhf "$kissfft_src"
  build_presets
  log "done"
}

# Sourced by the tests, which call single steps; run as a command, it does
# everything.
if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  main
fi
