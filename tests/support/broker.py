#!/usr/bin/env python3
"""The Linux side of the Windows tests: runs tools and servers for test programs under Wine.

Wine can start a Linux program but can neither wait for it nor stop it, so a Windows test
program asks this broker instead. It listens on 127.0.0.1 at a port of the system's choice,
writes the port into the file named by its argument, and answers one JSON request per
connection with one JSON line:

  {"op": "root"}                                   -> {"root": true|false}
  {"op": "which", "name": N}                       -> {"path": P}   (empty when not installed)
  {"op": "run", "argv": [...], "cwd": D, "timeout_ms": T}
                                                   -> {"code": C, "stdout": B64, "stderr": B64}
  {"op": "start", "argv": [...], "stdout": F, "stderr": F}  -> {"id": I}
  {"op": "running", "id": I}                       -> {"running": true|false}
  {"op": "stop", "id": I}                          -> {}

Paths are Linux paths: the test programs translate theirs. Every server it started is stopped
when it is asked to end (SIGTERM or SIGINT), so nothing outlives the test run.
"""

import base64
import json
import os
import shutil
import signal
import socketserver
import subprocess
import sys
import threading

SERVERS = {}
LOCK = threading.Lock()
SEARCH_PATH = os.environ.get("PATH", "/usr/bin:/bin") + ":/usr/sbin:/sbin"


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(5)


def which(name):
    if "/" in name:
        return name if os.path.isfile(name) and os.access(name, os.X_OK) else ""
    return shutil.which(name, path=SEARCH_PATH) or ""


def handle(request):
    op = request.get("op")
    if op == "root":
        return {"root": os.geteuid() == 0}
    if op == "which":
        return {"path": which(request["name"])}
    if op == "run":
        argv = list(request["argv"])
        argv[0] = which(argv[0]) or argv[0]
        try:
            done = subprocess.run(argv, cwd=request.get("cwd") or None, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=request.get("timeout_ms", 120000) / 1000)
        except subprocess.TimeoutExpired:
            return {"code": -1, "stdout": "", "stderr": base64.b64encode(b"timed out").decode()}
        except OSError as error:
            return {"code": -1, "stdout": "", "stderr": base64.b64encode(str(error).encode()).decode()}
        return {"code": done.returncode if done.returncode >= 0 else -1,
                "stdout": base64.b64encode(done.stdout).decode(),
                "stderr": base64.b64encode(done.stderr).decode()}
    if op == "start":
        argv = list(request["argv"])
        argv[0] = which(argv[0])
        if not argv[0]:
            return {"error": "not installed: " + request["argv"][0]}
        with open(request["stdout"], "ab") as out, open(request["stderr"], "ab") as err:
            process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                       start_new_session=True)
        with LOCK:
            SERVERS[process.pid] = process
        return {"id": process.pid}
    if op == "running":
        with LOCK:
            process = SERVERS.get(request["id"])
        return {"running": process is not None and process.poll() is None}
    if op == "stop":
        with LOCK:
            process = SERVERS.pop(request["id"], None)
        if process is not None:
            stop(process)
        return {}
    return {"error": "unknown request"}


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        line = self.rfile.readline(1 << 20)
        try:
            answer = handle(json.loads(line))
        except Exception as error:  # the test program gets the reason, the broker goes on
            answer = {"error": repr(error)}
        self.wfile.write(json.dumps(answer).encode() + b"\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: broker.py PORT_FILE")
    server = Server(("127.0.0.1", 0), Handler)

    def finish(*_):
        with LOCK:
            servers = list(SERVERS.values())
            SERVERS.clear()
        for process in servers:
            stop(process)
        os._exit(0)

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)
    with open(sys.argv[1] + ".tmp", "w") as port_file:
        port_file.write("%d\n" % server.server_address[1])
    os.rename(sys.argv[1] + ".tmp", sys.argv[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
