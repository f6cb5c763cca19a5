#!/usr/bin/env python3
"""Writes the seed inputs of driver_fuzz into fuzz/corpus/.

An input is one set-up byte (bit 0 variant 2, bit 1 lamp on at start, high nibble the
sensor seed), then steps: a step byte and its arguments, read front to back, integers
little-endian. The step numbers are those of Step() in driver_fuzz.cpp.
"""
import os
import struct
import sys

OPEN, CLOSE, LAMP_ON, LAMP_OFF, LAMP_STATUS, STATUS, DIAG, INIT, ABILITY = 0, 1, 2, 3, 4, 5, 6, 7, 8
REQUEST, RAW_REQUEST, NULL_REQUEST, READ, RESET, STOP = 9, 11, 12, 13, 15, 16
FAIL, HARDWARE, MEMORY, POKE, READY, LOCK, CLEAR = 17, 18, 19, 20, 21, 22, 23
COLOUR, GREY, LINEART = 0, 1, 2
RAW_READ_OP = 2


def request(mode, dpi, left, top, pixels, width, length, channel=0, shape_bits=0):
    shape = mode | shape_bits
    return bytes([REQUEST, shape]) + struct.pack('<HHHHHH', dpi - 100, left, top, pixels, width, length) + bytes([channel])


def fill(index, value):
    return bytes([HARDWARE, 2]) + struct.pack('<H', index) + bytes([value])


def read(lines):
    return bytes([READ, lines])


# INIT takes one byte: below 16 the real calibration, else what a clean one found.
START = bytes([OPEN, LAMP_ON, INIT, 0x80])
END = bytes([RESET, 0, CLOSE])

SEEDS = {
    'full_run': b'\x00' + bytes([OPEN, LAMP_ON, LAMP_STATUS, 0, DIAG, INIT, 0, ABILITY, 0])
        + request(COLOUR, 300, 200, 300, 240, 240, 24) + read(24) + END,
    'colour_300': b'\x00' + START + request(COLOUR, 300, 200, 300, 240, 240, 24) + read(12) + read(12) + END,
    'colour_200_variant2': b'\x01' + START + request(COLOUR, 200, 600, 900, 160, 240, 24) + read(16) + END,
    'grey_150': b'\x00' + START + request(GREY, 150, 0, 0, 300, 600, 30, channel=1) + read(15) + END,
    'lineart_600': b'\x01' + START + request(LINEART, 600, 100, 100, 640, 320, 10) + read(20) + END,
    'read_fails_midway': b'\x00' + START + request(COLOUR, 300, 200, 300, 240, 240, 24) + read(4)
        + bytes([FAIL, RAW_READ_OP]) + struct.pack('<H', 0) + read(8) + read(8) + END,
    'vanish_in_read': b'\x01' + START + request(GREY, 600, 300, 300, 600, 300, 24) + read(2)
        + bytes([HARDWARE, 0, 0, 0, 0]) + read(8) + bytes([LAMP_STATUS, 0]) + END,
    'dark_calibration': b'\x00' + bytes([OPEN, LAMP_ON, HARDWARE, 2, 0, 0, 0x00, INIT, 0, CLEAR])
        + request(COLOUR, 300, 0, 0, 100, 100, 10) + read(4) + END,
    'bright_calibration': b'\x00' + bytes([OPEN, LAMP_ON, HARDWARE, 2, 0, 0, 0xFF, INIT, 0]) + END,
    'memory_then_scan': b'\x00' + bytes([OPEN, MEMORY, 0, 1, LAMP_ON, INIT, 0, CLEAR, INIT, 0x80])
        + request(LINEART, 100, 0, 0, 64, 64, 8) + read(8) + bytes([ABILITY, 0]) + END,
    # A bright band over strip lines 5 to 99 and a dark one from line 100 (read 20 + line,
    # after the 20 warm-up lines); the same band ending at line 375, past the last strip
    # line the dark pass can follow.
    'strip_bands': b'\x00' + bytes([OPEN, LAMP_ON]) + fill(0, 0x00) + fill(25, 0xCC) + fill(120, 0x11)
        + bytes([INIT, 0]) + request(GREY, 300, 100, 100, 200, 200, 10, channel=2) + read(6) + END,
    'strip_late': b'\x00' + bytes([OPEN, LAMP_ON]) + fill(0, 0x00) + fill(25, 0xCC) + fill(396, 0x11)
        + bytes([INIT, 0]) + END,
    # The lamp switched off between two reads of a running scan; the loop-back test likewise.
    'lamp_mid_scan': b'\x01' + START + request(COLOUR, 100, 400, 2700, 500, 1000, 180) + read(4)
        + bytes([LAMP_OFF]) + read(48) + bytes([DIAG]) + read(48) + END,
    'raw_request': b'\x02' + bytes([OPEN, INIT, 0x80, RAW_REQUEST]) + bytes(range(256)) * 4 + read(3) + bytes([NULL_REQUEST, STOP, DIAG]) + END,
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'corpus')
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
