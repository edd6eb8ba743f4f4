"""Writes the front end's set-up tables for configurations that have no
embedded tables, computed here from the set-up rules rather than by the code
under test.

    /usr/bin/python3 setup_tables.py <out-file>

Every float operation is rounded to single precision on its own, and cosf,
log1pf and powf come from the C library, as in the set-up the reference
features were made with. For each case the file has the lines
    case <name>
    config <window_ms> <channels> <lower_hz> <upper_hz> <sample_rate> <pcan_offset>
    window | band_starts | weights | unweights | gain <integers...>
with band_starts, weights and unweights laid out as FilterbankState holds
them. The other settings are the detector's.
"""

import ctypes
import ctypes.util
import sys

import numpy as np

f32 = np.float32

libm = ctypes.CDLL(ctypes.util.find_library("m"))
for name, arity in (("cosf", 1), ("log1pf", 1), ("powf", 2)):
    getattr(libm, name).restype = ctypes.c_float
    getattr(libm, name).argtypes = [ctypes.c_float] * arity

SMOOTHING_BITS = 10
GAIN_BITS = 21
STRENGTH = f32(0.95)
PCAN_TABLE_SIZE = 125

CASES = [
    # name, window ms, channels, lower Hz, upper Hz, sample rate, PCAN offset
    ("library defaults", 25, 32, 125.0, 7500.0, 16000, 70.0),
    ("8 kHz", 30, 40, 125.0, 3800.0, 8000, 70.0),
    ("48 kHz", 30, 40, 60.0, 20000.0, 48000, 70.0),
]


def cosf(x):
    return f32(libm.cosf(float(x)))


def log1pf(x):
    return f32(libm.log1pf(float(x)))


def powf(x, y):
    return f32(libm.powf(float(x), float(y)))


def round_q12(value):
    return int(np.floor(value * f32(4096) + f32(0.5)))


def window(size):
    """Hann window at half-sample offsets, Q12."""
    arg = f32(np.pi) * f32(2) / f32(size)
    return [round_q12(f32(0.5) - f32(0.5) * cosf(arg * (f32(i) + f32(0.5))))
            for i in range(size)]


def mel(hz):
    return f32(1127) * log1pf(hz / f32(700))


def filterbank(sample_rate, spectrum_size, channels, lower, upper):
    """Band starts (first bin, then each band's end) and the triangle
    weights and unweights of every bin from the first on."""
    mel_low = mel(lower)
    spacing = (mel(upper) - mel_low) / f32(channels + 1)
    centers = [mel_low + spacing * f32(i + 1) for i in range(channels + 1)]
    hz_per_bin = f32(0.5) * f32(sample_rate) / (f32(spectrum_size) - f32(1))
    bin_ = int(f32(1.5) + lower / hz_per_bin)
    starts, weights, unweights = [bin_], [], []
    for band, center in enumerate(centers):
        previous = mel_low if band == 0 else centers[band - 1]
        while mel(f32(bin_) * hz_per_bin) <= center:
            weight = (center - mel(f32(bin_) * hz_per_bin)) / (center - previous)
            weights.append(round_q12(weight))
            unweights.append(round_q12(f32(1) - weight))
            bin_ += 1
        starts.append(bin_)
    assert bin_ < spectrum_size, "bands reach past the spectrum"
    return starts, weights, unweights


def gain_table(input_bits, offset):
    """PCAN gains at 0 and 1, then y0, a1, a2 of each interval's quadratic;
    the slots between intervals stay 0."""
    def gain(x):
        scaled = f32(x) / f32(2 ** input_bits)
        value = f32(2 ** GAIN_BITS) * powf(scaled + offset, -STRENGTH)
        return 32767 if value > 32767 else int(value + f32(0.5))

    table = [0] * PCAN_TABLE_SIZE
    table[0], table[1] = gain(0), gain(1)
    for interval in range(2, 33):
        x0 = 2 ** (interval - 1)
        x2 = 2 ** 32 - 1 if interval == 32 else 2 ** interval
        y0, y1, y2 = gain(x0), gain(x0 + x0 // 2), gain(x2)
        a1 = 4 * (y1 - y0) - (y2 - y0)
        a2 = (y2 - y0) - a1
        table[4 * interval - 6:4 * interval - 3] = [y0, a1, a2]
    return table


def tables(window_ms, channels, lower, upper, sample_rate, offset):
    size = window_ms * sample_rate // 1000
    fft_size = 1
    while fft_size < size:
        fft_size *= 2
    correction_bits = fft_size.bit_length() - 1 - 6
    starts, weights, unweights = filterbank(sample_rate, fft_size // 2 + 1, channels,
                                            f32(lower), f32(upper))
    return [("window", window(size)), ("band_starts", starts), ("weights", weights),
            ("unweights", unweights),
            ("gain", gain_table(SMOOTHING_BITS - correction_bits, f32(offset)))]


def main():
    lines = []
    for name, *config in CASES:
        lines.append(f"case {name}")
        lines.append("config " + " ".join(str(value) for value in config))
        for key, values in tables(*config):
            lines.append(key + " " + " ".join(str(v) for v in values))
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
