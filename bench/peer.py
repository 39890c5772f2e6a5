#!/usr/bin/env python3
"""The peer's side of the benchmark: ffmpeg on the same display, region and scene.

  peer.py live  --display :N --region WxH --bpp B --seconds S --work DIR --json FILE
  peer.py gdigrab --display :N --region WxH --bpp B --seconds S --work DIR --json FILE
          --prefix WINEPREFIX --ffmpeg-exe FFMPEG.exe
  peer.py cost --display :N --region WxH --bpp B --seconds S --work DIR --json FILE
          --prefix WINEPREFIX --ffmpeg-exe FFMPEG.exe --bench-exe quarnelby_bench.exe
  peer.py codec --source SRC.avi --ours OURS.avi --h264 OURS.mp4 --i420 OURS.yuv --bpp B
          --region WxH --work DIR --json FILE [--scene NAME] [--zmbv-frames N]

live:  ffmpeg -f x11grab grabbing as fast as it can (raw video, msvideo1, zmbv) into AVI files;
       frames per second between the first and the last frame, bytes per frame.
gdigrab: ffmpeg's own Windows build (ffmpeg.exe 4.1) under the same Wine, grabbing the same
       region through GDI as fast as it can (raw video, msvideo1).
cost:  CPU time (user + system) per recorded second at the defaults, 10 frames per second of
       Microsoft Video 1, for our engine and for gdigrab, read from /proc over a window that
       leaves out start-up and the end.
codec: ffmpeg's msvideo1 and zmbv encoders on the frames our engine recorded (SRC.avi), encode
       time per frame from ffmpeg's own per-call benchmark, bytes per frame, PSNR against the
       source; the same PSNR measurement for our encoders' files (OURS.avi, OURS.mp4). Then
       libx264 at the presets veryfast and ultrafast on the I420 pictures our H.264 encoder coded
       (OURS.yuv), at the CRF whose PSNR comes nearest to our H.264's.
Appends one JSON object per figure (one per line) to FILE.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time

FFMPEG = ["ffmpeg", "-hide_banner", "-nostdin", "-y"]

LIVE_CODECS = [
    ("rawvideo", []),
    ("msvideo1", ["-g", "5"]),
    ("zmbv", ["-g", "5"]),
]


def emit(path, figure):
    line = json.dumps(figure, sort_keys=False)
    with open(path, "a", encoding="utf-8") as f:
        f.write(line + "\n")
    print(line, flush=True)


def packets(path):
    """(pts seconds, size) of every non-empty video packet of the file."""
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
         "packet=pts_time,dts_time,size", "-of", "csv=p=0", path],
        capture_output=True, text=True, check=False).stdout
    result = []
    for line in out.splitlines():
        parts = line.strip().split(",")
        if len(parts) < 3:
            continue
        pts, dts, size = parts[0], parts[1], parts[2]
        t = pts if pts not in ("", "N/A") else dts
        try:
            t, size = float(t), int(size)
        except ValueError:
            continue
        if size > 0:
            result.append((t, size))
    return result


def live_rates(args, kind, codecs, command, env=None):
    """Records with each encoder as fast as the grabber goes: frames per second, bytes per
    frame."""
    for codec, extra in codecs:
        out = os.path.join(args.work, f"{kind}_{codec}.avi")
        figure = {"figure": kind, "encoder": codec, "region": args.region,
                  "bpp": args.bpp, "duration_ms": int(args.seconds * 1000)}
        start = time.monotonic()
        run = subprocess.run(command(codec, extra, out), capture_output=True, text=True,
                             check=False, env=env)
        figure["wall_ms"] = round((time.monotonic() - start) * 1000)
        pk = packets(out)
        if run.returncode != 0 or len(pk) < 2:
            figure["error"] = (run.stderr.strip().splitlines() or ["no frames"])[-1]
        else:
            # The input's timestamps are wall-clock time and -t cuts the output at that much of
            # it, so the frames written over the duration are the rate it sustained. (The AVI
            # file's own positions cannot tell: at 1 ms apiece, frames that came faster are
            # pushed along.)
            figure["frames"] = len(pk)
            figure["fps"] = len(pk) / args.seconds
            figure["bytes_per_frame"] = sum(s for _, s in pk) / len(pk)
        emit(args.json, figure)
        if os.path.exists(out):
            os.remove(out)


def live(args):
    w, h = args.region.split("x")
    # Asking for 1000 frames per second makes x11grab grab without waiting; passthrough keeps
    # its wall-clock timestamps instead of duplicating or dropping frames.
    live_rates(args, "x11grab", LIVE_CODECS, lambda codec, extra, out: FFMPEG + [
        "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "1", "-framerate", "1000",
        "-video_size", f"{w}x{h}", "-i", f"{args.display}+0,0", "-t", str(args.seconds),
        "-fps_mode", "passthrough", "-c:v", codec] + extra + [out])


WINE = "/usr/lib/wine/wine64"

GDIGRAB_CODECS = [
    ("rawvideo", []),
    ("msvideo1", ["-g", "5"]),
]


def wine_env(args):
    env = dict(os.environ)
    env.update({"WINEPREFIX": os.path.abspath(args.prefix), "WINEARCH": "win64",
                "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
                "DISPLAY": args.display})
    return env


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def gdigrab_cmd(args, codec, extra, rate, seconds, out, size=None):
    w, h = (size or args.region).split("x")
    # ffmpeg 4.1 spells the timestamp pass-through -vsync; it keeps the grab times instead of
    # duplicating or dropping frames to a constant rate.
    return [WINE, args.ffmpeg_exe, "-hide_banner", "-nostdin", "-y", "-loglevel", "error",
            "-f", "gdigrab", "-draw_mouse", "1", "-framerate", str(rate),
            "-offset_x", "0", "-offset_y", "0", "-video_size", f"{w}x{h}", "-i", "desktop",
            "-t", str(seconds), "-vsync", "passthrough", "-c:v", codec] + extra + [winpath(out)]


def gdigrab(args):
    live_rates(args, "gdigrab", GDIGRAB_CODECS,
               lambda codec, extra, out: gdigrab_cmd(args, codec, extra, 1000, args.seconds, out),
               wine_env(args))


def cpu_seconds(pid):
    """User + system CPU seconds of a process so far, from /proc."""
    with open(f"/proc/{pid}/stat", encoding="ascii") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure_cost(cmd, env, seconds):
    """CPU seconds per second of a running process over `seconds`, after 2 s of start-up."""
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            text=True)
    try:
        time.sleep(2)
        start, t0 = cpu_seconds(proc.pid), time.monotonic()
        time.sleep(seconds)
        used, span = cpu_seconds(proc.pid) - start, time.monotonic() - t0
    except (OSError, IndexError, ValueError):
        used, span = None, None
    _, err = proc.communicate(timeout=120)
    if proc.returncode != 0 or used is None:
        return None, (err.strip().splitlines() or [f"exit code {proc.returncode}"])[-1]
    return used / span, None


def multiple_of_4(region):
    """Microsoft Video 1 codes 4x4 blocks: the frame size our engine's probe settles on (sides
    rounded up to multiples of 4), which ffmpeg's encoder needs given."""
    w, h = (int(v) for v in region.split("x"))
    return f"{(w + 3) // 4 * 4}x{(h + 3) // 4 * 4}"


def cost(args):
    total = args.seconds + 4
    runs = [
        ("ours", [WINE, args.bench_exe, "--region", f"{args.region}+0+0", "--dir",
                  winpath(args.work), "--record-only", str(int(total * 1000))]),
        ("gdigrab msvideo1", gdigrab_cmd(args, "msvideo1", ["-g", "5"], 10, total,
                                         os.path.join(args.work, "cost_gdigrab.avi"),
                                         multiple_of_4(args.region))),
    ]
    for recorder, cmd in runs:
        figure = {"figure": "cost", "recorder": recorder, "region": args.region, "bpp": args.bpp,
                  "capture_interval_ms": 100, "window_ms": int(args.seconds * 1000)}
        per_second, error = measure_cost(cmd, wine_env(args), args.seconds)
        if error:
            figure["error"] = error
        else:
            figure["cpu_ms_per_second"] = per_second * 1000
        emit(args.json, figure)
    path = os.path.join(args.work, "cost_gdigrab.avi")
    if os.path.exists(path):
        os.remove(path)


def psnr(decoded, source, shortest=False):
    """Mean PSNR in dB over all frames (None for identical pictures), ffmpeg's psnr filter,
    both sides converted to 8-bit BGR0. shortest: over the decoded frames only, when they are
    the source's first ones (otherwise the last is compared again with every later one)."""
    run = subprocess.run(
        FFMPEG + ["-i", decoded, "-i", source, "-lavfi",
                  "[0:v]format=bgr0[a];[1:v]format=bgr0[b];[a][b]psnr"
                  + ("=shortest=1" if shortest else ""), "-f", "null", "-"],
        capture_output=True, text=True, check=False)
    m = re.search(r"PSNR r:\S+ g:\S+ b:\S+ average:(\S+)", run.stderr)
    if not m:
        return None, "no PSNR from ffmpeg"
    value = m.group(1)
    return (None if value == "inf" else float(value)), None


def ffmpeg_encode(source_args, codec_args, out):
    """Encodes with ffmpeg: (encode ms per frame from -benchmark_all, packets, error). The time
    sums every encoder call, the calls that drain a delaying encoder at the end included."""
    run = subprocess.run(
        FFMPEG + ["-benchmark_all"] + source_args + ["-fps_mode", "passthrough"] + codec_args
        + [out], capture_output=True, text=True, check=False)
    # -benchmark_all reports every encoder call in microseconds of real time.
    calls = [int(m.group(1)) for m in
             re.finditer(r"bench:\s+\d+ user\s+\d+ sys\s+(\d+) real (?:encode|flush)_video",
                         run.stderr)]
    pk = packets(out) if os.path.exists(out) else []
    if run.returncode != 0 or not pk:
        return None, pk, (run.stderr.strip().splitlines() or ["no frames"])[-1]
    return (sum(calls) / 1000.0 / len(pk) if calls else None), pk, None


# libx264 at 4:2:0 in BT.709 limited range, as ours; one thread, as ours codes with one; a key
# frame at most every 10 s of the 10 frames a second, as ours.
X264_PRESETS = ["veryfast", "ultrafast"]


def x264_args(preset, crf):
    return ["-c:v", "libx264", "-preset", preset, "-crf", str(crf), "-g", "100", "-threads", "1",
            "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709",
            "-color_range", "tv"]


def nearest_crf(measure, target, start):
    """The CRF (0..51) whose PSNR comes nearest to target, found from `start` by steps that
    follow the PSNR's slope; measure(crf) gives (psnr, anything). PSNR falls as the CRF rises, so
    the search ends once two neighbouring CRFs lie on either side of the target. Returns (crf,
    its result, {crf: psnr} of every CRF tried)."""
    tried, results = {}, {}
    crf, slope = max(0, min(51, start)), -0.35  # dB per CRF step until two points say better
    for _ in range(6):
        psnr, result = measure(crf)
        if psnr is None:
            break
        tried[crf], results[crf] = psnr, result
        above = [c for c in tried if tried[c] >= target]
        below = [c for c in tried if tried[c] < target]
        if above and below and min(below) - max(above) == 1:
            break
        if len(tried) >= 2:
            (c1, p1), (c2, p2) = sorted(tried.items(), key=lambda kv: abs(kv[1] - target))[:2]
            if c1 != c2 and p1 != p2:
                slope = min(-0.05, (p1 - p2) / (c1 - c2))
        step = round((target - psnr) / slope)
        step = max(-8, min(8, step)) or (1 if psnr > target else -1)
        nxt = max(0, min(51, crf + step))
        # Between the nearest CRFs known to lie on either side, never beyond them.
        if above and below:
            nxt = max(max(above) + 1, min(min(below) - 1, nxt))
        while nxt in tried and 0 < nxt < 51:
            nxt += 1 if psnr > target else -1
        if nxt in tried:
            break
        crf = nxt
    if not tried:
        return None, None, tried
    best = min(tried, key=lambda c: (abs(tried[c] - target), c))
    return best, results[best], tried


def earlier_crf(path, preset, bpp, scene):
    """The CRF an earlier region of this run chose for the preset, scene and depth: the search
    starts there."""
    crf = None
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                try:
                    fig = json.loads(line)
                except ValueError:
                    continue
                if (fig.get("figure") == "codec" and fig.get("encoder") == "ffmpeg libx264 " + preset
                        and fig.get("bpp") == bpp and fig.get("scene") == scene
                        and fig.get("crf") is not None):
                    crf = fig["crf"]
    return crf


def codec(args):
    src_frames = len(packets(args.source))
    base = {"region": args.region, "bpp": args.bpp, "scene": args.scene}
    for encoder, extra, frames in [("msvideo1", ["-g", "5"], None),
                                   ("zmbv", ["-g", "5"], args.zmbv_frames)]:
        out = os.path.join(args.work, f"codec_{encoder}.avi")
        figure = {"figure": "codec", "encoder": f"ffmpeg {encoder}", **base}
        limit = ["-frames:v", str(frames)] if frames else []
        ms, pk, error = ffmpeg_encode(["-i", args.source], ["-c:v", encoder] + extra + limit, out)
        if error:
            figure["error"] = error
            emit(args.json, figure)
            continue
        figure["frames"] = len(pk)
        figure["source_frames"] = src_frames
        figure["bytes_per_frame"] = sum(s for _, s in pk) / len(pk)
        figure["encode_mean_ms"] = ms
        value, error = psnr(out, args.source, shortest=bool(frames))
        figure["psnr_db"] = value
        figure["lossless"] = value is None and error is None
        if error:
            figure["error"] = error
        emit(args.json, figure)
        os.remove(out)

    # Our encoders' files, measured the same way: ffmpeg decodes them and compares.
    ours_h264 = None
    for encoder, path in (("ours msvc1", args.ours), ("ours h264", args.h264)):
        if not path:
            continue
        value, error = psnr(path, args.source)
        figure = {"figure": "codec_check", "encoder": encoder, **base,
                  "frames": len(packets(path)), "ffmpeg_psnr_db": value}
        if error or value is None:
            figure["error"] = error or "decoded frames are identical to the source"
        if figure["frames"] != src_frames:
            figure["error"] = f"{figure['frames']} frames of the source's {src_frames}"
        if encoder == "ours h264" and "error" not in figure:
            ours_h264 = value
        emit(args.json, figure)

    # libx264 on the very I420 pictures our H.264 encoder coded, so that both start from the
    # same 4:2:0 pictures; its PSNR is measured against the RGB source, as ours is.
    if not args.i420:
        return
    w, h = args.region.split("x")
    yuv = ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-video_size", f"{w}x{h}", "-framerate", "10",
           "-i", args.i420]
    for preset in X264_PRESETS:
        figure = {"figure": "codec", "encoder": "ffmpeg libx264 " + preset, **base}
        out = os.path.join(args.work, f"codec_x264_{preset}.mp4")
        errors = []

        def measure(crf):
            ms, pk, error = ffmpeg_encode(yuv, x264_args(preset, crf), out)
            value = None
            if not error:
                value, error = psnr(out, args.source)
                error = error or (None if value else "decoded frames are identical to the source")
            if error:
                errors.append(error)
                return None, None
            return value, {"encode_mean_ms": ms, "frames": len(pk),
                           "bytes_per_frame": sum(s for _, s in pk) / len(pk)}

        if ours_h264 is None:
            figure["error"] = "no PSNR of our H.264 to match"
        else:
            start = earlier_crf(args.json, preset, args.bpp, args.scene) or 23
            crf, result, tried = nearest_crf(measure, ours_h264, start)
            figure["target_psnr_db"] = ours_h264
            figure["crf_tried"] = {str(c): round(p, 3) for c, p in sorted(tried.items())}
            if crf is None:
                figure["error"] = (errors or ["no CRF could be measured"])[-1]
            else:
                figure.update(crf=crf, psnr_db=tried[crf], source_frames=src_frames, **result)
        emit(args.json, figure)
        if os.path.exists(out):
            os.remove(out)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=["live", "gdigrab", "cost", "codec"])
    p.add_argument("--display")
    p.add_argument("--region", required=True)
    p.add_argument("--bpp", type=int, required=True)
    p.add_argument("--seconds", type=float, default=3)
    p.add_argument("--source")
    p.add_argument("--ours")
    p.add_argument("--h264")
    p.add_argument("--i420")
    p.add_argument("--scene", default="moving")
    p.add_argument("--zmbv-frames", type=int, default=0)
    p.add_argument("--work", required=True)
    p.add_argument("--json", required=True)
    p.add_argument("--prefix")
    p.add_argument("--ffmpeg-exe")
    p.add_argument("--bench-exe")
    args = p.parse_args()
    {"live": live, "gdigrab": gdigrab, "cost": cost, "codec": codec}[args.mode](args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
