#!/usr/bin/env python3
"""An HTTP/1.1 server on 127.0.0.1 that plays the answers well-behaved servers never give.

Usage: fault_server.py LOGFILE [ROOT]

ROOT is the folder that /file/ serves. Binds a free port chosen by the system, prints it on its own line on stdout, then serves until
it is terminated. Every request line is appended to LOGFILE as it arrives. The paths are listed
in TestSupport.h (class TFaultServer).
"""

import http.server
import os
import select
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse

PATTERN = b"0123456789"
LOG_LOCK = threading.Lock()
LOG_PATH = None
ROOT = None
RANGE_COUNTS = {}  # answers given so far per /range/ path

# Long enough to outlast any stall time-out of a test; the thread ends earlier when the client
# goes, and the whole process ends when the test's fixture terminates it.
STALL_SECONDS = 600


def body_of(size):
    whole, rest = divmod(size, len(PATTERN))
    return PATTERN * whole + PATTERN[:rest]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True
    server_version = "ZltFaultServer/1"
    sys_version = ""

    def log_message(self, format, *args):  # noqa: A002 - the base class's signature
        pass

    def log_request_line(self):
        line = self.requestline
        if "Range" in self.headers:
            line += " [Range: %s; If-Range: %s]" % (self.headers["Range"], self.headers.get("If-Range", ""))
        with LOG_LOCK:
            with open(LOG_PATH, "a", encoding="utf-8") as log:
                log.write(line + "\n")

    # --- answers -------------------------------------------------------------------------

    def send_body(self, code, body, content_type="application/octet-stream", extra=()):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.wfile.flush()

    def redirect(self, location):
        self.send_body(302, b"moved", "text/plain", [("Location", location)])

    def cut(self, declared, sent, reset):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(declared))
        self.end_headers()
        self.wfile.write(body_of(sent))
        self.wfile.flush()
        if reset:
            # SO_LINGER with a zero time-out turns the close into a reset.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            self.connection.shutdown(socket.SHUT_WR)
        self.close_connection = True

    def stall(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", "1000000")
        self.end_headers()
        self.wfile.write(body_of(10))
        self.wfile.flush()
        deadline = time.monotonic() + STALL_SECONDS
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 1.0)
            if readable:
                try:
                    if not self.connection.recv(4096):
                        break  # the client gave up
                except OSError:
                    break
        self.close_connection = True

    def no_length(self, size):
        # A body delimited by the end of the connection.
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body_of(size))
        self.wfile.flush()
        self.close_connection = True

    def drip(self, size):
        # Content-Length SIZE, then one byte every half second: never silent long enough for a
        # stall guard, far too slow for any package.
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        try:
            for byte in body_of(size):
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
                time.sleep(0.5)
        except OSError:
            pass  # the client gave up
        self.close_connection = True

    def declare(self, size):
        # Declares SIZE bytes, sends ten, then closes: the length alone must be judged.
        self.cut(size, min(size, 10), reset=False)

    def endless(self):
        # No length and no end, as fast as the client takes it.
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        chunk = body_of(64 * 1024)
        try:
            while True:
                self.wfile.write(chunk)
        except OSError:
            pass  # the client gave up
        self.close_connection = True

    def ranged(self, mode, size, cuts):
        # A file of SIZE bytes served with ranges; the first CUTS answers on this path are closed
        # halfway through what they send. MODE plays one kind of server:
        #   good      ETag "v1", Range honoured when If-Range names it
        #   lastmod   no ETag, a Last-Modified date that If-Range must name
        #   noetag    neither: a client that resumes here could splice two versions
        #   ignore    ETag "v1", but every answer is the whole file (200)
        #   newetag   the file changes after the first answer: ETag "v2", other bytes
        #   badrange  ETag "v1", but a part answer starts at byte 0, whatever was asked
        #   weak      a weak ETag W/"v1" and a Last-Modified date; If-Range must name the date (a
        #             weak tag never matches, as HTTP says)
        #   weakonly  a weak ETag W/"v1" alone, which this server takes in If-Range all the same:
        #             a client that resumes here could splice two versions
        #   resize    ETag "v1"; after the first answer the file is another, of two thirds the
        #             size ("abcdefghij" repeated, ETag "v2")
        #   part      every answer is a part (206) of the whole file, asked for or not
        with LOG_LOCK:
            seen = RANGE_COUNTS.get(self.path, 0)
            RANGE_COUNTS[self.path] = seen + 1
        version = "v2" if mode in ("newetag", "resize") and seen > 0 else "v1"
        if mode == "resize" and version == "v2":
            size = size * 2 // 3
        body = body_of(size) if version == "v1" else (b"abcdefghij" * (size // 10 + 1))[:size]
        date = ("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT")
        validator = {"lastmod": date, "weak": date, "noetag": None, "weakonly": ("ETag", 'W/"v1"')}.get(
            mode, ("ETag", '"%s"' % version))
        wanted = self.headers.get("Range", "")
        condition = self.headers.get("If-Range")
        start = 0
        if wanted.startswith("bytes=") and wanted.endswith("-") and mode != "ignore":
            if validator is None or condition == validator[1]:
                start = int(wanted[6:-1])
                if mode == "badrange":
                    start = 0
        part = start > 0 or (mode == "badrange" and wanted) or mode == "part"
        self.send_response(206 if part else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        if mode == "weak":
            self.send_header("ETag", 'W/"v1"')
        if validator is not None:
            self.send_header(*validator)
        if part:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size) if size else "bytes */0")
        self.send_header("Content-Length", str(size - start))
        self.end_headers()
        rest = body[start:]
        if seen < cuts:
            # Closed, not reset, so that every byte sent arrives and the offsets are exact.
            self.wfile.write(rest[: len(rest) // 2])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_WR)
            self.close_connection = True
        else:
            self.wfile.write(rest)
            self.wfile.flush()

    def served_file(self, mode, cuts, name):
        # A file of ROOT served with single ranges ("bytes=A-B" or "bytes=A-"). The faults touch
        # only a package (NAME ends with .zip), never the files beside it: the first CUTS part
        # answers on its path are closed halfway through what they send, and MODE plays one kind
        # of server:
        #   good        ranges honoured
        #   alter       every answer, part or whole, has its middle byte changed
        #   alterparts  parts have their middle byte changed; the whole file is sent as it is
        #   shift       a part answer starts one byte later than asked, and says so
        path = "%s/%s" % (ROOT, urllib.parse.unquote(name))
        if ".." in name.split("/") or not os.path.isfile(path):
            self.send_body(404, b"Not here", "text/plain")
            return
        with open(path, "rb") as source:
            body = source.read()
        size = len(body)
        wanted = self.headers.get("Range", "")
        first, last = 0, size - 1
        part = wanted.startswith("bytes=") and "," not in wanted
        if not name.endswith(".zip"):
            mode, cuts = "good", 0
        seen = cuts
        if part:
            with LOG_LOCK:
                seen = RANGE_COUNTS.get(self.path, 0)
                RANGE_COUNTS[self.path] = seen + 1
            text_first, _, text_last = wanted[6:].partition("-")
            first = int(text_first)
            last = min(int(text_last), size - 1) if text_last else size - 1
            if mode == "shift":
                first += 1
        rest = bytearray(body[first:last + 1])
        if rest and (mode == "alter" or (mode == "alterparts" and part)):
            rest[len(rest) // 2] ^= 0xFF
        self.send_response(206 if part else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        if part:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.send_header("Content-Length", str(len(rest)))
        self.end_headers()
        if seen < cuts:
            self.wfile.write(bytes(rest[: len(rest) // 2]))
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_WR)
            self.close_connection = True
        else:
            self.wfile.write(bytes(rest))
            self.wfile.flush()

    def echo_headers(self):
        lines = [self.requestline] + ["%s: %s" % (name, value) for name, value in self.headers.items()]
        self.send_body(200, ("\n".join(lines) + "\n").encode("latin-1", "replace"), "text/plain; charset=iso-8859-1")

    def text(self, query):
        params = urllib.parse.parse_qs(query, keep_blank_values=True, encoding="latin-1")
        body = urllib.parse.unquote_to_bytes(self.raw_param(query, "body"))
        content_type = "text/plain"
        if "charset" in params:
            content_type += "; charset=" + params["charset"][0]
        self.send_body(200, body, content_type)

    @staticmethod
    def raw_param(query, name):
        for pair in query.split("&"):
            key, _, value = pair.partition("=")
            if key == name:
                return value.replace("+", " ")
        return ""

    # --- dispatch ------------------------------------------------------------------------

    def do_GET(self):
        self.log_request_line()
        url = urllib.parse.urlsplit(self.path)
        parts = [p for p in url.path.split("/") if p]
        head = parts[0] if parts else ""
        arg = parts[1] if len(parts) > 1 else ""
        try:
            number = int(arg) if arg else 0
        except ValueError:
            number = -1
        if head == "file" and len(parts) >= 4 and ROOT is not None:
            self.served_file(parts[1], int(parts[2]), "/".join(parts[3:]))
        elif url.path.endswith(".manifest"):
            # The release manifest a client asks for beside any package: none here.
            self.send_body(404, b"Not here", "text/plain")
        elif head == "ok" and number >= 0:
            self.send_body(200, body_of(number))
        elif head == "nolength" and number >= 0:
            self.no_length(number)
        elif head == "drop" and number >= 0:
            self.cut(number, number // 2, reset=True)
        elif head == "short" and number >= 0:
            self.cut(number, number // 2, reset=False)
        elif head == "stall":
            self.stall()
        elif head == "drip" and number >= 0:
            self.drip(number)
        elif head == "declare" and number >= 0:
            self.declare(number)
        elif head == "range" and len(parts) >= 4:
            self.ranged(parts[1], int(parts[2]), int(parts[3]))
        elif head == "endless":
            self.endless()
        elif head == "status" and number >= 100:
            self.send_body(number, b"Outdated error page", "text/html")
        elif head == "redirect" and number >= 0:
            if number == 0:
                self.send_body(200, body_of(100))
            elif number == 1:
                self.redirect("/ok/100")
            else:
                self.redirect("/redirect/%d" % (number - 1))
        elif head == "loop":
            self.redirect("/loop")
        elif head == "text":
            self.text(url.query)
        elif head == "headers":
            self.echo_headers()
        elif head == "setcookie":
            self.send_body(200, b"cookie set", "text/plain", [("Set-Cookie", "zlt=1; Path=/")])
        elif head == "needcookie":
            cookies = self.headers.get("Cookie", "")
            if "zlt=1" in [c.strip() for c in cookies.split(";")]:
                self.send_body(200, b"cookie seen", "text/plain")
            else:
                self.send_body(403, b"no cookie", "text/plain")
        else:
            self.send_body(404, b"Not here", "text/plain")

    do_HEAD = do_GET


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def main():
    global LOG_PATH, ROOT
    if len(sys.argv) not in (2, 3):
        sys.stderr.write("usage: fault_server.py LOGFILE [ROOT]\n")
        return 2
    LOG_PATH = sys.argv[1]
    ROOT = sys.argv[2] if len(sys.argv) == 3 else None
    open(LOG_PATH, "a").close()
    server = Server(("127.0.0.1", 0), Handler)
    sys.stdout.write("%d\n" % server.server_address[1])
    sys.stdout.flush()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
