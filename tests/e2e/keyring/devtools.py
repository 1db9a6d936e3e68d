#!/usr/bin/env python3
"""Evaluates a script expression in the page the program's browser shows,
through the engine's remote debugging port on 127.0.0.1, and prints the
value. Standard library only: one WebSocket exchange, as the protocol says.

    devtools.py PORT EXPRESSION
"""
import base64
import json
import os
import socket
import struct
import sys
import urllib.request
from urllib.parse import urlparse


def frame(text):
    data = text.encode()
    mask = os.urandom(4)
    head = bytes([0x81])
    n = len(data)
    if n < 126:
        head += bytes([0x80 | n])
    elif n < 65536:
        head += bytes([0x80 | 126]) + struct.pack(">H", n)
    else:
        head += bytes([0x80 | 127]) + struct.pack(">Q", n)
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data))


def read_exact(sock, n):
    out = b""
    while len(out) < n:
        part = sock.recv(n - len(out))
        if not part:
            raise EOFError("connection closed")
        out += part
    return out


def read_message(sock):
    data = b""
    while True:
        b0, b1 = read_exact(sock, 2)
        n = b1 & 0x7F
        if n == 126:
            n = struct.unpack(">H", read_exact(sock, 2))[0]
        elif n == 127:
            n = struct.unpack(">Q", read_exact(sock, 8))[0]
        data += read_exact(sock, n)
        if b0 & 0x80:
            return data.decode()


def main():
    port, expression = sys.argv[1], sys.argv[2]
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=5) as r:
        pages = [p for p in json.load(r) if p.get("type") == "page" and "webSocketDebuggerUrl" in p]
    if not pages:
        sys.exit("no page to debug")
    url = urlparse(pages[0]["webSocketDebuggerUrl"])
    sock = socket.create_connection((url.hostname, url.port), timeout=5)
    key = base64.b64encode(os.urandom(16)).decode()
    sock.sendall((f"GET {url.path} HTTP/1.1\r\nHost: {url.hostname}:{url.port}\r\nUpgrade: websocket\r\n"
                  f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += read_exact(sock, 1)
    if b" 101 " not in answer.split(b"\r\n")[0]:
        sys.exit("no WebSocket: " + answer.decode(errors="replace"))
    sock.sendall(frame(json.dumps({"id": 1, "method": "Runtime.evaluate",
                                   "params": {"expression": expression, "returnByValue": True}})))
    while True:
        message = json.loads(read_message(sock))
        if message.get("id") == 1:
            result = message.get("result", {}).get("result", {})
            if "value" not in result:
                sys.exit("no value: " + json.dumps(message))
            value = result["value"]
            print(value if isinstance(value, str) else json.dumps(value))
            return


if __name__ == "__main__":
    main()
