#!/usr/bin/python3
"""A misbehaving Modbus TCP gateway on 127.0.0.1:PORT.

silent: accepts connections and never answers.
hold:   answers each request only when the next one arrives, first the
        held (late) reply, then the new one. A held reply to a holding
        register read carries 7777 in every register; a reply sent in time
        carries 1000 + register number.
"""
import socket
import struct
import sys
import threading

mode, port = sys.argv[1], int(sys.argv[2])


def reply(request, late):
    tid, _, _, unit = struct.unpack(">HHHB", request[:7])
    fn, first, count = struct.unpack(">BHH", request[7:12])
    if fn in (3, 4):
        values = [7777 if late else 1001 + first + i for i in range(count)]
        pdu = struct.pack(">BB", fn, 2 * count) + b"".join(struct.pack(">H", v) for v in values)
    elif fn in (1, 2):
        pdu = struct.pack(">BBH", fn, 2, 0)
    else:
        pdu = request[7:12]  # write echo
    return struct.pack(">HHHB", tid, 0, len(pdu) + 1, unit) + pdu


def serve(conn):
    held = None
    buf = b""
    with conn:
        while True:
            data = conn.recv(4096)
            if not data:
                return
            if mode == "silent":
                continue
            buf += data
            while len(buf) >= 12:
                length = struct.unpack(">H", buf[4:6])[0]
                if len(buf) < 6 + length:
                    break
                request, buf = buf[: 6 + length], buf[6 + length:]
                if held is not None:
                    conn.sendall(reply(held, True) + reply(request, False))
                    held = None
                else:
                    held = request


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(4)
while True:
    c, _ = listener.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
