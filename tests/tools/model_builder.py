"""Builds TFLite flatbuffer model files for tests.

A Model holds buffers, operator codes, subgraphs and metadata as plain Python
values; build() serialises them with flatbuffers.Builder field by field, so a
test can also write what a converter never would (indices out of range,
short buffers, absent vectors, wrong identifiers).

    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 3, 40], INT8, scale=0.1, zero_point=-128)
    ...
    sg.op(FULLY_CONNECTED, [x, w, b], [y], fully_connected_options())
    sg.inputs, sg.outputs = [x], [y]
    m.write("model.tflite")

Recipes at the end build complete models; the command line writes them:
    /usr/bin/python3 tests/tools/model_builder.py <recipe> out.tflite
"""

import sys

import flatbuffers
import numpy as np

# TensorType (schema values).
FLOAT32, FLOAT16, INT32, UINT8, INT64, STRING, BOOL, INT16 = range(8)
COMPLEX64, INT8, FLOAT64, COMPLEX128, UINT64, RESOURCE, VARIANT = range(8, 15)
UINT32, UINT16, INT4 = 15, 16, 17

# BuiltinOperator codes.
ADD = 0
CONCATENATION = 2
CONV_2D = 3
DEPTHWISE_CONV_2D = 4
FULLY_CONNECTED = 9
LOGISTIC = 14
RESHAPE = 22
CUSTOM = 32
STRIDED_SLICE = 45
SPLIT_V = 102
QUANTIZE = 114
PLACEHOLDER_FOR_GREATER_OP_CODES = 127
CALL_ONCE = 129
VAR_HANDLE = 142
READ_VARIABLE = 143
ASSIGN_VARIABLE = 144

# Padding and ActivationFunctionType.
SAME, VALID = 0, 1
NONE, RELU, RELU_N1_TO_1, RELU6, TANH, SIGN_BIT = range(6)

_NUMPY_TYPES = {
    FLOAT32: np.float32, INT32: np.int32, UINT8: np.uint8, INT64: np.int64,
    INT16: np.int16, INT8: np.int8, BOOL: np.bool_, FLOAT64: np.float64,
}


def as_bytes(data, tensor_type=None):
    """Little-endian bytes of data (bytes, numpy array or list of numbers)."""
    if data is None or isinstance(data, (bytes, bytearray)):
        return data
    if not isinstance(data, np.ndarray):
        data = np.asarray(data, dtype=_NUMPY_TYPES[tensor_type])
    return data.astype(data.dtype.newbyteorder("<"), copy=False).tobytes()


# ---------------------------------------------------------------------------
# Option tables: a union type number and (field id, kind, value) entries.
# Fields equal to the schema default are left out, as a converter does; pass
# a field explicitly through Options(...) to force it in.


class Options:
    def __init__(self, union_type, fields=()):
        self.union_type = union_type
        self.fields = list(fields)  # (id, kind, value); kind in _SCALAR_KINDS,
        #                              "str" or "ivec"


def _fields(layout, values):
    """layout: [(id, kind, default)], values aligned; skip schema defaults."""
    return [(fid, kind, v) for (fid, kind, d), v in zip(layout, values)
            if v is not None and v != d]


def conv2d_options(padding=SAME, stride_w=1, stride_h=1, activation=NONE,
                   dilation_w=1, dilation_h=1, quantized_bias_type=None):
    layout = [(0, "i8", SAME), (1, "i32", 0), (2, "i32", 0), (3, "i8", NONE),
            (4, "i32", 1), (5, "i32", 1), (6, "i8", FLOAT32)]
    return Options(1, _fields(layout, [padding, stride_w, stride_h, activation,
                                     dilation_w, dilation_h,
                                     quantized_bias_type]))


def depthwise_conv2d_options(padding=SAME, stride_w=1, stride_h=1,
                             depth_multiplier=1, activation=NONE,
                             dilation_w=1, dilation_h=1):
    layout = [(0, "i8", SAME), (1, "i32", 0), (2, "i32", 0), (3, "i32", 0),
            (4, "i8", NONE), (5, "i32", 1), (6, "i32", 1)]
    return Options(2, _fields(layout, [padding, stride_w, stride_h,
                                     depth_multiplier, activation, dilation_w,
                                     dilation_h]))


def fully_connected_options(activation=NONE, weights_format=0,
                            keep_num_dims=False, asymmetric_quantize_inputs=False,
                            quantized_bias_type=None):
    layout = [(0, "i8", NONE), (1, "i8", 0), (2, "bool", False),
            (3, "bool", False), (4, "i8", FLOAT32)]
    return Options(8, _fields(layout, [activation, weights_format, keep_num_dims,
                                     asymmetric_quantize_inputs,
                                     quantized_bias_type]))


def concatenation_options(axis=0, activation=NONE):
    return Options(10, _fields([(0, "i32", 0), (1, "i8", NONE)],
                               [axis, activation]))


def add_options(activation=NONE):
    return Options(11, _fields([(0, "i8", NONE)], [activation]))


def reshape_options(new_shape=None):
    return Options(17, [] if new_shape is None else
                   [(0, "ivec", list(new_shape))])


def strided_slice_options(begin_mask=0, end_mask=0, ellipsis_mask=0,
                          new_axis_mask=0, shrink_axis_mask=0, offset=False):
    layout = [(0, "i32", 0), (1, "i32", 0), (2, "i32", 0), (3, "i32", 0),
            (4, "i32", 0), (5, "bool", False)]
    return Options(32, _fields(layout, [begin_mask, end_mask, ellipsis_mask,
                                      new_axis_mask, shrink_axis_mask, offset]))


def split_v_options(num_splits=0):
    return Options(79, _fields([(0, "i32", 0)], [num_splits]))


def quantize_options():
    return Options(89)


def call_once_options(init_subgraph_index=0):
    return Options(103, _fields([(0, "i32", 0)], [init_subgraph_index]))


def var_handle_options(shared_name=None, container=None):
    """None leaves a string absent (distinct from the empty string)."""
    fields = []
    if container is not None:
        fields.append((0, "str", container))
    if shared_name is not None:
        fields.append((1, "str", shared_name))
    return Options(111, fields)


def read_variable_options():
    return Options(112)


def assign_variable_options():
    return Options(113)


# ---------------------------------------------------------------------------
# Model description.


class OperatorCode:
    """builtin_code/deprecated_builtin_code as a converter writes them unless
    given: deprecated = min(code, 127)."""

    def __init__(self, code, deprecated=None, custom_code=None, version=1,
                 write_builtin=True):
        self.builtin_code = code if write_builtin else None
        self.deprecated = min(code, PLACEHOLDER_FOR_GREATER_OP_CODES) \
            if deprecated is None else deprecated
        self.custom_code = custom_code
        self.version = version


class ExternalData:
    """A Buffer whose data lies outside the FlatBuffer (offset/size fields),
    as converters write models over 2 GB."""

    def __init__(self, offset, size):
        self.offset = offset
        self.size = size


class Tensor:
    def __init__(self, shape, tensor_type, buffer, scale, zero_point,
                 quantized_dimension, is_variable, name):
        self.shape = shape
        self.type = tensor_type
        self.buffer = buffer
        self.scale = scale
        self.zero_point = zero_point
        self.quantized_dimension = quantized_dimension
        self.is_variable = is_variable
        self.name = name


class Operator:
    def __init__(self, opcode_index, inputs, outputs, options, custom_options,
                 intermediates):
        self.opcode_index = opcode_index
        self.inputs = inputs
        self.outputs = outputs
        self.options = options
        self.custom_options = custom_options
        self.intermediates = intermediates


class Subgraph:
    def __init__(self, model):
        self.model = model
        self.tensors = []       # None: the vector is absent
        self.inputs = []
        self.outputs = []
        self.operators = []     # None: the vector is absent
        self.name = None

    def tensor(self, shape, tensor_type, data=None, scale=None,
               zero_point=None, quantized_dimension=0, is_variable=False,
               buffer=None, name=None):
        """Adds a tensor and returns its index.

        shape None leaves the shape absent (rank 0). data (bytes, array or
        list) becomes a new buffer unless buffer gives an index. scale and
        zero_point are a number or a list; with scale None the tensor has no
        quantization table. zero_point defaults to 0 per scale.
        """
        if buffer is None:
            buffer = 0 if data is None else self.model.buffer(
                as_bytes(data, tensor_type))
        if scale is not None:
            scale = [float(v) for v in
                     np.atleast_1d(np.asarray(scale, dtype=np.float32))]
            if zero_point is None:
                zero_point = [0] * len(scale)
        if zero_point is not None:
            zero_point = [int(z) for z in np.atleast_1d(zero_point)]
        self.tensors.append(Tensor(shape, tensor_type, buffer, scale,
                                   zero_point, quantized_dimension,
                                   is_variable, name))
        return len(self.tensors) - 1

    def op(self, code, inputs, outputs, options=None, custom_options=None,
           intermediates=None, opcode_index=None):
        """Adds an operator; its code gets an OperatorCode entry if needed.

        options is an Options (None: no builtin options at all).
        """
        if opcode_index is None:
            opcode_index = self.model.opcode(code)
        self.operators.append(Operator(opcode_index, list(inputs),
                                       list(outputs), options, custom_options,
                                       intermediates))
        return len(self.operators) - 1


class Model:
    def __init__(self, version=3):
        self.version = version
        self.operator_codes = []
        self.subgraphs = []     # None: the vector is absent
        self.buffers = [b""]    # buffer 0 is empty by convention
        self.metadata = []      # (name, buffer index)
        self.description = None
        self.file_identifier = b"TFL3"

    def subgraph(self):
        sg = Subgraph(self)
        self.subgraphs.append(sg)
        return sg

    def buffer(self, data):
        """Adds a buffer (bytes, ExternalData; None: a Buffer table without
        data)."""
        self.buffers.append(data)
        return len(self.buffers) - 1

    def opcode(self, code, **kwargs):
        """Index of the OperatorCode for a builtin code, added if missing."""
        for i, oc in enumerate(self.operator_codes):
            if (oc.builtin_code == code and oc.custom_code is None
                    and not kwargs):
                return i
        self.operator_codes.append(OperatorCode(code, **kwargs))
        return len(self.operator_codes) - 1

    def build(self):
        return _Writer(self).finish()

    def write(self, path):
        data = self.build()
        with open(path, "wb") as f:
            f.write(data)
        return data


# ---------------------------------------------------------------------------
# Serialisation.

_SCALAR_KINDS = {
    "i8": "PrependInt8Slot", "u8": "PrependUint8Slot",
    "bool": "PrependBoolSlot", "i32": "PrependInt32Slot",
    "u32": "PrependUint32Slot", "u64": "PrependUint64Slot",
}


class _Writer:
    def __init__(self, model):
        self.m = model
        self.b = flatbuffers.Builder(1024)
        # Whatever the description sets is written, defaults included.
        self.b.ForceDefaults(True)

    def _vector(self, values, fmt, size):
        if values is None:
            return None
        b = self.b
        b.StartVector(size, len(values), size)
        prepend = {"i": b.PrependInt32, "q": b.PrependInt64,
                   "f": b.PrependFloat32, "B": b.PrependUint8,
                   "?": b.PrependBool}[fmt]
        for v in reversed(values):
            prepend(v)
        return b.EndVector()

    def _bytes(self, data, alignment=1):
        if data is None:
            return None
        b = self.b
        b.StartVector(1, len(data), alignment)
        b.head = b.head - len(data)
        b.Bytes[b.head:b.head + len(data)] = data
        return b.EndVector()

    def _string(self, s):
        return None if s is None else self.b.CreateString(s)

    def _tables(self, offsets):
        if offsets is None:
            return None
        b = self.b
        b.StartVector(4, len(offsets), 4)
        for o in reversed(offsets):
            b.PrependUOffsetTRelative(o)
        return b.EndVector()

    def _table(self, num_fields, entries):
        """entries: (id, kind, value) with kind a scalar kind or "off"."""
        b = self.b
        b.StartObject(num_fields)
        for fid, kind, value in entries:
            if value is None:
                continue
            if kind == "off":
                b.PrependUOffsetTRelativeSlot(fid, value, 0)
            else:
                getattr(b, _SCALAR_KINDS[kind])(fid, value, 0)
        return b.EndObject()

    def _options(self, opts):
        entries = []
        for fid, kind, value in opts.fields:
            if kind == "str":
                entries.append((fid, "off", self._string(value)))
            elif kind == "ivec":
                entries.append((fid, "off", self._vector(value, "i", 4)))
            else:
                entries.append((fid, kind, value))
        num = max([fid for fid, _, _ in opts.fields], default=-1) + 1
        return self._table(num, entries)

    def _tensor(self, t):
        shape = self._vector(t.shape, "i", 4)
        name = self._string(t.name)
        quant = None
        if t.scale is not None or t.zero_point is not None:
            scale = self._vector(t.scale, "f", 4)
            zp = self._vector(t.zero_point, "q", 8)
            quant = self._table(7, [(2, "off", scale), (3, "off", zp),
                                    (6, "i32", t.quantized_dimension or None)])
        return self._table(6, [
            (0, "off", shape), (1, "i8", t.type), (2, "u32", t.buffer),
            (3, "off", name), (4, "off", quant),
            (5, "bool", True if t.is_variable else None)])

    def _operator(self, op):
        inputs = self._vector(op.inputs, "i", 4)
        outputs = self._vector(op.outputs, "i", 4)
        opts = self._options(op.options) if op.options is not None else None
        custom = self._bytes(as_bytes(op.custom_options, UINT8))
        inter = self._vector(op.intermediates, "i", 4)
        return self._table(9, [
            (0, "u32", op.opcode_index), (1, "off", inputs),
            (2, "off", outputs),
            (3, "u8", op.options.union_type if op.options else None),
            (4, "off", opts), (5, "off", custom), (8, "off", inter)])

    def _subgraph(self, sg):
        tensors = None if sg.tensors is None else \
            self._tables([self._tensor(t) for t in sg.tensors])
        inputs = self._vector(sg.inputs, "i", 4)
        outputs = self._vector(sg.outputs, "i", 4)
        ops = None if sg.operators is None else \
            self._tables([self._operator(o) for o in sg.operators])
        name = self._string(sg.name)
        return self._table(5, [(0, "off", tensors), (1, "off", inputs),
                               (2, "off", outputs), (3, "off", ops),
                               (4, "off", name)])

    def _operator_code(self, oc):
        custom = self._string(oc.custom_code)
        return self._table(4, [(0, "i8", oc.deprecated), (1, "off", custom),
                               (2, "i32", oc.version),
                               (3, "i32", oc.builtin_code)])

    def _buffer(self, data):
        if isinstance(data, ExternalData):
            return self._table(3, [(1, "u64", data.offset),
                                   (2, "u64", data.size)])
        # Empty data is written as an absent vector, like the converter.
        vec = self._bytes(data, 16) if data else None
        return self._table(3, [(0, "off", vec)])

    def finish(self):
        m = self.m
        codes = self._tables([self._operator_code(c) for c in m.operator_codes])
        subgraphs = None if m.subgraphs is None else \
            self._tables([self._subgraph(s) for s in m.subgraphs])
        description = self._string(m.description)
        buffers = self._tables([self._buffer(d) for d in m.buffers])
        metadata = None
        if m.metadata:
            metadata = self._tables([
                self._table(2, [(0, "off", self._string(name)),
                                (1, "u32", buf)])
                for name, buf in m.metadata])
        root = self._table(7, [(0, "u32", m.version), (1, "off", codes),
                               (2, "off", subgraphs), (3, "off", description),
                               (4, "off", buffers), (6, "off", metadata)])
        self.b.Finish(root, file_identifier=m.file_identifier)
        return bytes(self.b.Output())


# ---------------------------------------------------------------------------
# Graph helpers.


def const_int32(sg, values, shape=None):
    values = [int(v) for v in values]
    return sg.tensor([len(values)] if shape is None else shape, INT32,
                     data=np.asarray(values, np.int32))


def add_ring(sg, state_rows, new, new_shape, scale, zero_point, init_sg,
             name, init_value=None):
    """Appends the streaming ring: keeps the last state_rows rows (axis 1) of
    [state, new] in resource variable `name`, initialised from a constant in
    init_sg. Returns the concatenation [1, state_rows + rows, ...]."""
    rows = new_shape[1]
    state_shape = [new_shape[0], state_rows] + list(new_shape[2:])
    cat_shape = [new_shape[0], state_rows + rows] + list(new_shape[2:])
    q = dict(scale=scale, zero_point=zero_point)
    handle = sg.tensor(None, RESOURCE)
    state = sg.tensor(state_shape, INT8, **q)
    cat = sg.tensor(cat_shape, INT8, **q)
    rank = len(new_shape)
    begin = const_int32(sg, [0, rows] + [0] * (rank - 2))
    end = const_int32(sg, cat_shape)
    strides = const_int32(sg, [1] * rank)
    kept = sg.tensor(state_shape, INT8, **q)
    sg.op(VAR_HANDLE, [], [handle], var_handle_options(name))
    sg.op(READ_VARIABLE, [handle], [state], read_variable_options())
    sg.op(CONCATENATION, [state, new], [cat], concatenation_options(axis=1))
    sg.op(STRIDED_SLICE, [cat, begin, end, strides], [kept],
          strided_slice_options())
    sg.op(ASSIGN_VARIABLE, [handle, kept], [], assign_variable_options())

    count = int(np.prod(state_shape))
    fill = zero_point if init_value is None else init_value
    init_handle = init_sg.tensor(None, RESOURCE)
    init_const = init_sg.tensor(state_shape, INT8,
                                data=np.full(count, fill, np.int8), **q)
    init_sg.op(VAR_HANDLE, [], [init_handle], var_handle_options(name))
    init_sg.op(ASSIGN_VARIABLE, [init_handle, init_const], [],
               assign_variable_options())
    return cat


def quantize_to_uint8(sg, x, shape, scale=1 / 256):
    """QUANTIZE to uint8 with the same scale and zero point 0."""
    out = sg.tensor(shape, UINT8, scale=scale, zero_point=0)
    sg.op(QUANTIZE, [x], [out], quantize_options())
    return out


# ---------------------------------------------------------------------------
# Recipes.


def selector_model(frames=3, row=-1, col=0, input_scale=0.1,
                   input_zero_point=-128, input_shape=None):
    """Score = the raw input byte at [row, col] + 128, whatever the input's
    scale and zero point (0, negative, NaN ...).

    RESHAPE ignores quantisation, so the flat copy can carry scale 0.1 and
    zero point -128; FULLY_CONNECTED with a one-hot weight of scale 1 into
    scale 0.1 has an effective multiplier of exactly 1, and the final
    QUANTIZE (same scale, zero point 0) adds 128.
    """
    m = Model()
    sg = m.subgraph()
    shape = [1, frames, 40] if input_shape is None else list(input_shape)
    depth = int(np.prod(shape))
    x = sg.tensor(shape, INT8, scale=input_scale, zero_point=input_zero_point)
    flat = sg.tensor([1, depth], INT8, scale=0.1, zero_point=-128)
    sg.op(RESHAPE, [x, const_int32(sg, [1, depth])], [flat],
          reshape_options([1, depth]))
    weights = np.zeros((1, depth), np.int8)
    weights[0, (row % shape[-2]) * shape[-1] + col] = 1
    w = sg.tensor([1, depth], INT8, data=weights, scale=1.0, zero_point=0)
    y = sg.tensor([1, 1], INT8, scale=0.1, zero_point=-128)
    sg.op(FULLY_CONNECTED, [flat, w, -1], [y], fully_connected_options())
    out = sg.tensor([1, 1], UINT8, scale=0.1, zero_point=0)
    sg.op(QUANTIZE, [y], [out], quantize_options())
    sg.inputs, sg.outputs = [x], [out]
    return m


def fc_logistic_model(weights, bias=None, frames=None, input_scale=0.1,
                      input_zero_point=-128, filter_scale=0.01,
                      fc_scale=0.1, fc_zero_point=0, logistic=True):
    """int8 input [1,F,40] -> FULLY_CONNECTED(1 unit, the given int8 weights
    over the flat input, optional int32 bias) -> LOGISTIC (unless
    logistic=False) -> QUANTIZE to uint8 [1,1] with scale 1/256."""
    weights = np.asarray(weights, np.int8).reshape(1, -1)
    depth = weights.shape[1]
    frames = depth // 40 if frames is None else frames
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, frames, 40], INT8, scale=input_scale,
                  zero_point=input_zero_point)
    w = sg.tensor([1, depth], INT8, data=weights, scale=filter_scale)
    b = -1
    if bias is not None:
        b = sg.tensor([1], INT32, data=np.asarray([bias], np.int32),
                      scale=np.float32(input_scale) * np.float32(filter_scale))
    y = sg.tensor([1, 1], INT8, scale=fc_scale, zero_point=fc_zero_point)
    sg.op(FULLY_CONNECTED, [x, w, b], [y], fully_connected_options())
    if logistic:
        p = sg.tensor([1, 1], INT8, scale=1 / 256, zero_point=-128)
        sg.op(LOGISTIC, [y], [p])
        out = quantize_to_uint8(sg, p, [1, 1])
    else:
        out = sg.tensor([1, 1], UINT8, scale=fc_scale, zero_point=0)
        sg.op(QUANTIZE, [y], [out], quantize_options())
    sg.inputs, sg.outputs = [x], [out]
    return m


def streaming_model(frames=3, input_shape=None, input_type=INT8,
                    input_scale=0.101960786, input_zero_point=-128,
                    num_inputs=1, output_units=1, uint8_output=True,
                    extra_variables=0, extra_op=None, ring_rows=2,
                    conv_channels=8, seed=1):
    """The usual keyword-spotting shape: int8 input [1,F,40], ring of R = 2
    rows, RESHAPE [1,F+R,1,40], CONV_2D 3x1 VALID RELU, DEPTHWISE_CONV_2D 3x1
    SAME RELU, RESHAPE [1,(F+R-2)*C], FULLY_CONNECTED (per-tensor), LOGISTIC,
    QUANTIZE to uint8 [1,units]. Variants:

    input_shape     replaces [1,F,40] for input 0 (the graph uses its dims)
    input_type      FLOAT32 puts a QUANTIZE to int8 in front
    num_inputs      2: a second [1,F,40] input concatenated on axis 1 first
    output_units    units of the last FULLY_CONNECTED (output [1,units])
    uint8_output    False: the int8 LOGISTIC output is the model output
    extra_variables that many more resource variables set in the init graph
    extra_op        ADD: an unregistered op (ADD of the input with itself)
    ring_rows       R, the rows kept between invocations
    conv_channels   conv output channels
    """
    rng = np.random.default_rng(seed)
    m = Model()
    sg = m.subgraph()
    init = m.subgraph()
    shape = [1, frames, 40] if input_shape is None else list(input_shape)
    batch, frames, width = shape[0], shape[1], shape[2]
    q = dict(scale=input_scale, zero_point=input_zero_point)
    sg.op(CALL_ONCE, [], [], call_once_options(1))

    if input_type == FLOAT32:
        x_in = sg.tensor(shape, FLOAT32)
        x = sg.tensor(shape, INT8, **q)
        sg.op(QUANTIZE, [x_in], [x], quantize_options())
        inputs = [x_in]
    else:
        x = sg.tensor(shape, input_type, **q)
        inputs = [x]
    if extra_op == "ADD":
        y = sg.tensor(shape, INT8, **q)
        sg.op(ADD, [x, x], [y], add_options())
        x = y
    if num_inputs == 2:
        x2 = sg.tensor(shape, INT8, **q)
        joined = [batch, 2 * frames, width]
        xj = sg.tensor(joined, INT8, **q)
        sg.op(CONCATENATION, [x, x2], [xj], concatenation_options(axis=1))
        inputs.append(x2)
        x, shape, frames = xj, joined, 2 * frames

    cat = add_ring(sg, ring_rows, x, shape, input_scale, input_zero_point,
                   init, "ring0")
    rows = frames + ring_rows
    img = sg.tensor([batch, rows, 1, width], INT8, **q)
    sg.op(RESHAPE, [cat, const_int32(sg, [batch, rows, 1, width])], [img],
          reshape_options([batch, rows, 1, width]))

    ch = conv_channels
    conv_scale, dw_scale, fc_scale = 0.05, 0.04, 0.1
    f_scales = rng.uniform(0.004, 0.008, ch).astype(np.float32)
    cw = sg.tensor([ch, 3, 1, width], INT8,
                   data=rng.integers(-127, 128, (ch, 3, 1, width), np.int8),
                   scale=f_scales, zero_point=[0] * ch)
    cb = sg.tensor([ch], INT32, data=rng.integers(-500, 500, ch, np.int32),
                   scale=np.float32(input_scale) * f_scales)
    out_rows = rows - 2
    conv = sg.tensor([batch, out_rows, 1, ch], INT8, scale=conv_scale,
                     zero_point=-128)
    sg.op(CONV_2D, [img, cw, cb], [conv],
          conv2d_options(padding=VALID, activation=RELU))

    d_scales = rng.uniform(0.005, 0.01, ch).astype(np.float32)
    dw = sg.tensor([1, 3, 1, ch], INT8,
                   data=rng.integers(-127, 128, (1, 3, 1, ch), np.int8),
                   scale=d_scales, zero_point=[0] * ch, quantized_dimension=3)
    db = sg.tensor([ch], INT32, data=rng.integers(-200, 200, ch, np.int32),
                   scale=np.float32(conv_scale) * d_scales)
    dconv = sg.tensor([batch, out_rows, 1, ch], INT8, scale=dw_scale,
                      zero_point=-128)
    sg.op(DEPTHWISE_CONV_2D, [conv, dw, db], [dconv],
          depthwise_conv2d_options(padding=SAME, depth_multiplier=1,
                                   activation=RELU))

    depth = out_rows * ch
    flat = sg.tensor([batch, depth], INT8, scale=dw_scale, zero_point=-128)
    sg.op(RESHAPE, [dconv, const_int32(sg, [batch, depth])], [flat],
          reshape_options([batch, depth]))
    units = output_units
    fw_scale = np.float32(0.003)
    fw = sg.tensor([units, depth], INT8,
                   data=rng.integers(-127, 128, (units, depth), np.int8),
                   scale=fw_scale)
    fb = sg.tensor([units], INT32, data=rng.integers(-300, 300, units, np.int32),
                   scale=np.float32(dw_scale) * fw_scale)
    fc = sg.tensor([batch, units], INT8, scale=fc_scale, zero_point=0)
    sg.op(FULLY_CONNECTED, [flat, fw, fb], [fc], fully_connected_options())
    prob = sg.tensor([batch, units], INT8, scale=1 / 256, zero_point=-128)
    sg.op(LOGISTIC, [fc], [prob])
    out = quantize_to_uint8(sg, prob, [batch, units]) if uint8_output else prob

    for i in range(extra_variables):
        h = init.tensor(None, RESOURCE)
        c = init.tensor([1, 4], INT8, data=np.zeros(4, np.int8), scale=0.1,
                        zero_point=0)
        init.op(VAR_HANDLE, [], [h], var_handle_options("extra%d" % i))
        init.op(ASSIGN_VARIABLE, [h, c], [], assign_variable_options())

    sg.inputs, sg.outputs = inputs, [out]
    return m


def no_operators_model():
    """One input, one output, no operators (the output is never written)."""
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 3, 40], INT8, scale=0.1, zero_point=-128)
    y = sg.tensor([1, 1], UINT8, scale=1 / 256, zero_point=0)
    sg.inputs, sg.outputs = [x], [y]
    return m


def set_input_quantization(model, scale=None, zero_point=None):
    """Overrides input 0's scale (0, negative, NaN ...) and/or zero point."""
    sg = model.subgraphs[0]
    t = sg.tensors[sg.inputs[0]]
    if scale is not None:
        t.scale = [float(np.float32(scale))]
    if zero_point is not None:
        t.zero_point = [int(zero_point)]
    return model


def find_op(model, code, subgraph=0):
    """The first operator of the subgraph with the builtin code."""
    for op in model.subgraphs[subgraph].operators:
        if model.operator_codes[op.opcode_index].builtin_code == code:
            return op
    raise KeyError(code)


def _malformed(kind):
    def build():
        m = streaming_model()
        sg = m.subgraphs[0]
        if kind == "op_input_out_of_range":
            find_op(m, LOGISTIC).inputs = [len(sg.tensors) + 5]
        elif kind == "opcode_index_out_of_range":
            find_op(m, LOGISTIC).opcode_index = len(m.operator_codes) + 3
        elif kind == "buffer_index_out_of_range":
            sg.tensors[find_op(m, CONV_2D).inputs[1]].buffer = \
                len(m.buffers) + 7
        elif kind == "short_constant_buffer":
            b = sg.tensors[find_op(m, FULLY_CONNECTED).inputs[1]].buffer
            m.buffers[b] = m.buffers[b][:len(m.buffers[b]) // 2]
        elif kind == "no_subgraphs":
            m.subgraphs = []
        elif kind == "absent_subgraphs":
            m.subgraphs = None
        elif kind == "absent_tensors":
            sg.tensors = None
        elif kind == "input_index_out_of_range":
            sg.inputs = [len(sg.tensors)]
        return m
    return build


RECIPES = {
    "base": streaming_model,
    "selector": selector_model,
    "fc_logistic": lambda: fc_logistic_model(
        np.ones(120, np.int8), bias=0, frames=3),
    "no_operators": no_operators_model,
    "two_inputs": lambda: streaming_model(num_inputs=2),
    "float_input": lambda: streaming_model(input_type=FLOAT32),
    "int8_output": lambda: streaming_model(uint8_output=False),
    "output_1x2": lambda: streaming_model(output_units=2),
    "batch2": lambda: streaming_model(input_shape=[2, 3, 40]),
    "input_f0": lambda: streaming_model(input_shape=[1, 0, 40], ring_rows=3),
    # The ring shares the input's scale, so all of it changes.
    "scale_zero": lambda: streaming_model(input_scale=0.0),
    "scale_negative": lambda: selector_model(input_scale=-0.1),
    "scale_nan": lambda: selector_model(input_scale=float("nan")),
    "add_op": lambda: streaming_model(extra_op="ADD"),
    "21_variables": lambda: streaming_model(extra_variables=20),
    # An 80000-byte input tensor cannot fit a 64 KiB arena.
    "arena_too_small": lambda: streaming_model(frames=2000),
}
for _kind in ("op_input_out_of_range", "opcode_index_out_of_range",
              "buffer_index_out_of_range", "short_constant_buffer",
              "no_subgraphs", "absent_subgraphs", "absent_tensors",
              "input_index_out_of_range"):
    RECIPES[_kind] = _malformed(_kind)


def main(argv):
    if len(argv) != 3 or argv[1] not in RECIPES:
        sys.stderr.write("usage: model_builder.py <recipe> <out.tflite>\n"
                         "recipes: %s\n" % " ".join(sorted(RECIPES)))
        return 2
    RECIPES[argv[1]]().write(argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
