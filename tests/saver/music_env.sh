# Sourced by the music tests: a private home, runtime and temporary folder in $work, a
# private PulseAudio server with a null sink as the default output, and $work/tune.wav (4 s
# of a 440 Hz tone, 176 KiB). Exit 77 skips where PulseAudio is not installed. The caller's
# EXIT trap calls stop_private_pulse.
stop_private_pulse() { pulseaudio --kill 2>/dev/null || true; }
command -v pulseaudio >/dev/null && command -v pactl >/dev/null || exit 77
export HOME=$work XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp
mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$TMPDIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=stderr \
  -L "module-native-protocol-unix" -L "module-null-sink sink_name=null" \
  -L "module-always-sink" 2>"$work/pulse.log" || { cat "$work/pulse.log"; exit 1; }
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink null
python3 - "$work/tune.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(22050)
    w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i * 2 * math.pi * 440 / 22050)))
                           for i in range(22050 * 4)))
PY
