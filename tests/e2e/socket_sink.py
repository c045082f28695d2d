#!/usr/bin/env python3
"""An AppSocket printer for the Printer Application's tests.

    socket_sink.py DIR PORTFILE

Listens on a free port on 127.0.0.1 (written to PORTFILE once it listens) and
stores what each connection sends as it comes, one printer job per file:
DIR/NNNN.prn in the order the jobs begin.  A connection may carry several jobs one after the other
(PAPPL keeps a network printer's connection open while jobs are queued); each
job begins with the cancel string of the printer's job header.  Runs until it
is ended with SIGTERM.
"""
import os
import signal
import socket
import sys
import threading

JOB_START = b"\x1bE\x1b%-12345X@PJL CANCEL"


def main():
    directory, portfile = sys.argv[1], sys.argv[2]
    lock = threading.Lock()
    count = [0]

    def new_name():
        with lock:
            count[0] += 1
            return os.path.join(directory, "%04d.prn" % count[0])

    def serve(conn):
        # Written as it comes, so that a job is on disk once it has been sent.
        data = b""
        names = []
        with conn:
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                data += chunk
                starts = [0]
                at = data.find(JOB_START, 1)
                while at >= 0:
                    starts.append(at)
                    at = data.find(JOB_START, at + 1)
                while len(names) < len(starts):
                    names.append(new_name())
                # Earlier jobs are complete once the next has begun; the last is
                # written again with what has come so far.
                for i in range(len(starts) - 1):
                    with open(names[i], "wb") as f:
                        f.write(data[starts[i]:starts[i + 1]])
                with open(names[-1], "wb") as f:
                    f.write(data[starts[-1]:])
                if len(starts) > 1:
                    data = data[starts[-1]:]
                    names = names[-1:]

    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    with open(portfile + ".tmp", "w") as f:
        f.write(str(server.getsockname()[1]))
    os.rename(portfile + ".tmp", portfile)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
