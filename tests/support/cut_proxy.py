#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that breaks connections: it forwards each client connection to
UPSTREAM_PORT on 127.0.0.1, and resets the Nth connection once it has passed CUTS[N] bytes of
the answer back to the client. Connections after the listed cuts pass untouched.

Usage: cut_proxy.py UPSTREAM_PORT CUTS LOGFILE
  CUTS     comma-separated byte counts, e.g. 40000000,80000000 ("" for none)
  LOGFILE  one line per connection when it ends: "<n> <bytes to the client> cut|whole"

Binds a free port chosen by the system, prints it on its own line on stdout, then serves until
terminated.
"""

import select
import socket
import struct
import sys
import threading

LOCK = threading.Lock()
CONNECTIONS = 0


def serve(client, number, limit, upstream_port, log_path):
    # One thread per connection, both directions through select: a socket that another
    # thread is blocked on would not be released by close, and the reset would never go out.
    passed = 0
    outcome = "whole"
    try:
        upstream = socket.create_connection(("127.0.0.1", upstream_port))
    except OSError:
        client.close()
        return
    try:
        open_ends = [client, upstream]
        while open_ends:
            readable, _, _ = select.select(open_ends, [], [], 60)
            if not readable:
                outcome = "idle"
                break
            if client in readable:
                data = client.recv(65536)
                if data:
                    upstream.sendall(data)
                else:
                    upstream.shutdown(socket.SHUT_WR)
                    open_ends.remove(client)
            if upstream in readable:
                data = upstream.recv(262144)
                if not data:
                    break
                if limit is not None and passed + len(data) >= limit:
                    client.sendall(data[: limit - passed])
                    passed = limit
                    outcome = "cut"
                    # A reset, as a dropped link or a crashed middlebox gives.
                    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    break
                client.sendall(data)
                passed += len(data)
    except OSError:
        outcome = "broken"
    finally:
        for sock in (client, upstream):
            try:
                sock.close()
            except OSError:
                pass
        with LOCK:
            with open(log_path, "a", encoding="utf-8") as log:
                log.write("%d %d %s\n" % (number, passed, outcome))


def main():
    global CONNECTIONS
    if len(sys.argv) != 4:
        sys.stderr.write("usage: cut_proxy.py UPSTREAM_PORT CUTS LOGFILE\n")
        return 2
    upstream_port = int(sys.argv[1])
    cuts = [int(c) for c in sys.argv[2].split(",") if c]
    log_path = sys.argv[3]
    open(log_path, "a").close()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    sys.stdout.write("%d\n" % listener.getsockname()[1])
    sys.stdout.flush()
    while True:
        client, _ = listener.accept()
        with LOCK:
            number = CONNECTIONS
            CONNECTIONS += 1
        limit = cuts[number] if number < len(cuts) else None
        threading.Thread(target=serve, args=(client, number, limit, upstream_port, log_path), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
