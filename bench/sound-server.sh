# Sourced by the benchmark scripts: a private work folder and a private PulseAudio server with a
# null sink "zarncd_bench", kept busy by a silent stream so that its latency is that of a
# playing desktop; everything started is ended, the last first, when the script exits.
#   NAME: the script's name, for its messages.   Sets: work, pids; exports the server's address.
work=$(mktemp -d "/tmp/zarncd-$NAME-XXXXXX")
chmod 700 "$work"
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$work HOME=$work DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
export PULSE_SERVER=unix:$work/pulse/native
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  --load="module-null-sink sink_name=zarncd_bench" \
  --load="module-native-protocol-unix auth-anonymous=1" 2>/dev/null &
pids+=($!)
for _ in $(seq 200); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl info >/dev/null 2>&1 || { echo "$NAME: the sound server did not start" >&2; exit 1; }
pacat --playback --raw --latency-msec=20 -d zarncd_bench </dev/zero 2>/dev/null &
pids+=($!)
