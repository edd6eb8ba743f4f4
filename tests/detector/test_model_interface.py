"""The model's input and output, with models made for each case."""

import numpy as np
import pytest

from builder_models import mb, raw_selector_model, write
from conftest import AUDIO, GOLDEN, error_line, run, score_runs, silence

FIT = "the model doesn't fit in memory"
ONE_EACH = "the model doesn't have one input and one output"
KIND = "the model's input or output isn't the expected kind"
INPUT = "the model's input isn't the expected kind"
NAN = float("nan")


def without_inputs():
    m = raw_selector_model()
    m.subgraphs[0].inputs = None
    return m


REFUSED = [
    ("input [1,3,40,1]", lambda: raw_selector_model(input_shape=[1, 3, 40, 1]), KIND),
    ("input [1,3,32]", lambda: raw_selector_model(input_shape=[1, 3, 32]), KIND),
    ("input [1,120]", lambda: raw_selector_model(input_shape=[1, 120]), KIND),
    ("output [1]", lambda: raw_selector_model(output_shape=[1]), KIND),
    ("output [1,1,1]", lambda: raw_selector_model(output_shape=[1, 1, 1]), KIND),
    ("two outputs", lambda: raw_selector_model(outputs=2), ONE_EACH),
    ("two inputs", lambda: mb.streaming_model(num_inputs=2), ONE_EACH),
    ("input [1,0,40]", lambda: mb.streaming_model(input_shape=[1, 0, 40], ring_rows=3), INPUT),
    ("input [1,11,40]", lambda: mb.streaming_model(frames=11), INPUT),
    ("input [1,49,40]", lambda: raw_selector_model(frames=49), INPUT),
    ("input scale 0", lambda: raw_selector_model(input_scale=0.0), INPUT),
    ("input scale -0.1", lambda: raw_selector_model(input_scale=-0.1), INPUT),
    ("streaming, scale 0", lambda: mb.streaming_model(input_scale=0.0), INPUT),
    ("unregistered ADD", lambda: mb.streaming_model(extra_op="ADD"), FIT),
    ("21 resource variables", lambda: mb.streaming_model(extra_variables=20), FIT),
]


@pytest.mark.parametrize("name,build,message", REFUSED, ids=[c[0] for c in REFUSED])
def test_refused_interfaces(name, build, message, tmp_path):
    path = write(build(), tmp_path / "model.tflite")
    result = run(path, audio=silence(20))
    assert result.status == 1
    assert result.stdout == ""
    assert result.stderr.endswith(error_line(message))


@pytest.mark.parametrize("name,build", [
    ("no subgraphs", mb.RECIPES["no_subgraphs"]),
    ("absent subgraphs", mb.RECIPES["absent_subgraphs"]),
    ("absent tensors", mb.RECIPES["absent_tensors"]),
    ("absent input list", without_inputs),
    ("input index out of range", mb.RECIPES["input_index_out_of_range"]),
])
def test_malformed_graphs_are_refused_cleanly(name, build, tmp_path):
    path = write(build(), tmp_path / "model.tflite")
    result = run(path, audio=silence(20))
    assert result.status == 1 and result.stdout == ""
    assert result.stderr.splitlines()[-1].startswith("cuewatch: "), result.stderr
    assert result.stderr.endswith("\n")


@pytest.mark.parametrize("build,rows", [
    (lambda: mb.streaming_model(frames=1), 1),
    (lambda: mb.streaming_model(frames=10), 10),
    (lambda: raw_selector_model(frames=1), 1),
    (lambda: raw_selector_model(frames=10), 10),
])
def test_accepted_row_counts(build, rows, tmp_path):
    path = write(build(), tmp_path / "model.tflite")
    result = run(path, "--scores", audio=silence(rows * 3 + 2))
    assert result.status == 0, result.stderr
    assert [c for c, _ in score_runs(result)] == [rows + 2, 2 * rows + 2, 3 * rows + 2]


def golden_features(audio_name):
    rows = (GOLDEN / "features" / f"{audio_name}.txt").read_text().splitlines()
    return np.array([[int(v) for v in row.split()] for row in rows], dtype=np.uint16)


def quantized(values, scale, zero_point):
    """The quantisation rule, done independently in numpy float32."""
    with np.errstate(divide="ignore", invalid="ignore"):
        x = values.astype(np.float32) * np.float32(0.0390625) / np.float32(scale)
    r = np.rint(x)
    r[np.isnan(r)] = 0
    return np.clip(r.astype(np.float64) + zero_point, -128, 127).astype(np.int64)


@pytest.mark.parametrize("frames,row,col,scale,zero_point", [
    (3, 2, 7, 0.125, -128),   # halves of .5 go to even
    (1, 0, 0, 0.101960786, -128),
    (3, 0, 39, 1.0, 0),
    (10, 9, 20, 0.05, 30),    # saturates at 127 often
    (3, 1, 5, 1e-30, -100),   # every non-zero value saturates
])
def test_features_reach_the_model_as_quantised(frames, row, col, scale, zero_point, tmp_path):
    path = write(raw_selector_model(frames, row, col, scale, zero_point), tmp_path / "m.tflite")
    result = run(path, "--mono", "--scores", audio=(AUDIO / "speech_hello.raw").read_bytes())
    runs = score_runs(result)
    table = quantized(golden_features("speech_hello"), scale, zero_point)
    # Feature row k (from 0) comes with chunk k + 3; run j (from 1) on chunk j F + 2.
    expected = [(j * frames + 2, int(table[(j - 1) * frames + row, col]) + 128)
                for j in range(1, len(table) // frames + 1)]
    assert runs == expected
    assert len({score for _, score in runs}) > 1


@pytest.mark.parametrize("zero_point,score", [(-128, 0), (-28, 100), (127, 255)])
def test_nan_input_scale_passes_and_gives_the_zero_point(zero_point, score, tmp_path):
    path = write(raw_selector_model(3, 1, 3, NAN, zero_point), tmp_path / "m.tflite")
    result = run(path, "--mono", "--scores", audio=(AUDIO / "speech_hello.raw").read_bytes())
    assert result.status == 0, result.stderr
    runs = score_runs(result)
    assert len(runs) == 100 and {s for _, s in runs} == {score}
