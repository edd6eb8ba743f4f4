"""Writes the runtime's test models and what each must give.

    /usr/bin/python3 make_test_models.py <out-dir>

For every case <name>: <name>.tflite and <name>.expect, whose lines are
    outcome ok | allocate | invoke   the step that fails, if any
    line <text>       a line the library must print (C escapes; CR removed)
    invoke <in> <out> hex bytes written to input 0, hex bytes of output 0
    sentinel          output 0 keeps the bytes it held before the invoke
    dims <d,d,...>    output 0's dimensions ("" for rank 0)
    same_as <name>    invoke results must equal those of case <name>
    address_delta <d> output 0's address minus input 0's
    held_at_failure <b64> <b32>  bytes in use above the tail after the failure,
                      on 64-bit / 32-bit builds: the request block (192 / 144)
                      or the temp views the failing prepare holds, if larger
and manifest.txt lists the cases.
"""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import model_builder as mb  # noqa: E402
from model_builder import (  # noqa: E402
    ASSIGN_VARIABLE, CALL_ONCE, CONCATENATION, CONV_2D, CUSTOM,
    DEPTHWISE_CONV_2D, FULLY_CONNECTED, INT8, INT32, LOGISTIC, QUANTIZE,
    READ_VARIABLE, RESHAPE, RESOURCE, SAME, SPLIT_V, STRIDED_SLICE, UINT8,
    VALID, VAR_HANDLE, Model)

CASES = {}


def case(name, outcome="ok", lines=(), invokes=(), sentinel=False, dims=None,
         same_as=None, address_delta=None, held_at_failure=None):
    def register(build):
        CASES[name] = (build, outcome, lines, invokes, sentinel, dims, same_as,
                       address_delta, held_at_failure)
        return build
    return register


# A temp view of a tensor, on 64-bit / 32-bit builds: its record, and for a
# quantised one with one scale a quantisation record and a zero-point array
# of 4 + 4 bytes.
VIEW = (64, 40)
QUANTISED_VIEW = (64 + 24 + 8, 40 + 12 + 8)
REQUEST_BLOCK = (192, 144)


def held(*views):
    """Request block end plus the given views, per target."""
    return tuple(REQUEST_BLOCK[t] + sum(v[t] for v in views) for t in (0, 1))


def ramp(n, start=0):
    return bytes((start + i) & 0xFF for i in range(n))


def single_op(code, in_shape, out_shape, options=None, extra_inputs=(),
              in_q=(0.1, 0), out_q=(0.1, 0), out_type=INT8):
    """Model input -> one op -> model output; extra_inputs are callables
    sg -> tensor index appended to the op's inputs."""
    m = Model()
    sg = m.subgraph()
    x = sg.tensor(in_shape, INT8, scale=in_q[0], zero_point=in_q[1])
    y = sg.tensor(out_shape, out_type, scale=out_q[0], zero_point=out_q[1])
    sg.op(code, [x] + [f(sg) for f in extra_inputs], [y], options)
    sg.inputs, sg.outputs = [x], [y]
    return m


def const(values, shape=None):
    return lambda sg: mb.const_int32(sg, values, shape)


# ---- Format -----------------------------------------------------------------

@case("old_opcodes", same_as="base")
def old_opcodes():
    """Only deprecated_builtin_code set for codes below 128."""
    m = mb.streaming_model()
    for oc in m.operator_codes:
        if oc.builtin_code < 128:
            oc.builtin_code = None
    return m


@case("base", invokes=[(ramp(120), None), (ramp(120, 77), None)])
def base():
    return mb.streaming_model()


@case("wrong_options_table", invokes=[(ramp(16), ramp(16))], dims=[2, 2, 4])
def wrong_options_table():
    """CONCATENATION options given as a SplitVOptions table whose field 0 is
    1: read as absent, so the axis is 0, not 1."""
    m = Model()
    sg = m.subgraph()
    a = sg.tensor([1, 2, 4], INT8, scale=0.1, zero_point=0)
    b = sg.tensor([1, 2, 4], INT8, scale=0.1, zero_point=0)
    y = sg.tensor([2, 2, 4], INT8, scale=0.1, zero_point=0)
    sg.op(CONCATENATION, [a, b], [y], mb.split_v_options(num_splits=1))
    sg.inputs, sg.outputs = [a, b], [y]
    return m


@case("custom_options_on_builtin", "allocate", lines=[
    "Unsupported behavior: found builtin operator LOGISTIC with custom "
    "options.\\n"])
def custom_options_on_builtin():
    m = mb.streaming_model()
    mb.find_op(m, LOGISTIC).custom_options = b""
    return m


@case("custom_op_without_code", "allocate", lines=[
    "Operator with CUSTOM builtin_code has no custom_code.\\n",
    "Failed to get registration from op code CUSTOM\\n "])
def custom_op_without_code():
    m = mb.streaming_model()
    mb.find_op(m, LOGISTIC).opcode_index = m.opcode(CUSTOM, version=2)
    return m


@case("custom_op_named", "allocate", lines=[
    "Failed to get registration from op code CUSTOM\\n "])
def custom_op_named():
    m = mb.streaming_model()
    mb.find_op(m, LOGISTIC).opcode_index = m.opcode(CUSTOM, custom_code="Foo")
    return m


@case("code_out_of_range", "allocate", lines=[
    "Op builtin_code out of range: 300.",
    "Failed to get registration from op code \\n "])
def code_out_of_range():
    m = mb.streaming_model()
    mb.find_op(m, LOGISTIC).opcode_index = m.opcode(300)
    return m


@case("unregistered_high_code", "allocate", lines=[
    "Didn't find op for builtin opcode 'GELU'",
    "Failed to get registration from op code GELU\\n "])
def unregistered_high_code():
    m = mb.streaming_model()
    mb.find_op(m, LOGISTIC).opcode_index = m.opcode(150)
    return m


# ---- Shapes -------------------------------------------------------------------

@case("dynamic_output", "allocate", lines=[
    "Op#0 (RESHAPE) of subgraph 0 has dynamic tensor #1",
    "Dynamic tensors are not supported"])
def dynamic_output():
    return single_op(RESHAPE, [1, 0, 40], [1, 0])


@case("dynamic_unresolved", "allocate", lines=[
    "Op#1 (READ_VARIABLE) of subgraph 0 has dynamic tensor #1",
    "Dynamic tensors are not supported"], held_at_failure=held(VIEW))
def dynamic_unresolved():
    """Found after the prepare, which viewed the handle only."""
    m = Model()
    sg = m.subgraph()
    h = sg.tensor(None, RESOURCE)
    y = sg.tensor([1, -1], INT8, scale=0.1, zero_point=0)
    sg.op(VAR_HANDLE, [], [h], mb.var_handle_options("v"))
    sg.op(READ_VARIABLE, [h], [y], mb.read_variable_options())
    sg.inputs, sg.outputs = [], [y]
    return m


@case("reshape_stretch", invokes=[(ramp(120), ramp(120))], dims=[3, 40])
def reshape_stretch():
    return single_op(RESHAPE, [1, 3, 40], [-1, 40],
                     extra_inputs=[const([40, 3])])


@case("reshape_output_wins", invokes=[(ramp(120), ramp(120))], dims=[3, 40])
def reshape_output_wins():
    """Shape input and new_shape say [40, 3]; the output tensor says [3, 40]."""
    return single_op(RESHAPE, [1, 3, 40], [3, 40], mb.reshape_options([40, 3]),
                     extra_inputs=[const([40, 3])])


@case("reshape_stretch_indivisible", "allocate", lines=[
    "Node RESHAPE (number 0) failed to prepare with status 1"])
def reshape_stretch_indivisible():
    return single_op(RESHAPE, [1, 3, 40], [-1, 7])


@case("reshape_stretch_zero_product", "allocate", lines=[
    "Node RESHAPE (number 0) failed to prepare with status 1"])
def reshape_stretch_zero_product():
    return single_op(RESHAPE, [1, 3, 40], [0, -1])


@case("reshape_scalar_spelling", invokes=[(b"\x2a", b"\x2a")], dims=[])
def reshape_scalar_spelling():
    """One input and output shape [0]: a rank-0 output (the model buffer is
    not touched)."""
    return single_op(RESHAPE, [1, 1], [0])


# ---- Data movement ---------------------------------------------------------

@case("concat_negative_axis", dims=[1, 2, 8], invokes=[
    (ramp(8), bytes([0, 1, 2, 3, 0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7]))])
def concat_negative_axis():
    """The same input twice along axis -1 of a rank-3 output."""
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 2, 4], INT8, scale=0.1, zero_point=0)
    y = sg.tensor([1, 2, 8], INT8, scale=0.1, zero_point=0)
    sg.op(CONCATENATION, [x, x], [y], mb.concatenation_options(axis=-1))
    sg.inputs, sg.outputs = [x], [y]
    return m


@case("concat_zero_point_mismatch", "allocate", lines=[
    "Node CONCATENATION (number 0) failed to prepare with status 1"],
    held_at_failure=held(*[QUANTISED_VIEW] * 4))
def concat_zero_point_mismatch():
    """Refused at input 1, holding views of input 0, the output, input 0
    again and input 1."""
    m = Model()
    sg = m.subgraph()
    a = sg.tensor([1, 2, 4], INT8, scale=0.1, zero_point=0)
    b = sg.tensor([1, 2, 4], INT8, scale=0.1, zero_point=3)
    y = sg.tensor([1, 2, 8], INT8, scale=0.1, zero_point=0)
    sg.op(CONCATENATION, [a, b], [y], mb.concatenation_options(axis=-2 + 1))
    sg.inputs, sg.outputs = [a, b], [y]
    return m


@case("strided_slice_negative", dims=[1, 4, 3], invokes=[
    (ramp(24), bytes([23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1]))])
def strided_slice_negative():
    """Negative begin/end, negative strides, an end mask on the last axis."""
    return single_op(STRIDED_SLICE, [1, 4, 6], [1, 4, 3],
                     mb.strided_slice_options(end_mask=0b100),
                     extra_inputs=[const([0, -1, -1]), const([1, -5, 0]),
                                   const([1, -1, -2])])


@case("strided_slice_masks_shrink", dims=[3], invokes=[
    (ramp(24), bytes([6, 7, 8]))])
def strided_slice_masks_shrink():
    """Begin mask on axis 2, shrink of axes 0 and 1 at row 1, end 3; the
    ellipsis and new-axis masks are set but ignored."""
    return single_op(STRIDED_SLICE, [1, 4, 6], [3],
                     mb.strided_slice_options(begin_mask=0b100,
                                              shrink_axis_mask=0b011,
                                              ellipsis_mask=0b1,
                                              new_axis_mask=0b10),
                     extra_inputs=[const([0, 1, 5]), const([1, 2, 3]),
                                   const([1, 1, 1])])


@case("strided_slice_shrink_outside", sentinel=True,
      invokes=[(ramp(24), None)])
def strided_slice_shrink_outside():
    """A shrunk axis whose begin lies past the axis: accepted, nothing
    written."""
    return single_op(STRIDED_SLICE, [1, 4, 6], [1, 6],
                     mb.strided_slice_options(shrink_axis_mask=0b010),
                     extra_inputs=[const([0, 9, 0]), const([1, 10, 6]),
                                   const([1, 1, 1])])


@case("strided_slice_rank5", "allocate", lines=[
    "Node STRIDED_SLICE (number 0) failed to prepare with status 1"])
def strided_slice_rank5():
    return single_op(STRIDED_SLICE, [1, 1, 1, 2, 3], [1, 1, 1, 2, 3],
                     extra_inputs=[const([0] * 5), const([1, 1, 1, 2, 3]),
                                   const([1] * 5)])


def split_model(in_shape, out_shapes, axis, size_splits):
    m = Model()
    sg = m.subgraph()
    x = sg.tensor(in_shape, INT8, scale=0.1, zero_point=0)
    outs = [sg.tensor(s, INT8, scale=0.1, zero_point=0) for s in out_shapes]
    # Only the second output is the model's, to check its bytes.
    sg.op(SPLIT_V, [x, mb.const_int32(sg, size_splits),
                    mb.const_int32(sg, [axis], shape=[1])], outs,
          mb.split_v_options(num_splits=7))
    sg.inputs, sg.outputs = [x], [outs[1]]
    return m


@case("split_v_output_shapes_win", dims=[1, 2, 1, 4], invokes=[
    (ramp(12), bytes([2, 3, 4, 5, 8, 9, 10, 11]))])
def split_v_output_shapes_win():
    return split_model([1, 2, 1, 6], [[1, 2, 1, 2], [1, 2, 1, 4]], 3, [4, -1])


@case("split_v_negative_axis", dims=[1, 3, 1, 2], invokes=[
    (ramp(8), bytes([2, 3, 4, 5, 6, 7]))])
def split_v_negative_axis():
    return split_model([1, 4, 1, 2], [[1, 1, 1, 2], [1, 3, 1, 2]], -3, [1, 3])


@case("split_v_axis_out_of_range", "invoke", lines=[
    "Node SPLIT_V (number 0) failed to invoke with status 1"],
    invokes=[(ramp(8), None)])
def split_v_axis_out_of_range():
    return split_model([1, 4, 1, 2], [[1, 1, 1, 2], [1, 3, 1, 2]], 4, [1, 3])


# ---- Kernels at their edges --------------------------------------------------

@case("logistic_other_output_scale", invokes=[(bytes([5]), bytes([0]))])
def logistic_other_output_scale():
    """Output scale 1/2 is accepted and computed as 1/256; x = Z_in gives
    0.5, i.e. 0 with zero point -128."""
    return single_op(LOGISTIC, [1, 1], [1, 1], in_q=(0.1, 5), out_q=(0.5, -128))


@case("logistic_wrong_zero_point", "allocate", lines=[
    "Node LOGISTIC (number 0) failed to prepare with status 1"])
def logistic_wrong_zero_point():
    return single_op(LOGISTIC, [1, 1], [1, 1], out_q=(1 / 256, 0))


@case("quantize_int8_to_uint8", invokes=[
    (bytes([0x80, 0xFF, 0x00, 0x7F]), bytes([0, 127, 128, 255]))])
def quantize_int8_to_uint8():
    return single_op(QUANTIZE, [1, 4], [1, 4], mb.quantize_options(),
                     in_q=(0.5, -128), out_q=(0.5, 0), out_type=UINT8)


@case("depthwise_uint8_output", invokes=[(bytes([10, 20]), bytes([10, 20]))])
def depthwise_uint8_output():
    """int8 in, uint8 out is not refused; identity filter and scales."""
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 1, 1, 2], INT8, scale=1.0, zero_point=0)
    w = sg.tensor([1, 1, 1, 2], INT8, data=np.array([1, 1], np.int8),
                  scale=[1.0, 1.0], zero_point=[0, 0], quantized_dimension=3)
    y = sg.tensor([1, 1, 1, 2], UINT8, scale=1.0, zero_point=0)
    sg.op(DEPTHWISE_CONV_2D, [x, w], [y],
          mb.depthwise_conv2d_options(padding=VALID, depth_multiplier=1))
    sg.inputs, sg.outputs = [x], [y]
    return m



@case("depthwise_multiplier_zero", "allocate", lines=[
    "Node DEPTHWISE_CONV_2D (number 0) failed to prepare with status 1"])
def depthwise_multiplier_zero():
    m = depthwise_uint8_output()
    m.subgraphs[0].operators[0].options = None
    return m


@case("conv_same_stride2_even", dims=[1, 2, 2, 1], invokes=[
    (ramp(16, 1), bytes([7, 6, 9, 7]))])
def conv_same_stride2_even():
    """3x3 SAME stride 2 on 4x4, weights all 1, output scale 8: the one
    padding row and column go to the bottom and right, so output (0, 0)
    sums rows and columns 0..2 (54 / 8 -> 7)."""
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 4, 4, 1], INT8, scale=1.0, zero_point=0)
    w = sg.tensor([1, 3, 3, 1], INT8, data=np.ones(9, np.int8), scale=[1.0])
    y = sg.tensor([1, 2, 2, 1], INT8, scale=8.0, zero_point=0)
    sg.op(CONV_2D, [x, w, -1], [y],
          mb.conv2d_options(padding=SAME, stride_w=2, stride_h=2))
    sg.inputs, sg.outputs = [x], [y]
    return m


@case("conv_relu6_bounds_out_of_range", "allocate", lines=[
    "Node CONV_2D (number 0) failed to prepare with status 1"],
    held_at_failure=held(*[QUANTISED_VIEW] * 6))
def conv_relu6_bounds_out_of_range():
    """6 / output scale is beyond int32: refused after the operands were
    viewed twice, before and after the per-channel arrays (no bias)."""
    m = conv_same_stride2_even()
    sg = m.subgraphs[0]
    sg.operators[0].options = mb.conv2d_options(padding=SAME, stride_w=2,
                                                stride_h=2, activation=mb.RELU6)
    sg.tensors[sg.outputs[0]].scale = [1e-9]
    return m


# ---- Variables ---------------------------------------------------------------

@case("variable_container_absent_matches_empty",
      invokes=[(b"", bytes([1, 2, 3, 4])), (b"", bytes([9, 9, 9, 9])),
               (b"", bytes([9, 9, 9, 9]))], dims=[1, 4])
def variable_container_absent_matches_empty():
    """Main graph names ("", "v"), reads it, then assigns 9s; the init graph
    names (absent, "v") and assigns 1 2 3 4: one variable, initialised once."""
    m = Model()
    sg = m.subgraph()
    init = m.subgraph()
    sg.op(CALL_ONCE, [], [], mb.call_once_options(1))
    h = sg.tensor(None, RESOURCE)
    y = sg.tensor([1, 4], INT8, scale=0.1, zero_point=0)
    nines = sg.tensor([1, 4], INT8, data=np.full(4, 9, np.int8), scale=0.1,
                      zero_point=0)
    sg.op(VAR_HANDLE, [], [h], mb.var_handle_options("v", container=""))
    sg.op(READ_VARIABLE, [h], [y], mb.read_variable_options())
    sg.op(ASSIGN_VARIABLE, [h, nines], [], mb.assign_variable_options())
    ih = init.tensor(None, RESOURCE)
    c = init.tensor([1, 4], INT8, data=np.array([1, 2, 3, 4], np.int8),
                    scale=0.1, zero_point=0)
    init.op(VAR_HANDLE, [], [ih], mb.var_handle_options("v"))
    init.op(ASSIGN_VARIABLE, [ih, c], [], mb.assign_variable_options())
    sg.inputs, sg.outputs = [], [y]
    return m


@case("variable_default_before_state", invokes=[
    (b"", bytes([0xFD] * 4)), (b"", bytes([7] * 4))])
def variable_default_before_state():
    """No init graph: the first read gives the default byte (the first
    assigned value's zero point, -3), the next one the assigned 7s."""
    m = Model()
    sg = m.subgraph()
    h = sg.tensor(None, RESOURCE)
    y = sg.tensor([1, 4], INT8, scale=0.1, zero_point=-3)
    sevens = sg.tensor([1, 4], INT8, data=np.full(4, 7, np.int8), scale=0.1,
                       zero_point=-3)
    sg.op(VAR_HANDLE, [], [h], mb.var_handle_options("v"))
    sg.op(READ_VARIABLE, [h], [y], mb.read_variable_options())
    sg.op(ASSIGN_VARIABLE, [h, sevens], [], mb.assign_variable_options())
    sg.inputs, sg.outputs = [], [y]
    return m


def fc_bias_model(per_channel):
    """FULLY_CONNECTED whose bias scale is 10x in*filter."""
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 4], INT8, scale=0.5, zero_point=0)
    scales = [0.25, 0.25] if per_channel else 0.25
    w = sg.tensor([2, 4], INT8, data=np.ones(8, np.int8), scale=scales)
    b = sg.tensor([2], INT32, data=np.zeros(2, np.int32), scale=1.25)
    y = sg.tensor([1, 2], INT8, scale=0.125, zero_point=0)
    sg.op(FULLY_CONNECTED, [x, w, b], [y], mb.fully_connected_options())
    sg.inputs, sg.outputs = [x], [y]
    return m


@case("fc_bias_scale_per_tensor", "allocate", lines=[
    "Node FULLY_CONNECTED (number 0) failed to prepare with status 1"])
def fc_bias_scale_per_tensor():
    return fc_bias_model(per_channel=False)


@case("fc_bias_scale_per_channel", invokes=[(bytes([1, 2, 3, 4]),
                                             bytes([10, 10]))])
def fc_bias_scale_per_channel():
    """Not checked for per-channel weights: 10 * 0.5 * 0.25 / 0.125 = 10."""
    return fc_bias_model(per_channel=True)


@case("call_once_minus_one", "invoke", lines=[
    "Accessing subgraph -1 but only 1 subgraphs found",
    "Node CALL_ONCE (number 0) failed to invoke with status 1"],
    invokes=[(b"", None)])
def call_once_minus_one():
    m = Model()
    sg = m.subgraph()
    y = sg.tensor([1], INT8, scale=0.1, zero_point=0)
    sg.op(CALL_ONCE, [], [], mb.call_once_options(-1))
    sg.inputs, sg.outputs = [], [y]
    return m


@case("call_once_beyond_subgraphs", "allocate", lines=[
    "Node CALL_ONCE (number 0) failed to prepare with status 1"])
def call_once_beyond_subgraphs():
    m = call_once_minus_one()
    m.subgraphs[0].operators[0].options = mb.call_once_options(1)
    return m


# ---- Offline memory plan -------------------------------------------------------

def offline_plan(offsets, count=None):
    """RESHAPE [1,3,40] -> [3,40] (tensors: input, output, shape) with an
    offline plan of the given offsets."""
    m = single_op(RESHAPE, [1, 3, 40], [3, 40], extra_inputs=[const([3, 40])])
    words = [1, 1, len(offsets) if count is None else count] + offsets
    m.metadata = [("OfflineMemoryAllocation",
                   m.buffer(np.asarray(words, np.int32).tobytes()))]
    return m


@case("offline_plan", invokes=[(ramp(120), ramp(120))], address_delta=-128)
def offline_plan_fixed():
    return offline_plan([128, 0, -1])


@case("offline_plan_partly_online", invokes=[(ramp(120), ramp(120))],
      address_delta=128)
def offline_plan_partly_online():
    """The input fixed at 0; the output fitted above it."""
    return offline_plan([0, -1, -1])


@case("offline_plan_wrong_count", "allocate", lines=[
    "Nbr of offline buffer offsets (2) in metadata not equal nbr tensors (3)",
    ""])
def offline_plan_wrong_count():
    return offline_plan([0, -1])


@case("malformed_offline_plan_overlap", "allocate", lines=[
    "The offline memory plan overlaps planned buffers 0 and 1"])
def malformed_offline_plan_overlap():
    """Input and output, live together, 64 bytes apart."""
    return offline_plan([64, 0, -1])


# ---- Malformed models: refused cleanly ---------------------------------------
# The original runtime crashes, aborts or reads or writes out of bounds on
# these; here each is refused with a diagnostic.

MALFORMED_FROM_BUILDER = [
    "op_input_out_of_range", "opcode_index_out_of_range",
    "buffer_index_out_of_range", "short_constant_buffer", "no_subgraphs",
    "absent_subgraphs", "absent_tensors", "input_index_out_of_range"]
for _kind in MALFORMED_FROM_BUILDER:
    case("malformed_" + _kind, "allocate")(mb.RECIPES[_kind])


@case("malformed_call_once_self", "allocate", lines=["Subgraph 0 calls itself"])
def malformed_call_once_self():
    """Absent options give init subgraph 0: the caller itself."""
    m = mb.streaming_model()
    mb.find_op(m, CALL_ONCE).options = None
    return m


@case("malformed_call_once_cycle", "allocate", lines=["Subgraph 1 calls itself"])
def malformed_call_once_cycle():
    m = mb.streaming_model()
    m.subgraphs[1].op(CALL_ONCE, [], [], mb.call_once_options(1))
    return m


@case("malformed_shape_overflow", "allocate")
def malformed_shape_overflow():
    m = mb.streaming_model()
    sg = m.subgraphs[0]
    sg.tensors[mb.find_op(m, LOGISTIC).outputs[0]].shape = [65536, 65536, 65536]
    return m


@case("malformed_zero_dim_overflow", "allocate")
def malformed_zero_dim_overflow():
    """Zero elements, but the other dimensions' product overflows."""
    m = mb.streaming_model()
    sg = m.subgraphs[0]
    sg.tensors[mb.find_op(m, LOGISTIC).outputs[0]].shape = [0, 65536, 65536,
                                                            65536]
    return m


@case("malformed_conv_empty_filter", "allocate", lines=[
    "Node CONV_2D (number 0) failed to prepare with status 1"])
def malformed_conv_empty_filter():
    """No output channels in the filter, and 10^6 rows of taps."""
    m = conv_same_stride2_even()
    sg = m.subgraphs[0]
    w = sg.operators[0].inputs[1]
    sg.tensors[w].shape = [0, 1000000, 3, 1]
    return m


@case("malformed_negative_dim", "allocate")
def malformed_negative_dim():
    m = mb.streaming_model()
    sg = m.subgraphs[0]
    sg.tensors[sg.inputs[0]].shape = [1, -3, 40]
    return m


@case("malformed_unknown_input_size", "allocate")
def malformed_unknown_input_size():
    return single_op(RESHAPE, [1, -1, 40], [-1, 40])


@case("malformed_missing_inputs_vector", "allocate", lines=[
    "Node LOGISTIC (number 11) failed to prepare with status 1"])
def malformed_missing_inputs_vector():
    m = mb.streaming_model()
    mb.find_op(m, LOGISTIC).inputs = None
    return m


@case("malformed_conv_rank3", "allocate", lines=[
    "Node CONV_2D (number 0) failed to prepare with status 1"])
def malformed_conv_rank3():
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 4, 4], INT8, scale=1.0, zero_point=0)
    w = sg.tensor([1, 3, 3, 1], INT8, data=np.ones(9, np.int8), scale=[1.0])
    y = sg.tensor([1, 2, 2, 1], INT8, scale=8.0, zero_point=0)
    sg.op(CONV_2D, [x, w], [y], mb.conv2d_options(padding=VALID))
    sg.inputs, sg.outputs = [x], [y]
    return m


@case("malformed_conv_short_bias", "allocate", lines=[
    "Node CONV_2D (number 0) failed to prepare with status 1"])
def malformed_conv_short_bias():
    """A one-byte bias, which is read as int32 whatever its type."""
    m = conv_same_stride2_even()
    sg = m.subgraphs[0]
    sg.operators[0].inputs[2] = sg.tensor([1], INT8, data=b"\x00")
    return m


@case("malformed_writes_constant", "allocate")
def malformed_writes_constant():
    m = mb.streaming_model()
    sg = m.subgraphs[0]
    out = mb.find_op(m, LOGISTIC).outputs[0]
    sg.tensors[out].buffer = m.buffer(bytes(1))
    return m


@case("malformed_constant_input", "allocate")
def malformed_constant_input():
    m = mb.streaming_model()
    sg = m.subgraphs[0]
    sg.tensors[sg.inputs[0]].buffer = m.buffer(bytes(120))
    return m


@case("malformed_slice_short_begin", "allocate", lines=[
    "Node STRIDED_SLICE (number 0) failed to prepare with status 1"])
def malformed_slice_short_begin():
    return single_op(STRIDED_SLICE, [1, 4, 6], [1, 4, 6],
                     extra_inputs=[const([0]), const([1, 4, 6]),
                                   const([1, 1, 1])])


@case("malformed_slice_type_change", "allocate", lines=[
    "Node STRIDED_SLICE (number 0) failed to prepare with status 1"])
def malformed_slice_type_change():
    return single_op(STRIDED_SLICE, [1, 4, 6], [1, 4, 6], out_type=INT32,
                     extra_inputs=[const([0, 0, 0]), const([1, 4, 6]),
                                   const([1, 1, 1])])


@case("malformed_split_v_overlap", "allocate", lines=[
    "Node SPLIT_V (number 0) failed to prepare with status 1"],
    held_at_failure=held(VIEW))
def malformed_split_v_overlap():
    """Only the axis is viewed."""
    return split_model([1, 2, 1, 6], [[1, 2, 1, 4], [1, 2, 1, 4]], 3, [4, 4])


@case("malformed_concat_rank", "allocate", lines=[
    "Node CONCATENATION (number 0) failed to prepare with status 1"])
def malformed_concat_rank():
    m = Model()
    sg = m.subgraph()
    a = sg.tensor([1, 2, 4], INT8, scale=0.1, zero_point=0)
    b = sg.tensor([2, 4], INT8, scale=0.1, zero_point=0)
    y = sg.tensor([1, 4, 4], INT8, scale=0.1, zero_point=0)
    sg.op(CONCATENATION, [a, b], [y], mb.concatenation_options(axis=1))
    sg.inputs, sg.outputs = [a, b], [y]
    return m


@case("malformed_fc_short_input", "allocate", lines=[
    "Node FULLY_CONNECTED (number 0) failed to prepare with status 1"])
def malformed_fc_short_input():
    m = Model()
    sg = m.subgraph()
    x = sg.tensor([1, 10], INT8, scale=0.1, zero_point=0)
    w = sg.tensor([1, 40], INT8, data=np.ones(40, np.int8), scale=0.1)
    y = sg.tensor([1, 1], INT8, scale=0.1, zero_point=0)
    sg.op(FULLY_CONNECTED, [x, w, -1], [y], mb.fully_connected_options())
    sg.inputs, sg.outputs = [x], [y]
    return m


@case("malformed_quantize_short_output", "allocate", lines=[
    "Node QUANTIZE (number 0) failed to prepare with status 1"])
def malformed_quantize_short_output():
    return single_op(QUANTIZE, [1, 4], [1, 2], mb.quantize_options(),
                     out_type=UINT8)


@case("malformed_assign_size_mismatch", "allocate", lines=[
    "Node ASSIGN_VARIABLE (number 1) failed to prepare with status 1"],
    held_at_failure=held(QUANTISED_VIEW))
def malformed_assign_size_mismatch():
    """The init graph assigns 4 bytes to the 80-byte ring state. Only the
    value is viewed."""
    m = mb.streaming_model()
    init = m.subgraphs[1]
    for op in init.operators:
        if m.operator_codes[op.opcode_index].builtin_code == ASSIGN_VARIABLE:
            init.tensors[op.inputs[1]].shape = [1, 4]
            m.buffers[init.tensors[op.inputs[1]].buffer] = bytes(4)
    return m


@case("malformed_read_size_mismatch", "invoke", lines=[
    "Node READ_VARIABLE (number 2) failed to invoke with status 1"],
    invokes=[(ramp(120), None)])
def malformed_read_size_mismatch():
    """A second READ_VARIABLE of the ring with a 3-row output."""
    m = mb.streaming_model()
    sg = m.subgraphs[0]
    handle = mb.find_op(m, READ_VARIABLE).inputs[0]
    wide = sg.tensor([1, 3, 40], INT8, scale=0.101960786, zero_point=-128)
    op = mb.Operator(m.opcode(READ_VARIABLE), [handle], [wide],
                     mb.read_variable_options(), None, None)
    sg.operators.insert(2, op)
    return m


@case("null_variable_names", same_as="base")
def null_variable_names():
    """Variables without a shared name: handled as one more name."""
    m = mb.streaming_model()
    for sg in m.subgraphs:
        for op in sg.operators:
            if m.operator_codes[op.opcode_index].builtin_code == VAR_HANDLE:
                op.options = mb.var_handle_options(None)
    return m


def write_case(out_dir, name, spec):
    build, outcome, lines, invokes, sentinel, dims, same_as, delta, held_bytes = spec
    build().write(os.path.join(out_dir, name + ".tflite"))
    with open(os.path.join(out_dir, name + ".expect"), "w") as f:
        f.write("outcome %s\n" % outcome)
        for line in lines:
            f.write("line %s\n" % line)
        for data, expected in invokes:
            f.write("invoke %s %s\n" % (data.hex() or "-",
                                        "-" if expected is None else expected.hex()))
        if sentinel:
            f.write("sentinel\n")
        if dims is not None:
            f.write("dims %s\n" % ",".join(str(d) for d in dims))
        if same_as is not None:
            f.write("same_as %s\n" % same_as)
        if delta is not None:
            f.write("address_delta %d\n" % delta)
        if held_bytes is not None:
            f.write("held_at_failure %d %d\n" % held_bytes)


def main(argv):
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, spec in CASES.items():
        write_case(out_dir, name, spec)
    with open(os.path.join(out_dir, "manifest.txt"), "w") as f:
        f.write("".join(name + "\n" for name in CASES))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
