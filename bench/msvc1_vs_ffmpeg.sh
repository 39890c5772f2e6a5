#!/usr/bin/env bash
# Size, speed and picture quality of our Microsoft Video 1 encoder against ffmpeg's msvideo1
# encoder on the same synthetic screen frames (60 frames, key frame every 5).
#
#   bench/msvc1_vs_ffmpeg.sh [WIDTHxHEIGHT] [QUALITY]     (needs the native build)
set -eu
cd "$(dirname "$0")/.."
size=${1:-640x480}
quality=${2:-6550}
frames=60
out=bench/out
mkdir -p "$out"
bench=build/native/bench/msvc1_bench
[ -x "$bench" ] || { cmake --preset native >/dev/null && cmake --build --preset native --target msvc1_bench >/dev/null; }

echo "== ours"
"$bench" "$size" "$quality" "$out/scene.bgr0"

echo "== ffmpeg -c:v msvideo1"
start=$(date +%s.%N)
ffmpeg -v error -y -f rawvideo -pix_fmt bgr0 -s "$size" -r 10 -i "$out/scene.bgr0" \
    -c:v msvideo1 -g 5 "$out/ffmpeg_msvideo1.avi"
end=$(date +%s.%N)
bytes=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 \
    "$out/ffmpeg_msvideo1.avi" | awk '{ s += $1; n++ } END { printf "%.0f", s / n }')
ffmpeg -v error -y -i "$out/ffmpeg_msvideo1.avi" -f rawvideo -pix_fmt bgr0 "$out/ffmpeg_decoded.bgr0"
w=${size%x*}
h=${size#*x}
echo "  bytes/frame: $bytes (uncompressed 32 bpp $((w * h * 4)))"
awk -v s="$start" -v e="$end" -v n="$frames" \
    'BEGIN { printf "  encode: %.2f ms/frame (whole ffmpeg run, input conversion included)\n", (e - s) * 1000 / n }'
"$bench" --psnr "$size" "$out/ffmpeg_decoded.bgr0"
