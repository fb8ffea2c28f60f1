#!/usr/bin/python3
"""A raw Modbus TCP peer of servoctl gateway: what a client that keeps to
the protocol gets back, byte for byte, and what one that does not gets.

gateway_peer.py PORT: one line per check on standard output.
"""
import socket
import struct
import sys
import time

PORT = int(sys.argv[1])


def connect():
    s = socket.create_connection(("127.0.0.1", PORT), timeout=10)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def frame(tid, unit, pdu, protocol=0, length=None):
    return struct.pack(">HHHB", tid, protocol, len(pdu) + 1 if length is None else length, unit) + pdu


def answer(s):
    head = b""
    while len(head) < 7:
        part = s.recv(7 - len(head))
        if not part:
            return b""
        head += part
    rest = b""
    while len(rest) < struct.unpack(">H", head[4:6])[0] - 1:
        rest += s.recv(300)
    return head + rest


def ask(name, unit, pdu, tid=0x1234):
    s = connect()
    s.sendall(frame(tid, unit, pdu))
    print(f"{name}: {answer(s).hex(' ')}")
    s.close()


def closed(name, data, wait=10):
    s = connect()
    s.settimeout(wait)
    s.sendall(data)
    start = time.monotonic()
    try:
        got = s.recv(100)
    except socket.timeout:
        got = b"(still open)"
    print(f"{name}: {'closed' if got == b'' else got.hex(' ')} after {round(time.monotonic() - start)} s")
    s.close()


ask("IR1 of station 2", 2, bytes.fromhex("0400000001"))
ask("a write, read-only", 1, bytes.fromhex("0600040007"))
ask("a read to every station", 0, bytes.fromhex("0300000001"))
ask("function 43", 1, bytes.fromhex("2b0e0100"))
ask("126 registers", 1, bytes.fromhex("030000007e"))
ask("absent station 9", 9, bytes.fromhex("0300000001"))
# To station 3, which no well-formed request here goes to.
closed("protocol identifier 1", frame(1, 3, bytes.fromhex("0300000001"), protocol=1))
closed("a length past Modbus", frame(1, 3, bytes.fromhex("03"), length=300))
closed("a read with a byte too many", frame(1, 3, bytes.fromhex("030000000100")))
closed("half a frame", frame(1, 3, bytes.fromhex("0300000001"))[:9])
closed("nothing sent", b"")

# Fair: one client sends 16 reads back to back; another, one read once the
# first has its first answer. It waits for at most a few of the first's.
greedy, polite = connect(), connect()
greedy.sendall(b"".join(frame(100 + i, 1, bytes.fromhex("0300000001")) for i in range(16)))
answer(greedy)
polite.sendall(frame(7, 2, bytes.fromhex("0400000001")))
answer(polite)
greedy.setblocking(False)
before = 1
try:
    while True:
        data = greedy.recv(11)
        if not data:
            break
        before += len(data) // 11
except BlockingIOError:
    pass
print(f"fair: the second client waited for fewer than 8 of the first's 16: {before < 8}")
greedy.close()
polite.close()

# At most two clients: a third is closed at once.
first, second = connect(), connect()
time.sleep(0.2)
closed("a third client", b"", wait=2)
first.close()
second.close()
