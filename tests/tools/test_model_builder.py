"""Reads the builder's files back slot by slot (field id n at vtable offset
4 + 2n) and through flatc with the runtime's schema."""

import json
import os
import pathlib
import subprocess
import struct
import sys

import numpy as np
import pytest
from flatbuffers.table import Table

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import model_builder as mb  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCHEMA = ROOT / "inference" / "schema.fbs"
FLATC = os.environ.get("FLATC", "/usr/bin/flatc")


def root(data):
    return Table(bytearray(data), struct.unpack_from("<I", data, 0)[0])


def present(t, fid):
    return t.Offset(4 + 2 * fid) != 0


def scalar(t, fid, fmt):
    o = t.Offset(4 + 2 * fid)
    assert o, "field %d absent" % fid
    return struct.unpack_from(fmt, t.Bytes, t.Pos + o)[0]


def table(t, fid):
    return Table(t.Bytes, t.Indirect(t.Pos + t.Offset(4 + 2 * fid)))


def tables(t, fid):
    o = t.Offset(4 + 2 * fid)
    start, n = t.Vector(o), t.VectorLen(o)
    return [Table(t.Bytes, t.Indirect(start + 4 * i)) for i in range(n)]


def vector(t, fid, fmt):
    o = t.Offset(4 + 2 * fid)
    start, n = t.Vector(o), t.VectorLen(o)
    size = struct.calcsize(fmt)
    return [struct.unpack_from("<" + fmt, t.Bytes, start + size * i)[0]
            for i in range(n)], start


def test_envelope_and_operator_codes():
    m = mb.Model(version=3)
    m.opcode(mb.CALL_ONCE)
    m.opcode(mb.CONV_2D)
    m.operator_codes.append(mb.OperatorCode(mb.LOGISTIC, write_builtin=False))
    m.subgraph()
    data = m.build()
    assert data[4:8] == b"TFL3"
    r = root(data)
    assert scalar(r, 0, "<I") == 3
    codes = tables(r, 1)
    # Codes above 127: placeholder 127 in the int8 field, real code beside.
    assert scalar(codes[0], 0, "<b") == 127
    assert scalar(codes[0], 3, "<i") == mb.CALL_ONCE
    assert scalar(codes[1], 0, "<b") == mb.CONV_2D
    assert scalar(codes[1], 3, "<i") == mb.CONV_2D
    # An old file: only the deprecated field.
    assert scalar(codes[2], 0, "<b") == mb.LOGISTIC
    assert not present(codes[2], 3)

    m.metadata.append(("OfflineMemoryAllocation", m.buffer(b"\x01\x02")))
    m.buffer(mb.ExternalData(offset=4096, size=120))
    r = root(m.build())
    meta = tables(r, 6)[0]
    name_off = meta.Offset(4)
    assert meta.String(meta.Pos + name_off) == b"OfflineMemoryAllocation"
    buffers = tables(r, 4)
    assert vector(buffers[scalar(meta, 1, "<I")], 0, "B")[0] == [1, 2]
    assert not present(buffers[2], 0)
    assert scalar(buffers[2], 1, "<Q") == 4096
    assert scalar(buffers[2], 2, "<Q") == 120

    m.file_identifier = b"TFL2"
    assert m.build()[4:8] == b"TFL2"


def test_tensors_buffers_and_options():
    m = mb.Model()
    sg = m.subgraph()
    x = sg.tensor([1, 3, 40], mb.INT8, scale=0.5, zero_point=-128)
    w = sg.tensor([2, 1, 1, 3], mb.INT8, data=np.arange(6, dtype=np.int8),
                  scale=[0.25, 0.125], zero_point=[0, 0], quantized_dimension=3)
    v = sg.tensor(None, mb.RESOURCE, is_variable=True)
    y = sg.tensor([1, 3, 40], mb.INT8)
    sg.op(mb.DEPTHWISE_CONV_2D, [x, w, -1], [y],
          mb.depthwise_conv2d_options(padding=mb.VALID, stride_w=2,
                                      depth_multiplier=2,
                                      activation=mb.RELU6, dilation_h=3))
    sg.op(mb.VAR_HANDLE, [], [v], mb.var_handle_options("state", container=""))
    sg.inputs, sg.outputs = [x], [y]
    r = root(m.build())

    t = tables(tables(r, 2)[0], 0)
    assert vector(t[0], 0, "i")[0] == [1, 3, 40]
    assert scalar(t[0], 1, "<b") == mb.INT8
    q = table(t[0], 4)
    assert vector(q, 2, "f")[0] == [0.5]
    assert vector(q, 3, "q")[0] == [-128]
    qw = table(t[1], 4)
    assert vector(qw, 2, "f")[0] == [0.25, 0.125]
    assert scalar(qw, 6, "<i") == 3
    assert not present(t[2], 0), "rank 0: no shape vector"
    assert scalar(t[2], 5, "<B") == 1
    assert not present(t[3], 4), "no quantization table"

    buffers = tables(r, 4)
    assert not present(buffers[0], 0), "buffer 0 stays empty"
    data, start = vector(buffers[scalar(t[1], 2, "<I")], 0, "B")
    assert data == list(range(6))
    assert start % 16 == 0

    ops = tables(tables(r, 2)[0], 3)
    assert vector(ops[0], 1, "i")[0] == [0, 1, -1]
    # Union: type byte at id 3, table at id 4.
    assert scalar(ops[0], 3, "<B") == 2
    opts = table(ops[0], 4)
    assert scalar(opts, 0, "<b") == mb.VALID
    assert scalar(opts, 1, "<i") == 2
    assert scalar(opts, 2, "<i") == 1, "schema default is 0: 1 is written"
    assert scalar(opts, 3, "<i") == 2
    assert scalar(opts, 4, "<b") == mb.RELU6
    assert not present(opts, 5), "schema default dilation left out"
    assert scalar(opts, 6, "<i") == 3
    vh = table(ops[1], 4)
    assert scalar(ops[1], 3, "<B") == 111
    assert present(vh, 0), "an empty container is a real string"
    assert present(vh, 1)


# flatc cannot print an option table the schema lacks (ADD's) or a NaN.
@pytest.mark.parametrize("recipe", sorted(set(mb.RECIPES) -
                                          {"add_op", "scale_nan"}))
def test_recipes_decode_with_the_runtime_schema(recipe, tmp_path):
    path = tmp_path / (recipe + ".tflite")
    mb.RECIPES[recipe]().write(str(path))
    subprocess.run([FLATC, "--json", "--raw-binary", "--strict-json", "-o",
                    str(tmp_path), str(SCHEMA), "--", str(path)], check=True)
    model = json.loads((tmp_path / (recipe + ".json")).read_text())
    assert model["version"] == 3


def test_selector_weights_pick_the_element():
    m = mb.selector_model(frames=3, row=-1, col=7)
    sg = m.subgraphs[0]
    fc = mb.find_op(m, mb.FULLY_CONNECTED)
    weights = np.frombuffer(m.buffers[sg.tensors[fc.inputs[1]].buffer],
                            np.int8)
    assert np.flatnonzero(weights).tolist() == [2 * 40 + 7]
