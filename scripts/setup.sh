#!/bin/bash
# Installs what is missing, builds the third-party libraries into a cache
# outside the tree, then configures and builds every preset.
# Safe to run again: finished steps are skipped.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DEPS="$HOME/.cache/framepump-cuewatch-deps"
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

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    log "installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# apt-get source needs deb-src entries; derive them from the machine's own
# Debian sources so no host is named here.
ensure_deb_src() {
  if grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ || grep -qs '^deb-src' /etc/apt/sources.list; then
    return
  fi
  log "adding deb-src entries"
  sed 's/^Types: deb$/Types: deb-src/; /^#/d' /etc/apt/sources.list.d/debian.sources \
    > /etc/apt/sources.list.d/debian-src.sources
  apt-get update -q
}

# fetch_source PACKAGE: unpacks Debian's source package (patches applied)
# under $DEPS/src and prints the source directory.
fetch_source() {
  local pkg="$1" dir
  mkdir -p "$DEPS/src"
  dir="$(find "$DEPS/src" -maxdepth 1 -type d -name "$pkg-[0-9]*" | sort | tail -n1)"
  if [[ -z "$dir" || ! -f "$dir/.unpacked" ]]; then
    ensure_deb_src
    log "fetching the $pkg source package"
    (cd "$DEPS/src" && apt-get source -q "$pkg" >&2)
    dir="$(find "$DEPS/src" -maxdepth 1 -type d -name "$pkg-[0-9]*" | sort | tail -n1)"
    touch "$dir/.unpacked"
  fi
  echo "$dir"
}

# Only the H.264 decoder and parser: no programs, network, devices,
# filters, hardware acceleration or autodetected libraries.
build_ffmpeg() {
  local target="$1" src="$2" prefix="$DEPS/$1" extra=()
  [[ -f "$prefix/.ffmpeg-done" ]] && return
  case "$target" in
    x86_64) ;;
    aarch64) extra=(--enable-cross-compile --arch=aarch64 --target-os=linux --cross-prefix=aarch64-linux-gnu-) ;;
  esac
  log "building FFmpeg for $target"
  rm -rf "$DEPS/build/ffmpeg-$target" && mkdir -p "$DEPS/build/ffmpeg-$target"
  (cd "$DEPS/build/ffmpeg-$target" &&
    "$src/configure" --prefix="$prefix" --disable-all --enable-avcodec --enable-avutil \
      --enable-decoder=h264 --enable-parser=h264 --disable-autodetect --disable-network \
      --disable-debug --disable-doc --disable-programs "${extra[@]}" > configure.log 2>&1 &&
    make -j"$JOBS" > build.log 2>&1 && make install > install.log 2>&1)
  touch "$prefix/.ffmpeg-done"
}

# 16-bit fixed point, with the real FFT.
build_kissfft() {
  local target="$1" src="$2" prefix="$DEPS/$1" extra=()
  [[ -f "$prefix/.kissfft-done" ]] && return
  case "$target" in
    x86_64) ;;
    armhf) extra=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-armhf.cmake") ;;
  esac
  log "building KissFFT for $target"
  rm -rf "$DEPS/build/kissfft-$target"
  cmake -S "$src" -B "$DEPS/build/kissfft-$target" -G Ninja "${extra[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DKISSFFT_DATATYPE=int16_t -DKISSFFT_STATIC=ON -DKISSFFT_TEST=OFF \
    -DKISSFFT_TOOLS=OFF -DKISSFFT_PKGCONFIG=OFF -DKISSFFT_OPENMP=OFF > /dev/null
  cmake --build "$DEPS/build/kissfft-$target" > /dev/null
  cmake --install "$DEPS/build/kissfft-$target" > /dev/null
  touch "$prefix/.kissfft-done"
}

build_presets() {
  for preset in native native-asan aarch64 armhf fuzz; do
    log "building preset $preset"
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset"
  done
}

cd "$ROOT"
install_packages
ffmpeg_src="$(fetch_source ffmpeg)"
kissfft_src="$(fetch_source kissfft)"
build_ffmpeg x86_64 "$ffmpeg_src"
build_ffmpeg aarch64 "$ffmpeg_src"
build_kissfft x86_64 "$kissfft_src"
build_kissfft armhf "$kissfft_src"
build_presets
log "done"
