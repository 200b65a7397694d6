#!/usr/bin/env python3
"""What each vexlor command costs to start.

For each command: the median wall time of its runs and the number of shared
libraries it maps (those the dynamic linker initialises, the modules a
command opens included): commands that need no video, one 1080p picture and
one 1080p frame, and `apply` on a 10-second 1080p H.264 clip. A trivial
program (/bin/true) is timed as the floor of any start.

Usage: start_bench.py VEXLOR [OTHER_VEXLOR ...]   (others: builds to compare)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = "1920x1080"
SWAP = "rd=bs;gd=gs;bd=rs;"
GRAY = "y=0.299*rs+0.587*gs+0.114*bs;rd=y;gd=y;bd=y;"


def make_media(work):
    """A 1080p photograph as a PNG and as one raw frame, and a 10 s clip."""
    frame = os.path.join(work, "frame.raw")
    subprocess.run([os.path.join(HERE, "make_clip.sh"), frame, "1", SIZE], check=True)
    ffmpeg = ["ffmpeg", "-nostdin", "-v", "error"]
    subprocess.run(ffmpeg + ["-f", "rawvideo", "-pix_fmt", "bgra", "-s", SIZE, "-i", frame,
                             "-frames:v", "1", os.path.join(work, "photo.png")], check=True)
    subprocess.run(ffmpeg + ["-f", "lavfi", "-i", f"testsrc2=size={SIZE}:rate=25", "-t", "10",
                             "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                             os.path.join(work, "clip.mp4")], check=True)
    return frame


def cases(work):
    """(name, runs, arguments after the binary)."""
    out = lambda name: os.path.join(work, name)
    return [
        ("--version", 50, ["--version"]),
        ("--help", 50, ["--help"]),
        ("pixel", 50, ["pixel", SWAP]),
        ("test", 50, ["test", SWAP]),
        ("check", 50, ["check", SWAP]),
        ("apply picture", 20, ["apply", "--quiet", GRAY, out("photo.png"), out("out.png")]),
        ("stream frame", 20, ["stream", "--quiet", "--size", SIZE, GRAY]),
        ("apply video", 3, ["apply", "--quiet", GRAY, out("clip.mp4"), out("out.mp4")]),
    ]


def run(argv, stdin_path, env=None):
    with open(stdin_path, "rb") as stdin:
        return subprocess.run(argv, stdin=stdin, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, env=env)


def median_ms(argv, runs, stdin_path):
    times = []
    for _ in range(runs + 1):  # the first run warms the caches and is not counted
        start = time.perf_counter()
        run(argv, stdin_path)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times[1:])


def libraries(argv, stdin_path):
    env = dict(os.environ, LD_DEBUG="libs")
    err = run(argv, stdin_path, env).stderr.decode(errors="replace")
    return err.count("calling init:")


def main():
    binaries = sys.argv[1:]
    if not binaries:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as work:
        frame = make_media(work)
        print(f"/bin/true: {median_ms(['/bin/true'], 50, frame):.1f} ms, "
              f"{libraries(['/bin/true'], frame)} libraries")
        print("| command | " + " | ".join(f"{b}: ms | libraries" for b in binaries) + " |")
        print("|---|" + "---|---|" * len(binaries))
        for name, runs, args in cases(work):
            cells = []
            for binary in binaries:
                argv = [binary] + args
                cells.append(f"{median_ms(argv, runs, frame):.1f} | {libraries(argv, frame)}")
            print(f"| {name} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
