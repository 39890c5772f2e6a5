# The virtual display and Wine, shared by the scripts and the end-to-end tests. Sourced:
#
#   source scripts/wine.sh
#   display_start -screen 0 1280x1024x24     # a private Xvfb; exports DISPLAY
#   wine_prefix DIR                          # exports WINEPREFIX ..., boots the prefix once
#   "$WINE64" program.exe ...
#   wine_stop DIR; display_stop              # its wineserver, then the display
#
# Only the 64-bit loader is called: the 32-bit one cannot run on these kernels, and once wine32
# is installed /usr/bin/wine picks it for every exe.
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
DISPLAY_PID=

# Starts Xvfb with the given screens and options on a display number of its own choosing and
# points DISPLAY (and QUARNELBY_DISPLAY, which scripts/wine-run takes) at it.
display_start() {
    local fifo num
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 "$@" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    DISPLAY_PID=$!
    read -r -t 20 num <"$fifo"
    rm -f "$fifo"
    [ -n "${num:-}" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$num QUARNELBY_DISPLAY=:$num
}

# Stops the display started by display_start, if any.
display_stop() {
    [ -n "$DISPLAY_PID" ] || return 0
    kill "$DISPLAY_PID" 2>/dev/null
    wait "$DISPLAY_PID" 2>/dev/null
    DISPLAY_PID=
}

# Stops the wineserver of the prefix $1 and with it every program running there.
wine_stop() { WINEPREFIX=$1 "$WINESERVER" -k >/dev/null 2>&1; }

# Uses the prefix $1 for the Wine programs started from here on, creating it the first time.
# Wine draws window frames itself and manages no window through a window manager (there is
# none in Xvfb): a window's X geometry is then its outer rectangle, its caption and borders can
# be seen and clicked, and hiding a window does not wait two seconds for a manager to answer.
wine_prefix() {
    [ -x "$WINE64" ] || { echo "$WINE64 not found (run scripts/setup)" >&2; return 2; }
    mkdir -p "$1"
    export WINEPREFIX WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
    WINEPREFIX=$(cd "$1" && pwd)
    # No Mono or Gecko installer dialogs.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    local mark=$WINEPREFIX/.quarnelby-prefix-2 value
    [ -f "$mark" ] && return 0
    # The lock keeps two first runs from booting the prefix at the same time.
    (
        flock 9
        [ -f "$mark" ] && exit 0
        [ -f "$WINEPREFIX/system.reg" ] || "$WINE64" wineboot -i >/dev/null 2>&1
        for value in Decorated Managed; do
            "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v $value /t REG_SZ /d N /f >/dev/null 2>&1
        done
        "$WINESERVER" -w
        touch "$mark"
    ) 9>"$WINEPREFIX.lock"
}

# The tests' sound server: a private PulseAudio with two null sinks, started before Wine's first
# sound call. Wine's winepulse.drv runs inside each Wine process and finds the server through the
# variables exported here (not through the wineserver, which may be older than the server):
#
#   sound_server_start            # exports XDG_RUNTIME_DIR, PULSE_SERVER, SOUND_OUTPUT_SINK, SOUND_INPUT_SINK
#   sound_play_tone "$SOUND_OUTPUT_SINK" 440 3 &   # what the computer plays
#   sound_play_tone "$SOUND_INPUT_SINK" 660 3 &    # what the microphone hears
#   sound_server_stop
#
# SOUND_OUTPUT_SINK is the default sink; the monitor of SOUND_INPUT_SINK is the default source (the
# default microphone). Wine 8 names the default output "PulseAudio": the output sink has that
# description, so its monitor, "Monitor of PulseAudio", is the capture device monitoring it.
SOUND_SERVER_PID=
SOUND_SERVER_DIR=

sound_server_start() {
    command -v pulseaudio >/dev/null || { echo "pulseaudio not found (run scripts/setup)" >&2; return 2; }
    local dir i
    dir=$(mktemp -d "${TMPDIR:-/tmp}/quarnelby-sound.XXXXXX") || return 1
    chmod 700 "$dir"
    SOUND_OUTPUT_SINK=quarnelby_output SOUND_INPUT_SINK=quarnelby_input
    cat >"$dir/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=$SOUND_OUTPUT_SINK sink_properties=device.description=PulseAudio
load-module module-null-sink sink_name=$SOUND_INPUT_SINK sink_properties=device.description=Microphone
set-default-sink $SOUND_OUTPUT_SINK
set-default-source $SOUND_INPUT_SINK.monitor
PA
    # Without DISPLAY: PulseAudio would start a D-Bus session through X11 that outlives it. HOME
    # keeps its cookie and state out of the user's.
    env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$dir" HOME="$dir" \
        pulseaudio -n -F "$dir/server.pa" --exit-idle-time=-1 --daemonize=no --use-pid-file=no \
        --log-target=file:"$dir/server.log" </dev/null >/dev/null 2>&1 &
    SOUND_SERVER_PID=$!
    SOUND_SERVER_DIR=$dir
    # PULSE_SERVER alone names the server to every client; XDG_RUNTIME_DIR points to it as well.
    export XDG_RUNTIME_DIR=$dir PULSE_SERVER=unix:$dir/pulse/native SOUND_OUTPUT_SINK SOUND_INPUT_SINK
    for ((i = 0; i < 100; i++)); do
        pactl info >/dev/null 2>&1 && return 0
        kill -0 "$SOUND_SERVER_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "the sound server did not start (see $dir/server.log)" >&2
    sound_server_stop
    return 1
}

# Stops the server started by sound_server_start and removes its folder.
sound_server_stop() {
    [ -n "$SOUND_SERVER_PID" ] || return 0
    kill "$SOUND_SERVER_PID" 2>/dev/null
    wait "$SOUND_SERVER_PID" 2>/dev/null
    rm -rf "$SOUND_SERVER_DIR"
    SOUND_SERVER_PID= SOUND_SERVER_DIR=
}

# Plays a sine tone of FREQ Hz for SECONDS into SINK at a fifth of full scale, so that a few tones
# together never clip (returns when it has played).
sound_play_tone() {
    sox -V1 -n -r 48000 -c 2 -b 16 -t wav - synth "$3" sine "$2" vol 0.2 | paplay -d "$1"
}

# Removes the sink SINK (its monitor source goes with it), as when a device is unplugged.
sound_sink_unload() {
    local module
    module=$(pactl list short modules | awk -v arg="sink_name=$1" '$2 == "module-null-sink" && index($0, arg) {print $1}')
    [ -n "$module" ] && pactl unload-module "$module"
}

# Adds the null sink SINK again with the description DESCRIPTION, as when a device is plugged in.
sound_sink_load() {
    pactl load-module module-null-sink sink_name="$1" sink_properties=device.description="$2" >/dev/null
}
