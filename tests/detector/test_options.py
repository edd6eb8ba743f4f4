"""Command line: accepted values, each refusal and the order of the tests."""

import pytest

from conftest import error_line, model, run, silence

USAGE = "usage: cuewatch model.tflite [--mono] [--scores] [--cutoff 0.95] [--window 5]"
CUTOFF = "--cutoff needs a number"
WINDOW = "--window needs a whole number"
RANGE = "cutoff must be in (0, 1] and window in 1 to 50"
MODEL = "MODEL"  # stands for a model that loads

REFUSED = [
    # usage
    ([], USAGE),
    (["--mono"], USAGE),
    (["--cutoff", "5"], USAGE),  # no path: usage comes before the range test
    ([MODEL, MODEL], USAGE),
    ([MODEL, MODEL, "--cutoff", "abc"], USAGE),
    ([MODEL, "--cutoff"], USAGE),
    ([MODEL, "--window"], USAGE),
    ([MODEL, "--scores", "--window"], USAGE),
    ([MODEL, "-h"], USAGE),
    ([MODEL, "--help"], USAGE),
    ([MODEL, "--mono=1"], USAGE),
    ([MODEL, "--cutoff=0.9"], USAGE),
    ([MODEL, "-"], USAGE),
    ([MODEL, "--"], USAGE),
    (["--Mono", MODEL], USAGE),
    # cutoff values
    ([MODEL, "--cutoff", "abc"], CUTOFF),
    ([MODEL, "--cutoff", ""], CUTOFF),
    ([MODEL, "--cutoff", "0.5 "], CUTOFF),
    ([MODEL, "--cutoff", "0.5x"], CUTOFF),
    ([MODEL, "--cutoff", "inf"], CUTOFF),
    ([MODEL, "--cutoff", "-inf"], CUTOFF),
    ([MODEL, "--cutoff", "nan"], CUTOFF),
    ([MODEL, "--cutoff", "1e39"], CUTOFF),
    ([MODEL, "--cutoff", "--mono"], CUTOFF),  # the next argument is always the value
    ([MODEL, "--cutoff", "abc", MODEL], CUTOFF),  # the first bad argument decides
    (["--cutoff", "abc", "--bogus"], CUTOFF),
    # window values
    ([MODEL, "--window", "3.5"], WINDOW),
    ([MODEL, "--window", "0x10"], WINDOW),
    ([MODEL, "--window", ""], WINDOW),
    ([MODEL, "--window", "5 "], WINDOW),
    ([MODEL, "--window", "99999999999"], WINDOW),
    ([MODEL, "--window", "2147483648"], WINDOW),  # one past the 32-bit range
    ([MODEL, "--window", "-2147483649"], WINDOW),
    ([MODEL, "--window", "five"], WINDOW),
    # range
    ([MODEL, "--cutoff", "0"], RANGE),
    ([MODEL, "--cutoff", "-0"], RANGE),
    ([MODEL, "--cutoff", "-0.5"], RANGE),
    ([MODEL, "--cutoff", "2"], RANGE),
    ([MODEL, "--cutoff", "1.0000001"], RANGE),  # nearest float lies above 1
    ([MODEL, "--window", "0"], RANGE),
    ([MODEL, "--window", "51"], RANGE),
    ([MODEL, "--window", "-3"], RANGE),
    ([MODEL, "--window", "2147483647"], RANGE),
    (["missing.tflite", "--window", "51"], RANGE),  # range before the file
    # the file
    ([""], "can't open the model"),
    (["missing.tflite"], "can't open the model"),
]


@pytest.mark.parametrize("args,message", REFUSED, ids=lambda v: repr(v))
def test_refused_command_lines(args, message, tmp_path):
    args = [str(model("stream_f3a")) if a == MODEL else a for a in args]
    result = run(*args, cwd=tmp_path)
    assert (result.status, result.stdout, result.stderr) == (1, "", error_line(message))


ACCEPTED = [
    [MODEL],
    ["--mono", "--scores", MODEL],
    [MODEL, "--scores", "--scores", "--mono", "--mono"],
    [MODEL, "--cutoff", " 0.5"],
    [MODEL, "--cutoff", "1"],
    [MODEL, "--cutoff", "1e-3"],
    [MODEL, "--cutoff", "1.00000001"],  # nearest float is 1
    [MODEL, "--window", "1"],
    [MODEL, "--window", "50"],
    [MODEL, "--cutoff", "2", "--cutoff", "0.5"],  # the last one counts
    [MODEL, "--window", "51", "--window", "5"],
]


@pytest.mark.parametrize("args", ACCEPTED, ids=lambda v: repr(v))
def test_accepted_command_lines(args):
    path = model("stream_f3a")
    args = [str(path) if a == MODEL else a for a in args]
    result = run(*args)
    assert result.status == 0, result.stderr
    assert result.stderr == ""
    assert result.lines[0].startswith(f"ready {path.stat().st_size} ")
    assert result.lines[1:] == ["end 0.00"]


# On silence stream_f10a scores 233 (0.91015625) on chunks 12, 22, 32, ...,
# so the first wake shows which cutoff and window were taken.
@pytest.mark.parametrize("options,first_wake", [
    (["--cutoff", "0.95"], None),
    (["--cutoff", "0.9"], "wake 0.52 0.910"),
    (["--cutoff", "0x1.d2p-1"], None),  # exactly 233/256: equal is no wake
    (["--cutoff", "0x1.d1p-1"], "wake 0.52 0.910"),
    (["--cutoff", "0x1p-1"], "wake 0.52 0.910"),
    (["--cutoff", "0.5", "--cutoff", "0.95"], None),
    (["--cutoff", "0.95", "--cutoff", "0.5"], "wake 0.52 0.910"),
    (["--cutoff", "0.9", "--window", "010"], "wake 1.02 0.910"),  # base 10
    (["--cutoff", "0.9", "--window", "+7"], "wake 0.72 0.910"),
    (["--cutoff", "0.9", "--window", " 3"], "wake 0.32 0.910"),
    (["--cutoff", "0.9", "--window", "9", "--window", "2"], "wake 0.22 0.910"),
])
def test_values_taken(options, first_wake):
    result = run(model("stream_f10a"), *options, audio=silence(110))
    assert result.status == 0
    wakes = result.lines_of("wake")
    assert (wakes[0] if wakes else None) == first_wake
