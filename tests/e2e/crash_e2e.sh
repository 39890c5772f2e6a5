#!/usr/bin/env bash
# A crash loses at most the last moment: record about 3 s, with No Compression and then with
# Microsoft Video 1, and kill the program's process at once each time, as a crash would. At the
# next start each file is rebuilt and reported once; it plays in ffmpeg, opens through the
# AVIFile API and keeps the frames that reached the disk; no recovery note is left.
source "$(dirname "$0")/lib.sh" "$@"
E2E_AVI_FRAMES=$(dirname "$E2E_PATTERN")/avi_frames.exe
e2e_open_over_pattern

# Whole frame chunks of an unfinished file: what reached the disk before the kill.
chunks_on_disk() {
    python3 - "$1" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
p = len(d) - len(d.lstrip(b"\0"))
n = 0
while p + 8 <= len(d) and d[p:p + 3] == b"00d":
    size = struct.unpack("<I", d[p + 4:p + 8])[0]
    if p + 8 + size > len(d):
        break
    p, n = p + 8 + size + (size & 1), n + 1
print(n)
PY
}

# Records for $1 seconds and kills the program; sets CRASHED to the file and ON_DISK.
record_and_crash() {
    local before
    before=$(ls "$E2E_REC")
    e2e_click_tool 1     # Record
    sleep "$1"
    pkill -9 -xf "$E2E_APP/quarnelby.exe" || fail "no program process to kill"
    e2e_wait_window_gone "Zo/quarnelby" 10 || fail "the killed program's window stays"
    CRASHED=$(comm -13 <(echo "$before") <(ls "$E2E_REC") | grep '\.avi$' | head -1)
    [ -n "$CRASHED" ] || fail "no recording file"
    [ -f "$E2E_REC/$CRASHED.recovering" ] || fail "no recovery note beside $CRASHED"
    ON_DISK=$(chunks_on_disk "$E2E_REC/$CRASHED")
    echo "$CRASHED: $ON_DISK frames on the disk after the kill"
    [ "$ON_DISK" -ge 20 ] || fail "only $ON_DISK frames reached the disk in ${1} s"
}

# Starts the program again: the report comes once, then the file is checked ($1: codec).
restart_and_check() {
    e2e_start_with_report "recovery report $1"
    [ ! -e "$E2E_REC/$CRASHED.recovering" ] || fail "the note of $CRASHED is left"
    local file=$E2E_REC/$CRASHED probe frames length
    probe=$(e2e_probe "$file" 2>"$E2E_WORK/probe.log") || fail "ffprobe cannot read $CRASHED"
    [ ! -s "$E2E_WORK/probe.log" ] || fail "ffprobe reports: $(head -3 "$E2E_WORK/probe.log")"
    echo "$probe"
    frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
    [ "$frames" -ge $((ON_DISK - 1)) ] || fail "$frames frames rebuilt of $ON_DISK on the disk"
    ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$file" | grep -qx "$1" ||
        fail "$CRASHED is not $1"
    ffmpeg -v error -i "$file" -f null - 2>"$E2E_WORK/decode.log"
    [ ! -s "$E2E_WORK/decode.log" ] || fail "ffmpeg reports: $(head -3 "$E2E_WORK/decode.log")"
    length=$("$E2E_WINE_RUN" --prefix "$E2E_PREFIX" "$E2E_AVI_FRAMES" "$(e2e_winpath "$file")" 2>/dev/null | tr -d '\r')
    [ "$length" = "$frames" ] || fail "AVIFile reads ${length:-nothing} frames, ffprobe $frames"
}

record_and_crash 3
restart_and_check rawvideo
e2e_wait_window "Zo/quarnelby" >/dev/null
sleep 1

e2e_choose_compressor m # Microsoft Video 1
record_and_crash 3
restart_and_check msvideo1
echo "PASS"
