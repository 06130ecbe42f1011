#!/usr/bin/env python3
"""A loopback TCP proxy whose replies travel at a fixed rate, for bench/slow-update.

rate_limited_proxy.py UPSTREAM_PORT BYTES_PER_SECOND: listens on 127.0.0.1 on a free port,
prints "listening PORT" once, and forwards each connection to 127.0.0.1:UPSTREAM_PORT. What
the client sends goes on at once; what the server answers reaches the client no faster than
BYTES_PER_SECOND, paced in steps of 10 ms as a slow line would deliver it.
"""
import socket
import sys
import threading
import time

STEP = 0.01


def forward_requests(client, upstream):
    try:
        while True:
            data = client.recv(65536)
            if not data:
                upstream.shutdown(socket.SHUT_WR)
                return
            upstream.sendall(data)
    except OSError:
        return


def paced_replies(upstream, client, rate):
    started = time.monotonic()
    sent = 0
    pending = b""
    open_upstream = True
    try:
        while open_upstream or pending:
            allowed = int(rate * (time.monotonic() - started)) - sent
            if allowed <= 0 or not pending and open_upstream:
                if open_upstream and len(pending) < rate:
                    upstream.settimeout(STEP)
                    try:
                        data = upstream.recv(65536)
                        if data:
                            pending += data
                        else:
                            open_upstream = False
                    except socket.timeout:
                        pass
                if allowed <= 0:
                    time.sleep(STEP)
                continue
            piece, pending = pending[:allowed], pending[allowed:]
            client.sendall(piece)
            sent += len(piece)
    except OSError:
        pass
    finally:
        client.close()
        upstream.close()


def serve(upstream_port, rate):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("listening", listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        upstream = socket.create_connection(("127.0.0.1", upstream_port))
        threading.Thread(target=forward_requests, args=(client, upstream), daemon=True).start()
        threading.Thread(target=paced_replies, args=(upstream, client, rate), daemon=True).start()


if __name__ == "__main__":
    serve(int(sys.argv[1]), int(sys.argv[2]))
