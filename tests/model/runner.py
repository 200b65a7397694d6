"""Runs vexlor command lines: one process each, or all through one batch
process (tests/model/batch.cpp) that runs them as fresh processes would, for
the sanitized builds, whose every start is slow."""

import os
import select
import subprocess
import threading
import time


class Runner:
    """run(args, timeout) -> (stdout, exit status or "timeout")."""

    def __init__(self, vexlor, batch=None):
        self.vexlor = vexlor
        self.batch = batch
        self.local = threading.local()  # one batch process per thread
        self.lock = threading.Lock()
        self.processes = []

    def run(self, args, timeout):
        args = [os.fsencode(a) for a in args]
        if self.batch:
            return self._batched(args, timeout)
        try:
            p = subprocess.run([self.vexlor] + args, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=timeout)
        except subprocess.TimeoutExpired:
            return b"", "timeout"
        return p.stdout, p.returncode

    def _process(self):
        p = getattr(self.local, "process", None)
        if p is None or p.poll() is not None:
            p = subprocess.Popen([self.batch], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            self.local.process = p
            with self.lock:
                self.processes.append(p)
        return p

    def _read(self, p, n, deadline):
        data = b""
        fd = p.stdout.fileno()
        while len(data) < n:
            ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                raise TimeoutError
            chunk = os.read(fd, n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def _batched(self, args, timeout):
        p = self._process()
        request = b"%d\n" % len(args) + b"".join(b"%d\n" % len(a) + a for a in args)
        deadline = time.monotonic() + timeout
        try:
            p.stdin.write(request)
            p.stdin.flush()
            header = b""
            while not header.endswith(b"\n"):
                header += self._read(p, 1, deadline)
            status, out_len, err_len = (int(v) for v in header.split())
            out = self._read(p, out_len, deadline)
            self._read(p, err_len, deadline)
            return out, status
        except (TimeoutError, EOFError, BrokenPipeError):
            p.kill()
            p.wait()
            self.local.process = None
            return b"", "timeout" if time.monotonic() >= deadline else "crashed"

    def close(self):
        """Ends the batch processes; False when one of them did not end cleanly
        (a sanitizer's report at exit, a leak among them, ends it with an error)."""
        clean = True
        for p in self.processes:
            if p.poll() is None:
                p.stdin.close()
                p.wait()
                if p.returncode != 0:
                    print("batch process ended with status %d" % p.returncode)
                    clean = False
        return clean
