#!/usr/bin/env bash
# Playback cost and latency. Plays the demo disc for 60 s with the player's playback engine
# and then the same audio, as a WAV file, with mpv (the yardstick) and paplay (the floor: a bare
# copy to the server), each against a private
# PulseAudio null sink kept awake by a silent stream; prints the CPU seconds and peak RSS of
# each and their ratios; then the CPU of the whole program, its windows and the see-through
# window up under Xvfb, playing as long; the same for a rip of one FLAC file per track with its
# CUE sheet. Then the medians of 10 Play -> first sound heard and 10 Next -> new track heard,
# measured on the sink's monitor.
#
#   bench/playback.sh BUILD_DIR      (a release build; BENCH_SECONDS changes the 60 s)
set -euo pipefail
build=${1:-build/release}
probe=$build/bench/bench_playback_probe
demo=$build/tools/make-demo-disc/demo.cue
seconds=${BENCH_SECONDS:-60}
if [[ ! -x $probe || ! -f $demo ]]; then
  echo "playback: $probe or $demo is missing; build $build first" >&2
  exit 1
fi
for tool in pulseaudio pactl pacat parec; do
  command -v $tool >/dev/null || { echo "playback: $tool is not installed" >&2; exit 1; }
done

NAME=playback
source "$(dirname "$0")/sound-server.sh"

"$probe" --wav "$demo" "$work/demo.wav"

measure() {  # name, command...: user+system CPU seconds and peak RSS (kB) into $work/name
  local name=$1
  shift
  /usr/bin/time -f "%U %S %M" -o "$work/$name" "$@" >"$work/$name.out" 2>/dev/null
}
measure player "$probe" --play "$demo" "$seconds"
grep -q "sound=server" "$work/player.out" ||
  echo "playback: the engine played on its silent clock; the comparison is not fair" >&2
read -r pu ps prss <"$work/player"
anon=$(sed -n 's/.*rss_anon_kb=\([0-9-]*\).*/\1/p' "$work/player.out")
printf 'playback engine, %s s of the demo disc: CPU %.2f s, peak RSS %d kB, RssAnon %s kB (target <= 8192)\n' \
  "$seconds" "$(echo "$pu + $ps" | bc -l)" "$prss" "$anon"
# The floor: a plain client that only copies the file to the server.
if command -v paplay >/dev/null; then
  measure paplay timeout -s INT "$seconds" paplay -d zarncd_bench "$work/demo.wav" || true
  read -r au as arss < <(tail -n 1 "$work/paplay")  # after time's note of the signal
  printf 'paplay, the same audio as WAV:            CPU %.2f s, peak RSS %d kB\n' \
    "$(echo "$au + $as" | bc -l)" "$arss"
fi
if command -v mpv >/dev/null; then
  measure mpv mpv --no-video --no-terminal --ao=pulse --length="$seconds" "$work/demo.wav"
  read -r mu ms mrss <"$work/mpv"
  printf 'mpv --no-video, the same audio as WAV:    CPU %.2f s, peak RSS %d kB\n' \
    "$(echo "$mu + $ms" | bc -l)" "$mrss"
  awk -v p="$(echo "$pu + $ps" | bc -l)" -v m="$(echo "$mu + $ms" | bc -l)" \
    -v pr="$prss" -v mr="$mrss" 'BEGIN {
      printf "ratio player/mpv: CPU %.2f (target <= 0.25), peak RSS %.2f\n", (m > 0 ? p / m : 0), pr / mr }'
else
  echo "playback: mpv is not installed (make bench installs it); no comparison"
fi

# The whole program as a user runs it, its windows and the see-through window up under a private
# X server, playing the demo disc: its CPU over the same seconds against mpv's above.
if [[ -n ${mu:-} && -x $build/zarncd ]] && command -v Xvfb >/dev/null &&
  command -v xdotool >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
  export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb
  mkdir -p "$work/app"
  cp "$build/zarncd" "$work/app/"  # its settings file beside it: the defaults, overlay in use
  XDG_DATA_HOME=$work "$work/app/zarncd" --device "$demo" 2>"$work/app/stderr" &
  app=$!
  pids+=($app)
  main=
  for _ in $(seq 300); do
    main=$(xdotool search --pid $app --name '^Stopped' 2>/dev/null | head -1 || true)
    [[ -n $main ]] && break
    sleep 0.1
  done
  [[ -n $main ]] && xdotool windowfocus --sync "$main" key Return
  sleep 2  # the first refresh after Play names the track
  if [[ -z $main || $(xdotool getwindowname "$main") == Stopped* ]]; then
    echo "playback: the program did not start playing; no whole-program figure" >&2
  else
    ticks() { awk '{ print $14 + $15 }' "/proc/$app/stat"; }
    before=$(ticks)
    sleep "$seconds"
    after=$(ticks)
    overlays=$(xdotool search --onlyvisible --pid $app --name '^Information$' 2>/dev/null |
      wc -l || true)
    grep -qi "sound" "$work/app/stderr" &&
      echo "playback: the program said: $(cat "$work/app/stderr")" >&2
    cpu=$(echo "($after - $before) / $(getconf CLK_TCK)" | bc -l)
    printf 'the whole program, see-through window %s, %s s: CPU %.2f s\n' \
      "$([[ $overlays -gt 0 ]] && echo up || echo NOT up)" "$seconds" "$cpu"
    awk -v p="$cpu" -v m="$(echo "$mu + $ms" | bc -l)" 'BEGIN {
      printf "ratio whole program/mpv: CPU %.2f (target <= 0.50)\n", (m > 0 ? p / m : 0) }'
  fi
  kill $app 2>/dev/null || true
  unset DISPLAY
fi

# A rip as people keep it: one FLAC file per track and a CUE sheet naming them, the tracks as
# long as the run together; the player decodes them itself, mpv plays the same files.
if command -v mpv >/dev/null && command -v sox >/dev/null; then
  rip=$work/rip
  mkdir -p "$rip"
  per=$(((seconds + 3) / 4))
  for t in 1 2 3 4; do
    # A tone on the left, noise on the right: FLAC has something to decode.
    sox -n -r 44100 -c 2 -b 16 "$rip/0$t Track.flac" synth "$per" sine $((300 * t)) pinknoise vol 0.5
    printf 'FILE "0%d Track.flac" WAVE\n  TRACK 0%d AUDIO\n    INDEX 01 00:00:00\n' $t $t
  done >"$rip/rip.cue"
  measure cue "$probe" --play "$rip/rip.cue" "$seconds"
  grep -q "sound=server" "$work/cue.out" ||
    echo "playback: the engine played the FLAC rip on its silent clock; not a fair comparison" >&2
  measure cue_mpv mpv --no-video --no-terminal --ao=pulse "$rip"/*.flac
  read -r cu cs crss <"$work/cue"
  read -r mu ms mrss <"$work/cue_mpv"
  printf 'playback engine, %s s of FLAC per track:  CPU %.2f s, peak RSS %d kB\n' \
    "$seconds" "$(echo "$cu + $cs" | bc -l)" "$crss"
  printf 'mpv --no-video, the same FLAC files:      CPU %.2f s, peak RSS %d kB\n' \
    "$(echo "$mu + $ms" | bc -l)" "$mrss"
  awk -v p="$(echo "$cu + $cs" | bc -l)" -v m="$(echo "$mu + $ms" | bc -l)" \
    -v pr="$crss" -v mr="$mrss" 'BEGIN {
      printf "ratio player/mpv on FLAC: CPU %.2f (target <= 0.50), peak RSS %.2f\n",
        (m > 0 ? p / m : 0), pr / mr }'
else
  echo "playback: mpv or sox is not installed (make bench installs them); no FLAC comparison"
fi

"$probe" --latency "$work" 10 | awk -F'[= ]' '{
  printf "Play -> first sound heard: %s ms (median of 10; target < 50)\n", $2
  printf "Next -> new track heard:   %s ms (median of 10; target < 50)\n", $4 }'
