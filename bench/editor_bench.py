#!/usr/bin/env python3
"""What the editor's answers cost on 1080p media, as the page asks for them.

- photo edit: one edit of the program on a 1920x1080 photograph, the time
  from the request to the last byte of the picture: the JPEG preview the page
  asks for while typing (sized to a pane of PANE device pixels) and, for
  comparison, the exact PNG it asks for at rest;
- frame steps on a 10-second 1080p H.264 clip (25 frames/s, key frames as
  x264 places them by default: up to 250 frames apart, so the whole clip may
  be one run of frames from its first key frame): a step forward, a step back
  after a jump, and a jump to a frame far from the last, each the source and
  the filtered preview fetched together as the page does; and the jumps again
  on the same clip with a key frame every 2 seconds, as cameras and phones
  record.

The media are made at run time with ffmpeg. Prints the median and the range
of each case.

Usage: editor_bench.py VEXLOR [ROUNDS]
"""
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = "1920x1080"
PANE = (860, 700)  # a pane of the page at 1440x900, in device pixels
FFMPEG = ["ffmpeg", "-nostdin", "-v", "error", "-y"]


def make_media(work):
    """A 1080p photograph (the benchmark clip's first frame when its picture
    is installed, else a test pattern) and a 10 s 1080p H.264 clip."""
    photo = os.path.join(work, "photo.png")
    raw = os.path.join(work, "frame.raw")
    made = subprocess.run([os.path.join(HERE, "make_clip.sh"), raw, "1", SIZE],
                          stderr=subprocess.DEVNULL).returncode == 0
    if made:
        subprocess.run(FFMPEG + ["-f", "rawvideo", "-pix_fmt", "bgra", "-s", SIZE, "-i", raw,
                                 "-frames:v", "1", photo], check=True)
    else:
        subprocess.run(FFMPEG + ["-f", "lavfi", "-i", f"testsrc2=size={SIZE}", "-frames:v", "1",
                                 photo], check=True)
    clips = []
    for name, keys in (("clip.mp4", []), ("clip-2s.mp4", ["-g", "50"])):
        clips.append(os.path.join(work, name))
        subprocess.run(FFMPEG + ["-f", "lavfi", "-i", f"testsrc2=size={SIZE}:rate=25", "-t", "10",
                                 "-c:v", "libx264", "-preset", "veryfast", *keys,
                                 "-pix_fmt", "yuv420p", clips[-1]], check=True)
    return photo, clips


class Server:
    """vexlor serve on an input, at the address it prints."""

    def __init__(self, vexlor, path):
        self.proc = subprocess.Popen([vexlor, "serve", "--port", "0", path],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        self.url = line[line.index("http://"):line.index("/ (") + 1]

    def get(self, path):
        with urllib.request.urlopen(self.url + path.lstrip("/")) as r:
            return r.read()

    def post(self, path, body):
        req = urllib.request.Request(self.url + path.lstrip("/"), json.dumps(body).encode(),
                                     {"Content-Type": "application/json"})
        with urllib.request.urlopen(req) as r:
            return r.read()

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def preview(box):
    return {"format": "jpeg", "maxWidth": box[0], "maxHeight": box[1]}


def timed(fn):
    start = time.perf_counter()
    fn()
    return (time.perf_counter() - start) * 1000


def together(*fns):
    """Runs the functions at once, as the page's two requests go."""
    threads = [threading.Thread(target=f) for f in fns]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def box_for(width, height):
    """The preview box of a fitted picture in the pane."""
    k = min(PANE[0] / width, PANE[1] / height, 1)
    return (max(1, round(width * k)), max(1, round(height * k)))


def photo_edits(server, rounds):
    edits = [f"k={0.5 + i / (2 * rounds):.4f};rd=rs*k;gd=gs;bd=sin(bs*pi)*k;" for i in range(rounds)]
    box = box_for(1920, 1080)
    jpeg = [timed(lambda p=p: server.post("/api/render", {"program": p, "clamp": True, **preview(box)}))
            for p in edits]
    png = [timed(lambda p=p: server.post("/api/render", {"program": p, "clamp": True}))
           for p in edits]
    return {"photo edit, JPEG preview": jpeg, "photo edit, exact PNG": png}


def frame_steps(server, rounds, frames):
    box = box_for(1920, 1080)
    program = "y=0.299*rs+0.587*gs+0.114*bs;rd=y;gd=y;bd=y;"

    def show(n):
        together(lambda: server.get(f"/api/source?frame={n}&format=jpeg&maxWidth={box[0]}&maxHeight={box[1]}"),
                 lambda: server.post("/api/render", {"program": program, "clamp": True, "frame": n,
                                                     **preview(box)}))

    rng = random.Random(1)
    forward, back, jumps = [], [], []
    at = 0
    show(at)
    for _ in range(rounds):
        # A jump far from the last frame, then steps back and forth from there.
        target = rng.randrange(20, frames - 20)
        while abs(target - at) < 40:
            target = rng.randrange(20, frames - 20)
        jumps.append(timed(lambda: show(target)))
        for i in range(1, 4):
            back.append(timed(lambda i=i: show(target - i)))
        at = target - 3
        for i in range(1, 4):
            forward.append(timed(lambda i=i: show(at + i)))
        at += 3
    return {"step forward": forward, "step back after a jump": back, "jump": jumps}


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    vexlor = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    with tempfile.TemporaryDirectory() as work:
        photo, (clip, clip2s) = make_media(work)
        results = {}
        server = Server(vexlor, photo)
        try:
            server.post("/api/render", {"program": "rd=rs;gd=gs;bd=bs;"})  # warm up
            results.update(photo_edits(server, rounds))
        finally:
            server.stop()
        server = Server(vexlor, clip)
        try:
            frames = json.loads(server.get("/api/info"))["frames"]
            results.update(frame_steps(server, rounds, frames))
        finally:
            server.stop()
        server = Server(vexlor, clip2s)
        try:
            frames = json.loads(server.get("/api/info"))["frames"]
            results["jump, key frames every 2 s"] = frame_steps(server, rounds, frames)["jump"]
        finally:
            server.stop()
    print(f"{'case':28} {'median ms':>10} {'min':>8} {'max':>8} {'n':>4}")
    for name, times in results.items():
        print(f"{name:28} {statistics.median(times):10.1f} {min(times):8.1f} {max(times):8.1f} "
              f"{len(times):4d}")


if __name__ == "__main__":
    main()
