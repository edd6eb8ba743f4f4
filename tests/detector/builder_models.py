"""Test models built with the shared model builder."""

import sys

import numpy as np

from conftest import ROOT

sys.path.insert(0, str(ROOT / "tests" / "tools"))
import model_builder as mb  # noqa: E402


def raw_selector_model(frames=3, row=0, col=0, input_scale=0.1, input_zero_point=-128,
                       input_shape=None, output_shape=(1, 1), outputs=1, version=3):
    """Score = the raw int8 input byte at [row, col] + 128, whatever the input's
    own scale: a RESHAPE that changes no byte hands the input to a one-hot
    FULLY_CONNECTED whose scales give an effective multiplier of exactly 1."""
    m = mb.Model(version=version)
    sg = m.subgraph()
    shape = [1, frames, 40] if input_shape is None else list(input_shape)
    depth = int(np.prod(shape))
    x = sg.tensor(shape, mb.INT8, scale=input_scale, zero_point=input_zero_point)
    flat = sg.tensor([1, depth], mb.INT8, scale=0.1, zero_point=-128)
    sg.op(mb.RESHAPE, [x, mb.const_int32(sg, [1, depth])], [flat],
          mb.reshape_options([1, depth]))
    weights = np.zeros((1, depth), np.int8)
    weights[0, row * shape[-1] + col] = 1
    w = sg.tensor([1, depth], mb.INT8, data=weights, scale=1.0, zero_point=0)
    y = sg.tensor([1, 1], mb.INT8, scale=0.1, zero_point=-128)
    sg.op(mb.FULLY_CONNECTED, [flat, w, -1], [y], mb.fully_connected_options())
    if list(output_shape) != [1, 1]:
        shaped = sg.tensor(list(output_shape), mb.INT8, scale=0.1, zero_point=-128)
        sg.op(mb.RESHAPE, [y, mb.const_int32(sg, list(output_shape))], [shaped],
              mb.reshape_options(list(output_shape)))
        y = shaped
    results = []
    for _ in range(outputs):
        out = sg.tensor(list(output_shape), mb.UINT8, scale=0.1, zero_point=0)
        sg.op(mb.QUANTIZE, [y], [out], mb.quantize_options())
        results.append(out)
    sg.inputs, sg.outputs = [x], results
    return m


def write(model, path):
    model.write(str(path))
    return path
