#!/usr/bin/env python3
"""Reads a recording's sound and picture as the end-to-end tests check them.

  sound.py streams FILE             video and audio: codec, rate, channels, duration (one line each)
  sound.py length FILE             the decoded sound's length in seconds
  sound.py tones FILE F1 F2 ...     per 50 ms window, which of the tones sound: a line of letters
                                    (a for F1, b for F2, ..., '.' for none)
  sound.py onset FILE FREQ [FROM]   the time (s) the tone FREQ first sounds from FROM s on
  sound.py change FILE [FROM]       the time (s) of the first frame from FROM s on that differs
                                    from the frame before it
"""
import math
import subprocess
import sys

RATE = 48000
WINDOW = RATE // 20  # 50 ms


def samples(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-f",
                          "s16le", "-ar", str(RATE), "-"], capture_output=True, check=True).stdout
    return memoryview(raw).cast("h")


def power(window, freq):
    """The tone's amplitude (0..1) in a window, by the Goertzel filter."""
    k = 2 * math.cos(2 * math.pi * freq / RATE)
    s1 = s2 = 0.0
    for x in window:
        s1, s2 = x / 32768.0 + k * s1 - s2, s1
    return 2 * math.sqrt(max(s1 * s1 + s2 * s2 - k * s1 * s2, 0.0)) / len(window)


def windows(data, start=0):
    for i in range(start, len(data) - WINDOW + 1, WINDOW):
        yield i, data[i:i + WINDOW]


def sounding(window, freq):
    return power(window, freq) > 0.05


def frames(path):
    """(time, small grey picture) of every frame as the file stores it."""
    times = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "frame=best_effort_timestamp_time", "-of", "csv=p=0", path],
                           capture_output=True, text=True, check=True).stdout.split()
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-vsync",
                          "passthrough", "-vf", "scale=32:32,format=gray", "-f", "rawvideo", "-"],
                         capture_output=True, check=True).stdout
    size = 32 * 32
    return [(float(t), raw[i * size:(i + 1) * size]) for i, t in enumerate(times)
            if (i + 1) * size <= len(raw)]


def main(argv):
    cmd, path = argv[1], argv[2]
    if cmd == "streams":
        out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                              "stream=codec_type,codec_name,sample_rate,channels,duration",
                              "-of", "csv=p=0", path], capture_output=True, text=True, check=True)
        print(out.stdout.strip())
    elif cmd == "length":
        print(f"{len(samples(path)) / RATE:.3f}")
    elif cmd == "tones":
        freqs = [float(f) for f in argv[3:]]
        line = []
        for _, w in windows(samples(path)):
            found = [chr(ord("a") + j) for j, f in enumerate(freqs) if sounding(w, f)]
            line.append("".join(found) if len(found) == 1 else ("." if not found else "+"))
        print("".join(line))
    elif cmd == "onset":
        freq, start = float(argv[3]), float(argv[4]) if len(argv) > 4 else 0.0
        data = samples(path)
        # 10 ms windows: the first one the tone fills a fifth of or more.
        step = RATE // 100
        for i in range(int(start * RATE), len(data) - step + 1, step):
            if power(data[i:i + step], freq) > 0.05:
                print(f"{i / RATE:.3f}")
                return 0
        print("none")
        return 1
    elif cmd == "change":
        start = float(argv[3]) if len(argv) > 3 else 0.0
        shots = frames(path)
        for (_, a), (t, b) in zip(shots, shots[1:]):
            if t >= start and sum(abs(x - y) for x, y in zip(a, b)) > 32 * 32 * 8:
                print(f"{t:.3f}")
                return 0
        print("none")
        return 1
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
