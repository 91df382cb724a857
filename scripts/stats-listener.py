#!/usr/bin/env python3
"""Takes install statistics reports on a loopback address, port 80: appends each raw request to a file.
   stats-listener.py ADDRESS OUTFILE"""
import socket
import sys

address, outfile = sys.argv[1], sys.argv[2]
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind((address, 80))
server.listen(8)
while True:
    conn, _ = server.accept()
    conn.settimeout(5)
    data = b""
    try:
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(4096)
            if not chunk:
                break
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n"):
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":", 1)[1])
        while len(body) < length:
            chunk = conn.recv(4096)
            if not chunk:
                break
            body += chunk
        with open(outfile, "ab") as f:
            f.write(head + b"\r\n\r\n" + body + b"\n")
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK")
    except OSError:
        pass
    finally:
        conn.close()
