#!/usr/bin/env python3
"""Plays a recording in headless chromium, in a <video> element as a web page would.

  browser.py [--sound] VIDEO OUT.png
      prints "DURATION WIDTHxHEIGHT" (seconds) and writes the first picture, drawn onto a canvas,
      to OUT.png; exits 1 when the page reports an error or nothing. With --sound it also prints
      the bytes of sound the browser decoded before it could play, and exits 1 when there are none.
"""
import base64
import os
import re
import shutil
import subprocess
import sys
import tempfile

PAGE = """<!doctype html>
<html><body><pre id="result"></pre><video id="video" muted preload="auto"></video><canvas></canvas>
<script>
const result = document.getElementById('result'), video = document.getElementById('video');
video.onerror = () => { result.textContent = 'error ' + video.error.code; };
video.oncanplay = () => {
  video.oncanplay = null;
  const canvas = document.querySelector('canvas');
  canvas.width = video.videoWidth;
  canvas.height = video.videoHeight;
  canvas.getContext('2d').drawImage(video, 0, 0);
  result.textContent = video.duration + ' ' + video.videoWidth + 'x' + video.videoHeight + ' ' +
                       video.webkitAudioDecodedByteCount + ' ' + canvas.toDataURL('image/png');
};
video.src = 'VIDEO';
</script></body></html>
"""


def main(video, out, sound=False):
    work = tempfile.mkdtemp()
    try:
        shutil.copy(video, os.path.join(work, "video.mp4"))
        with open(os.path.join(work, "page.html"), "w") as f:
            f.write(PAGE.replace("VIDEO", "video.mp4"))
        # Virtual time lets the media events run at once; a file page may read (and draw) another
        # file only with the last switch.
        run = subprocess.run(
            ["timeout", "60", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-quic", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", f"--user-data-dir={work}/profile",
             "--virtual-time-budget=5000", "--allow-file-access-from-files", "--dump-dom",
             f"file://{work}/page.html"], capture_output=True, text=True)
        found = re.search(r'<pre id="result">([^<]*)</pre>', run.stdout)
        words = found.group(1).split() if found else []
        if len(words) != 4 or not words[3].startswith("data:image/png;base64,"):
            print(" ".join(words) or f"no result (exit {run.returncode}): {run.stderr[-300:]}")
            return 1
        with open(out, "wb") as f:
            f.write(base64.b64decode(words[3].split(",", 1)[1]))
        if not sound:
            print(words[0], words[1])
            return 0
        print(words[0], words[1], f"{words[2]} bytes of sound decoded")
        return 0 if int(words[2]) > 0 else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    args = sys.argv[1:]
    sound = args[:1] == ["--sound"]
    sys.exit(main(*args[sound:sound + 2], sound=sound))
