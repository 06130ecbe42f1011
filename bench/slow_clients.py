#!/usr/bin/env python3
"""Load helpers for bench/compare-nginx, loopback only, bounded in time.

slow PORT COUNT SECONDS: holds COUNT connections open, each sending one byte of a request head
  every 2 s, spread over source addresses 127.0.1.1 .. 127.0.1.50; a connection the server
  closes is opened again. Prints how many were open at the end.
flood PORT SECONDS PID: one connection sends header lines without end; samples the resident
  memory of process PID meanwhile. Prints "peak_kib=N closed=yes|no sent_kib=N", the highest
  sample (not the process's lifetime peak, which a password hash check's 64 MiB would set).
"""
import select
import socket
import sys
import time

HEAD = b"GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n" + b"X-Slow: " + b"s" * 200 + b"\r\n"


def connect(port, source):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((source, 0))
    s.setblocking(False)
    try:
        s.connect(("127.0.0.1", port))
    except BlockingIOError:
        pass
    return s


def slow(port, count, seconds):
    sources = ["127.0.1.%d" % (1 + i % 50) for i in range(count)]
    conns = {}
    for i in range(count):
        conns[i] = [connect(port, sources[i]), 0]
    end = time.time() + seconds
    next_tick = time.time()
    while time.time() < end:
        if time.time() >= next_tick:
            next_tick += 2.0
            for i, entry in list(conns.items()):
                s, sent = entry
                try:
                    s.send(HEAD[sent % len(HEAD):sent % len(HEAD) + 1])
                    entry[1] += 1
                except (BlockingIOError, InterruptedError):
                    pass
                except OSError:
                    s.close()
                    conns[i] = [connect(port, sources[i]), 0]
        readable, _, _ = select.select([e[0] for e in conns.values()][:1000], [], [], 0.2)
        for s in readable:
            try:
                data = s.recv(4096)
            except OSError:
                data = b""
            if not data:
                for i, entry in conns.items():
                    if entry[0] is s:
                        s.close()
                        conns[i] = [connect(port, sources[i]), 0]
                        break
    print("open=%d" % len(conns))


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def flood(port, seconds, pid):
    s = socket.create_connection(("127.0.0.1", port))
    s.setblocking(False)
    s.send(b"GET /tools/corvale/ HTTP/1.0\r\n")
    line = b"X-Flood: " + b"f" * 1000 + b"\r\n"
    chunk = line * 64
    sent = 0
    closed = False
    end = time.time() + seconds
    peak = resident_kib(pid)
    while time.time() < end and not closed:
        peak = max(peak, resident_kib(pid))
        _, writable, _ = select.select([], [s], [], 0.1)
        try:
            if writable:
                sent += s.send(chunk)
            r, _, _ = select.select([s], [], [], 0)
            if r:
                while s.recv(65536):
                    pass
                closed = True
        except BlockingIOError:
            pass
        except OSError:
            closed = True
    peak = max(peak, resident_kib(pid))
    print("peak_kib=%d closed=%s sent_kib=%d" % (peak, "yes" if closed else "no", sent // 1024))


if __name__ == "__main__":
    if sys.argv[1] == "slow":
        slow(int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]))
    else:
        flood(int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]))
