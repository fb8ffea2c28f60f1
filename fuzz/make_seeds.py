#!/usr/bin/env python3
"""Writes the hand-made seed inputs of fuzz/corpus/<target>/seed-*.

The inputs follow each target's own input layout (see the target's source).
Inputs that libFuzzer found and that were fixed live beside them as
regression-* files and are kept as they are."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc(frame):
    value = 0xFFFF
    for b in frame:
        value ^= b
        for _ in range(8):
            value = (value >> 1) ^ 0xA001 if value & 1 else value >> 1
    return bytes(frame) + bytes([value & 0xFF, value >> 8])


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'seed-' + name), 'wb') as f:
        f.write(bytes(data))


# ---- fuzz_driver_answers -------------------------------------------------
# Per command: station, retries, write flag, data type index, area index,
# number selector (+ number), bit byte, count selector (+ count), for writes
# the data length and data; then, as the driver receives, for each request
# an answer kind (+ its bytes) and for each receive how it returns.
TYPES = {0: 0, 1: 1, 2: 2, 3: 3, 5: 4, 6: 5}
AREAS = {'HR': 0, 'FN6HR': 1, 'DO': 2, 'FN5DO': 3, 'DI': 4, 'IR': 5}


def command(area, number, type_, count, write_data=None, bit=None, swap=False,
            station=0, retries=1):
    out = [station, retries + 1, 1 if write_data is not None else 0, TYPES[type_], AREAS[area]]
    if 59999 <= number <= 60011:
        out += [0, number - 59999]
    elif 1 <= number <= 256:
        out += [2, number - 1]
    else:
        out += [3] + list(struct.pack('>H', number))
    out.append((0x80 | bit if bit is not None else 0) | (0x40 if swap else 0))
    if count == 1:
        out += [5]
    elif count <= 16:
        out += [0, count]
    else:
        out += [4] + list(struct.pack('>i', count))
    if write_data is not None:
        assert len(write_data) < 40
        out += [len(write_data)] + list(write_data)
    return out


def honest(payload=b''):
    # answer kind 0, the payload the request calls for, two honest receives
    return [0] + list(payload) + [0, 0]


write('fuzz_driver_answers', 'read-words', command('HR', 100, 2, 2) + honest(b'\x12\x34\x56\x78'))
write('fuzz_driver_answers', 'read-dwords-swap', command('HR', 100, 3, 1, swap=True) + honest(b'\x12\x34\x56\x78'))
write('fuzz_driver_answers', 'read-bytes', command('IR', 7, 1, 3) + honest(b'\x12\x34\x56\x78'))
write('fuzz_driver_answers', 'read-coils', command('DO', 20, 0, 9) + honest(b'\xAB\x01'))
write('fuzz_driver_answers', 'read-reg-bits', command('HR', 10, 0, 5, bit=13) + honest(b'\xF0\x0F\x55\xAA'))
write('fuzz_driver_answers', 'exception', command('HR', 1, 2, 1) + [2, 2, 0, 0])
write('fuzz_driver_answers', 'silence-then-good', command('DI', 5, 6, 3, retries=2) + [4, 0] + honest(b'\x05'))
write('fuzz_driver_answers', 'write-words', command('HR', 100, 2, 2, write_data=b'\x34\x12\xFE\xFF') + honest())
write('fuzz_driver_answers', 'write-fn6-dwords', command('FN6HR', 200, 3, 1, write_data=b'\x78\x56\x34\x12') + honest() + honest())
write('fuzz_driver_answers', 'write-bit', command('HR', 10, 0, 1, write_data=b'\x01', bit=3) + honest(b'\x00\x00') + honest())
write('fuzz_driver_answers', 'write-coils-fn5', command('FN5DO', 30, 0, 3, write_data=b'\x01\x00\x01') + honest() * 3)
write('fuzz_driver_answers', 'write-coils', command('DO', 30, 0, 10, write_data=bytes([1, 0] * 5)) + honest())
# The store: two stations, read back from the second, then a broadcast of
# a word (function 16), of a word with function 6, a bit, and a read-back.
store = (command('HR', 60000, 2, 1, write_data=b'\x02\x00')
         + command('HR', 60001, 2, 1, write_data=b'\x01\x00')
         + command('HR', 60002, 2, 1, write_data=b'\x02\x00')
         + command('HR', 60009, 2, 1, write_data=b'\x02\x00'))
write('fuzz_driver_answers', 'broadcast-word', store + command('HR', 60010, 2, 1, write_data=b'\x34\x12') + honest() * 2)
write('fuzz_driver_answers', 'broadcast-fn6', store + command('FN6HR', 60010, 2, 1, write_data=b'\x34\x12') + honest() * 2)
write('fuzz_driver_answers', 'broadcast-bit', store + command('HR', 60010, 0, 1, write_data=b'\x01', bit=2)
      + (honest(b'\x00\x00') + honest()) * 2)
write('fuzz_driver_answers', 'read-back', store + command('HR', 60010, 2, 1) + honest(b'\x12\x34'))
write('fuzz_driver_answers', 'store-read', command('HR', 60000, 2, 11))

# ---- fuzz_address ------------------------------------------------------------
# how (0x80: 32-bit type, 0x40: 32-bit count, 0x20: data repeated, low bits:
# text encoding), type, count, text length and text, data length and data.
def address(text, type_, count, data=b'', how=0):
    raw = text.encode('latin-1')
    return [how, type_] + list(struct.pack('>H', count)) + [len(raw)] + list(raw) + [len(data)] + list(data)


for i, (text, type_, count, data) in enumerate([
        ('HR100', 2, 2, b'\x01\x02\x03\x04'), ('FN6HR12.3', 0, 1, b'\x01'), ('DO5', 0, 9, b'\x01' * 9),
        ('hr100SW', 3, 1, b'\x78\x56\x34\x12'), ('F100', 2, 1, b''), ('HR60010', 2, 1, b'\x34\x12'),
        ('DI1', 6, 16, b''), ('HR100.300', 0, 3, b'\x01\x00\x01'), ('HR65536', 2, 1, b'\x00\x00'),
        ('fn5do1', 1, 5, b'ABCDE'), ('HR.5', 0, 1, b'\x01'), ('', 4, 1, b'')]):
    write('fuzz_address', 'address-%02d' % i, address(text, type_, count, data))

# ---- fuzz_pack -----------------------------------------------------------------
# Even first byte: a format (length, characters) and for each engine its
# argument values and input bytes; odd: a hexadecimal text, whether it is
# zero-terminated, and len.
def pack(fmt, filler=b'\x01\x02\x03\x04\x05\x06\x07\x08' * 4):
    return [0, len(fmt)] + list(fmt.encode()) + list(filler)


def hex_text(text, terminated, length):
    return [1, len(text)] + list(text.encode()) + [1 if terminated else 0, length + 8 if terminated else length]


for i, fmt in enumerate(['CnN', 'vV', '2x3X', '3n', '0C', 'C C', 'nv', '2xC', 'Z', '2S', '4V2N', 'xX', '12', 'cSsIiLl']):
    write('fuzz_pack', 'format-%02d' % i, pack(fmt))
for i, (text, terminated, length) in enumerate([('1F', True, 2), ('0x1F', True, 4), ('0x1F', False, 3),
                                                ('123456789', True, 9), ('0x', False, 2), ('1G', True, 30)]):
    write('fuzz_pack', 'hex-%02d' % i, hex_text(text, terminated, length))

# ---- fuzz_setting_streams ------------------------------------------------------
# how (1: little-endian, 2: old stream version, 4: a DriverSetting first),
# then the stream.
def qstring(text):
    if text is None:
        return b'\xff\xff\xff\xff'
    raw = text.encode('utf-16-be')
    return struct.pack('>I', len(raw)) + raw


def device(entries, count=None, index=0, name='COM2'):
    out = struct.pack('>i', 16) + qstring(name) + struct.pack('>6i', 9600, 8, 0, 2, 0, -1)
    out += struct.pack('>iI', index, len(entries) if count is None else count)
    for ip, port in entries:
        out += qstring(ip) + struct.pack('>H', port)
    return out


write('fuzz_setting_streams', 'default', [0] + list(device([])))
write('fuzz_setting_streams', 'driver-and-device', [4] + list(struct.pack('>4i', 500, 3, 1, 0)) + list(device([('10.0.0.2', 502)])))
write('fuzz_setting_streams', 'two-entries', [0] + list(device([('a', 502), (None, 503)], index=1)))
write('fuzz_setting_streams', 'count-huge', [0] + list(device([('a', 502)], count=0xFFFFFFFF)))
write('fuzz_setting_streams', 'string-huge', [0] + list(struct.pack('>i', 16)) + list(b'\x7f\xff\xff\xfe\x00A'))
write('fuzz_setting_streams', 'little-endian', [1] + list(struct.pack('<i', 16) + b'\x08\x00\x00\x00C\x00O\x00M\x002\x00' + struct.pack('<6i', 9600, 8, 0, 2, 0, -1) + struct.pack('<iI', 0, 0)))

# ---- fuzz_txpackage -------------------------------------------------------------
# A run of operations: 0 section list, 1/2 data, 3-7 appends, 8 checks,
# 9 FCS and text; each followed by every query.
write('fuzz_txpackage', 'appends', [3, 0x41, 4, 0x12, 0x34, 5, 1, 2, 3, 4, 6, 3, 7, 8, 9, 8, 0x0F, 0, 0, 0, 0, 9, 0, 0, 0, 1, 1])
write('fuzz_txpackage', 'length-section', [5, 0, 0, 0, 4, 0, 3, 1, 4, 0, 4])   # a DWord of 4, then -1 entries
write('fuzz_txpackage', 'self-reference', [0, 3, 1, 4, 0, 4, 2, 0x7F, 0xFF])
write('fuzz_txpackage', 'overflowing-sum', [0, 4, 3, 0x7F, 0xFF, 0xFF, 0xFF, 3, 0x80, 0, 0, 1, 1, 4, 0])

# ---- fuzz_sim_requests --------------------------------------------------------
# faults flag and seed, then chunks: length byte (0x80: CRC added), bytes;
# 0xFF is a silence.
def chunk(data, add_crc=False):
    return [len(data) | (0x80 if add_crc else 0)] + list(data)


reqs = [crc([1, 3, 0, 0, 0, 10]), crc([1, 16, 0, 1, 0, 2, 4, 0, 1, 0, 2]), crc([2, 15, 0, 19, 0, 10, 2, 0xCD, 1]),
        crc([247, 5, 0, 172, 0xFF, 0]), crc([1, 6, 0, 1, 0x12, 0x34]), crc([0, 6, 0, 1, 0, 7]), crc([9, 3, 0, 0, 0, 1])]
write('fuzz_sim_requests', 'requests', [0, 0, 0, 0, 1] + sum((chunk(r) for r in reqs), []))
write('fuzz_sim_requests', 'faults', [1, 0, 0, 0, 7] + sum((chunk(r) for r in reqs * 3), []))
write('fuzz_sim_requests', 'split-and-noise', [0, 0, 0, 0, 0] + chunk(reqs[1][:5]) + chunk(reqs[1][5:]) + chunk(b'\x01\x03\x00') + chunk(reqs[0]) + [0xFF])
write('fuzz_sim_requests', 'crc-made', [0, 0, 0, 0, 0] + chunk(bytes([1, 2, 0, 0, 7, 0xD1]), True) + chunk(bytes([1, 43, 14, 1, 0]), True) + [0xFF])

# ---- fuzz_monitor ------------------------------------------------------------
# baud flag, timing flag, answer wait (ms, 2 bytes), then reads: microseconds
# since the last (2 bytes), length (low 6 bits), bytes.
def read(after_us, data):
    return [after_us >> 8, after_us & 0xFF, len(data)] + list(data)


poll = crc([1, 3, 0, 0, 0, 2])
answer = crc([1, 3, 4, 0, 7, 0, 9])
write('fuzz_monitor', 'exchanges', [0, 1, 3, 0xE8] + read(0, poll) + read(12000, answer[:4]) + read(3000, answer[4:])
      + read(9000, crc([2, 3, 0, 0, 0, 2])) + read(30000, crc([1, 0x83, 2])) + read(5000, b'\x55\xaa\x01')
      + read(9000, poll + answer) + read(9000, crc([1, 8, 0, 0, 0xAB, 0xCD])))
