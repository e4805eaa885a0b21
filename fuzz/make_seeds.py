#!/usr/bin/env python3
"""Writes the seed corpus of the host-call fuzzer (fuzz/corpus/host_calls/).

Each seed is a readable list of calls, encoded as fuzz/host_calls.cpp decodes them. The fuzzer
starts from these and mutates them; they are also replayed by the tests on every run.
Usage: python3 fuzz/make_seeds.py   (from the repository root)
"""
import math
import os
import struct

# Operation numbers, in the order of host_calls.cpp's Op.
SET_PARAMETER, GET_PARAMETER, DISPATCH, SET_PROGRAM, SET_PROGRAM_NAME, READ_TEXT, AUDIO, \
    SAMPLE_RATE, MAINS, BLOCK_SIZE, READ_ALL_TEXTS = range(11)
TEMPO, RESOLUTION, SEND, DEPTH, MOD_AMOUNT, WAVEFORM, STEREO, BOOST = range(8)
# Layouts and signals, in the order of host_calls.cpp's Layout and Signal.
SEPARATE, IN_PLACE, CROSSED, NULL_INPUTS, NULL_OUTPUTS, NULL_CHANNEL, SAME_OUTPUT, \
    SHIFTED_FORWARD, SHIFTED_BACK = range(9)
SILENCE, NOISE, IMPULSE, FULL_SCALE, RAMP, HOSTILE = range(6)
# Indexes into kSampleRates.
RATE = {44100: 0, 48000: 1, 8000: 2, 7999.9995: 3, 768000: 4, 96000: 6, 22050: 7, 0: 10,
        -44100: 12, 1e9: 13, 'nan': 15, 'inf': 16}


def index(i):
    return bytes([i + 2]) if -2 <= i <= 9 else bytes([240]) + struct.pack('<i', i)


def set_parameter(i, value):
    return bytes([SET_PARAMETER]) + index(i) + bytes([3]) + struct.pack('<f', value)


def get_parameter(i):
    return bytes([GET_PARAMETER]) + index(i)


def value(v):
    if -2 <= v <= 17:
        return bytes([v + 2])
    return bytes([196]) + struct.pack('<i', v)  # any 32-bit number


def dispatch(opcode, i=0, v=0, pointer=True, opt=0.0):
    code = bytes([opcode + 4]) if -4 <= opcode <= 35 else bytes([232]) + struct.pack('<i', opcode)
    return (bytes([DISPATCH]) + code + index(i) + value(v) + bytes([0 if pointer else 1, 3]) +
            struct.pack('<f', opt))


def set_program(p):
    return bytes([SET_PROGRAM]) + value(p)


def set_program_name(length, pattern=0):
    return bytes([SET_PROGRAM_NAME]) + struct.pack('<H', length) + bytes([pattern])


def audio(frames, signal=NOISE, replacing=True, layout=SEPARATE):
    kind = (layout << 1) | (1 if replacing else 0)
    count = bytes([frames]) if 0 <= frames < 128 else bytes([128]) + struct.pack('<H', frames)
    return bytes([AUDIO, kind]) + count + bytes([signal])


def sample_rate(rate):
    return bytes([SAMPLE_RATE, RATE[rate]])


def mains(on):
    return bytes([MAINS, 1 if on else 0])


TEXTS = bytes([READ_ALL_TEXTS])
RESUME = mains(True)

SEEDS = {
    'defaults': RESUME + audio(512) + audio(512, replacing=False) + TEXTS,
    'shapes_and_stereo': RESUME + b''.join(
        set_parameter(WAVEFORM, w) + set_parameter(STEREO, s) + audio(4096) + TEXTS
        for w in (0.0, 0.5, 1.0) for s in (0.0, 1.0)),
    'narrow_sweeps': RESUME + set_parameter(MOD_AMOUNT, 0.0100001) +
    set_parameter(DEPTH, 0.2501) + set_parameter(STEREO, 1.0) + audio(2000) +
    set_parameter(MOD_AMOUNT, 0.01) + set_parameter(DEPTH, 0.3) + audio(2000) +
    set_parameter(MOD_AMOUNT, 0.0) + set_parameter(DEPTH, 1.0) + audio(300) + TEXTS,
    'programs': set_program(3) + set_program_name(30) + set_parameter(TEMPO, 1.0) +
    set_program(0) + set_program_name(5, 7) + set_program(15) + set_parameter(RESOLUTION, 0.0) +
    set_program(3) + TEXTS + set_program(16) + set_program(-1) + set_program(2**31 - 1) +
    set_program_name(1000, 200) + RESUME + audio(1000) + TEXTS,
    'sample_rates': sample_rate(48000) + mains(False) + RESUME + audio(4096) +
    sample_rate(8000) + RESUME + audio(1000) + sample_rate(7999.9995) + RESUME + audio(100) +
    sample_rate('nan') + RESUME + audio(100) + sample_rate(0) + RESUME + audio(100) +
    sample_rate(44100) + RESUME + audio(100),
    'hostile_values': b''.join(
        set_parameter(i, v) for i in range(8)
        for v in (math.nan, math.inf, -math.inf, 1e38, -1e38, 1e-45)) + TEXTS + RESUME +
    audio(1000) + get_parameter(-1) + get_parameter(8) + set_parameter(9, 0.5) +
    set_parameter(-2**31, 0.5),
    'opcodes': b''.join(dispatch(op) for op in range(-4, 36) if op != 1) +
    dispatch(-2**31) + dispatch(2**31 - 1) + dispatch(5, pointer=False) +
    dispatch(7, 3, pointer=False) + dispatch(1) + audio(64) + TEXTS,
    'layouts': RESUME + b''.join(
        audio(n, sig, rep, lay) for n in (1, 100, 101, 4096)
        for lay in (IN_PLACE, CROSSED, NULL_INPUTS, NULL_OUTPUTS, NULL_CHANNEL, SAME_OUTPUT,
                    SHIFTED_FORWARD, SHIFTED_BACK)
        for rep in (True, False) for sig in (FULL_SCALE,)) +
    set_parameter(STEREO, 1.0) + b''.join(
        audio(n, NOISE, rep, lay) for n in (300, 4096) for lay in range(9)
        for rep in (True, False)) + audio(0) +
    bytes([AUDIO, 1, 240, NOISE]),  # a negative frame count
}

if __name__ == '__main__':
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'host_calls')
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
        print(f'{name}: {len(data)} bytes')
