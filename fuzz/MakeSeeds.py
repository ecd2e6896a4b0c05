#!/usr/bin/env python3
"""Writes the small seed corpora under fuzz/corpus/: a few valid and nearly valid inputs per target."""
import os
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def hex_record(address, data, kind=0):
    body = [len(data), address >> 8, address & 0xFF, kind] + list(data)
    return ":" + "".join("%02X" % b for b in body + [(-sum(body)) & 0xFF])


def frame(servo_id, instruction, params=()):
    body = [servo_id, len(params) + 2, instruction] + list(params)
    return bytes([0xFF, 0xFF] + body + [(~sum(body)) & 0xFF])


def status(servo_id, error=0, params=()):
    return frame(servo_id, error, params)


def block(number, data, end_flag):
    payload = bytes([number, 255 - number, 0]) + bytes(data)
    crc = 0
    for byte in payload[:64]:  # CRC-16/XMODEM over the first 64 frame bytes only
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
    return payload + bytes([crc >> 8, crc & 0xFF, end_flag])


def chunk(rate, delay, payload):
    out = b""
    for at in range(0, len(payload), 255):  # a chunk carries at most 255 bytes
        part = payload[at:at + 255]
        out += bytes([rate, delay if at == 0 else 0, len(part)]) + part
    return out


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def main():
    # Whole firmware files: the first byte picks hex (even) or bin (odd).
    code = list(range(64)) * 2
    write("hex_file", "two_records", "\0" + hex_record(0x8000, code[:16]) + "\n" + hex_record(0x8010, code[16:32])
          + "\n:00000001FF\n")
    write("hex_file", "crlf_from_zero", "\0" + hex_record(0, code[:32]) + "\r\n" + hex_record(0x40, [0xAA] * 8)
          + "\r\n:00000001FF\r\n")
    write("hex_file", "bad_checksum", "\0" + hex_record(0x8000, [1, 2, 3])[:-2] + "00\n")
    write("hex_file", "bin", b"\x01" + bytes(range(200)))

    # Single records, line end removed.
    for name, line in [("data", hex_record(0x8000, code[:16])), ("eof", ":00000001FF"),
                       ("address", hex_record(0, [0, 0], 4)), ("last_byte", hex_record(0xAFFF, [0x5A])),
                       ("odd_length", hex_record(0x100, [1, 2]) + "0")]:
        write("hex_line", name, line)

    # Reply streams for the command layer; the fuzzer finds its own framing quickly from these bytes.
    write("status_frame", "statuses", status(1) + status(1, 0, [0x03, 0x08]) + status(0xFE, 0x20) + b"\x06")
    write("status_frame", "noise", bytes(range(0, 256, 7)))

    # Parameter files: a factory image, one short by a byte, one with trailing bytes.
    factory = bytes([0x08, 0x03, 0x01, 0x00, 0x01, 0x00, 0xFA, 0x00, 0x00, 0x00, 0xFF, 0x03, 0x50, 0x3C,
                     0x8C, 0x02, 0x20, 0xFF, 0x03, 0x02, 0x01, 0x01, 0x01, 0x01, 0x20, 0x20, 0x00, 0x00,
                     0x00, 0x00, 0x00])
    write("parameter_file", "factory", factory)
    write("parameter_file", "short", factory[:30])
    write("parameter_file", "long", factory + b"\x00\x01\x02")

    # Request streams for the simulator: servos 1 and 2 at baud code 0, then chunks at code 0 (1 Mbit/s).
    servos = bytes([1, 1, 0, 2, 0])
    write("sim_requests", "ping_read_write",
          servos + chunk(0, 1, frame(1, 1)) + chunk(0, 2, frame(1, 2, [0, 54]))
          + chunk(0, 2, frame(1, 3, [37, 0])) + chunk(0, 2, frame(1, 3, [3, 9])) + chunk(0, 2, frame(0xFE, 1))
          + chunk(0, 2, frame(2, 4, [30, 0x00, 0x02])) + chunk(0, 1, frame(0xFE, 5))
          + chunk(0, 2, frame(0xFE, 0x83, [30, 2, 1, 0, 1, 2, 0, 2])) + chunk(0, 200, frame(2, 2, [36, 6]))
          + chunk(0, 2, frame(2, 6)) + chunk(0, 2, frame(1, 9)))
    write("sim_requests", "split_and_noise",
          servos + chunk(0, 1, b"\x00\xFF" + frame(1, 1)[:4]) + chunk(0, 1, frame(1, 1)[4:])
          + chunk(0, 100, frame(2, 1)[:3]) + chunk(0, 1, frame(2, 1)[3:]) + chunk(4, 1, frame(2, 1)))
    image = bytes((i * 7) & 0xFF for i in range(128))
    write("sim_requests", "boot_transfer",
          servos + chunk(0, 1, frame(1, 8)) + chunk(8, 50, b"BXLD7") + chunk(8, 1, b"\x01")
          + chunk(8, 1, block(1, image[:64], 6)) + chunk(8, 1, block(2, image[64:], 4))
          + chunk(0, 150, frame(1, 2, [0, 6])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
