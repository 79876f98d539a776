#!/usr/bin/env bash
# What the see-through window costs. Copies of the program play the demo disc at the same time,
# each on its own private X server, into one PulseAudio null sink: one with the window in use
# ([SeeThrough] Use=1), one without it (Use=0), and, where OVERLAY_OTHER names another build's
# program, that one with the window too. Side by side, a load on the machine weighs on all alike.
# Prints the CPU seconds of each over the same seconds of play, of the whole program and of its
# window thread alone, and the share the window adds; a few rounds, since a loaded machine
# spreads the figures.
#
#   bench/overlay.sh BUILD_DIR   (a release build; OVERLAY_SECONDS changes the 30 s, OVERLAY_ROUNDS
#                                 the 3 rounds)
set -euo pipefail
build=${1:-build/release}
demo=$build/tools/make-demo-disc/demo.cue
seconds=${OVERLAY_SECONDS:-30}
rounds=${OVERLAY_ROUNDS:-3}
if [[ ! -x $build/zarncd || ! -f $demo ]]; then
  echo "overlay: $build/zarncd or $demo is missing; build $build first" >&2
  exit 1
fi
for tool in pulseaudio pactl pacat Xvfb xdotool; do
  command -v $tool >/dev/null || { echo "overlay: $tool is not installed" >&2; exit 1; }
done

NAME=overlay
source "$(dirname "$0")/sound-server.sh"
export XDG_DATA_HOME=$work
export QT_QPA_PLATFORM=xcb

# Each copy: its program, whether the window is in use, its X server.
copies=(on off)
declare -A program=([on]=$build/zarncd [off]=$build/zarncd) use=([on]=1 [off]=0 [other]=1)
if [[ -n ${OVERLAY_OTHER:-} ]]; then
  copies+=(other)
  program[other]=$OVERLAY_OTHER
fi
declare -A display
for c in "${copies[@]}"; do
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display-$c" \
    2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [[ -s $work/display-$c ]] && break; sleep 0.05; done
  display[$c]=:$(cat "$work/display-$c")
  mkdir -p "$work/$c"
  cp "${program[$c]}" "$work/$c/zarncd"
  # Each copy its own image of the same disc: the player keeps others off the image it plays.
  cp "$demo" "${demo%.cue}.bin" "$work/$c/"
done

# On-CPU nanoseconds from the scheduler's own count, finer than the 10 ms clock ticks of
# /proc/PID/stat: of every thread of a process, and of its first thread, which runs the windows.
cpu_ns() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'
}
gui_ns() {
  awk '{ printf "%d", $1 }' /proc/"$1"/task/"$1"/schedstat 2>/dev/null || echo 0
}

declare -A app main cpu gui
shares=()
for ((round = 1; round <= rounds; round++)); do
  for c in "${copies[@]}"; do
    printf '[SeeThrough]\r\nUse=%s\r\n' ${use[$c]} >"$work/$c/ZarnCD.ini"
    DISPLAY=${display[$c]} "$work/$c/zarncd" --device "$work/$c/demo.cue" 2>"$work/$c/stderr" &
    app[$c]=$!
    pids+=(${app[$c]})
  done
  for c in "${copies[@]}"; do
    main[$c]=
    for _ in $(seq 300); do
      main[$c]=$(DISPLAY=${display[$c]} xdotool search --pid ${app[$c]} --name '^Stopped' \
        2>/dev/null | head -1 || true)
      [[ -n ${main[$c]} ]] && break
      sleep 0.1
    done
    [[ -n ${main[$c]} ]] && DISPLAY=${display[$c]} xdotool windowfocus --sync "${main[$c]}" key Return
  done
  sleep 3 # the window's first face, and the first refresh after Play naming the track
  for c in "${copies[@]}"; do
    playing=0 overlays=0
    [[ -n ${main[$c]} && $(DISPLAY=${display[$c]} xdotool getwindowname "${main[$c]}" \
      2>/dev/null) != Stopped* ]] && playing=1
    # The search matches more than the name asked for; the names tell.
    for w in $(DISPLAY=${display[$c]} xdotool search --onlyvisible --pid ${app[$c]} \
      --name '^Information$' 2>/dev/null || true); do
      [[ $(DISPLAY=${display[$c]} xdotool getwindowname $w) == Information ]] && overlays=1
    done
    if ((playing == 0 || overlays != ${use[$c]})); then
      echo "overlay: the copy '$c' did not start playing, or its window is not as asked" >&2
      cat "$work/$c/stderr" >&2
      exit 1
    fi
  done
  for c in "${copies[@]}"; do cpu[$c]=$(cpu_ns ${app[$c]}) gui[$c]=$(gui_ns ${app[$c]}); done
  sleep "$seconds"
  for c in "${copies[@]}"; do
    cpu[$c]=$(($(cpu_ns ${app[$c]}) - cpu[$c])) gui[$c]=$(($(gui_ns ${app[$c]}) - gui[$c]))
  done
  for c in "${copies[@]}"; do
    kill ${app[$c]} 2>/dev/null || true
    wait ${app[$c]} 2>/dev/null || true
  done
  share=$(awk -v on=${cpu[on]} -v off=${cpu[off]} 'BEGIN {
    printf "%.0f", (off > 0 ? 100 * (on - off) / off : 0) }')
  shares+=($share)
  awk -v r=$round -v s=$seconds -v on=${cpu[on]} -v off=${cpu[off]} -v gon=${gui[on]} \
    -v goff=${gui[off]} -v share=$share 'BEGIN {
    printf "see-through window, round %d, %s s of play: CPU %.3f s with it, %.3f s without " \
      "(window thread %.3f s, %.3f s): %+d%%\n", r, s, on / 1e9, off / 1e9, gon / 1e9, goff / 1e9,
      share }'
  if [[ -n ${OVERLAY_OTHER:-} ]]; then
    awk -v r=$round -v other=${cpu[other]} -v gother=${gui[other]} -v off=${cpu[off]} 'BEGIN {
      printf "  the other build, round %d, with it: CPU %.3f s (window thread %.3f s): %+.0f%%\n",
        r, other / 1e9, gother / 1e9, (off > 0 ? 100 * (other - off) / off : 0) }'
  fi
done
printf '%s\n' "${shares[@]}" | sort -n | awk '{ v[NR] = $1 } END {
  printf "see-through window share of the program without it: median %+d%% (target <= 30%%), " \
    "spread %+d%% to %+d%%\n", v[int((NR + 1) / 2)], v[1], v[NR] }'
