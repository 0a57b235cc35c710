#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# -loudness against an independent meter, ffmpeg's ebur128 filter. A corpus of 30 spoken lines
# (eSpeak NG in several languages and voices, mono and stereo, 16000 to 48000 Hz, levels from
# about -35 to -10 LUFS) goes through `tarvik -batch -loudness T` for T = -23 and -18 at the
# default bit rates, and for -23 at 32 and at 8 kbps, where the encoder takes the most loudness
# away. For each line: the WAV's loudness by ffmpeg and by tarvik, the MP3's loudness and true
# peak by ffmpeg, and whether tarvik lowered its gain for the true peak; then the largest
# deviation from the target over the lines that were not lowered, tarvik's largest difference
# from ffmpeg on the WAVs, and the time -loudness adds to a plain batch (best of 3, wall and
# processor time).
# Run from the top of a built tree: bench/loudness.sh (TARVIK=path: another build's tarvik)
set -euo pipefail
tarvik=${TARVIK:-$PWD/build/bin/tarvik}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lines"

voices=(en de fr es it pt nl sv pl en-us en+f3 de+m3 fr+f2 es+m2 it+f4)
texts=("Hold the gate until the rider comes back."
  "Wir sehen uns morgen am Brunnen."
  "La lanterne est tombée dans la rivière."
  "El capitán espera en el puerto."
  "La tempesta arriva dalla foresta."
  "O mercado abre quando o sol nasce."
  "De brug is gesloten tot morgen."
  "Vakten står vid porten hela natten."
  "Kapitan czeka przy bramie."
  "Bring me the map before the storm breaks.")
rates=(16000 22050 44100 48000)
for ((i = 0; i < 30; i++)); do
  n=$(printf '%02d' "$i")
  espeak-ng -v "${voices[i % 15]}" -s $((140 + i * 7 % 50)) -w "$work/seed.wav" "${texts[i % 10]}"
  # From -18 to +12 dB around eSpeak's level (about -20 LUFS); sox's limiter keeps the
  # loudest ones from clipping.
  db=$((-18 + i * 11 % 31))
  if ((i % 3 == 0)); then remix=(remix 1 1v0.7); else remix=(); fi
  sox -V1 "$work/seed.wav" -r "${rates[i % 4]}" -b 16 "$work/lines/line$n.wav" \
    "${remix[@]}" gain -l "$db"
done

# ffmpeg's integrated loudness (to 0.001 LU, from the filter's metadata: its summary rounds
# to 0.1) and true peak of a file: "I PEAK".
meter() {
  ffmpeg -nostdin -nostats -hide_banner -i "$1" \
    -af ebur128=peak=true:metadata=1,ametadata=print:key=lavfi.r128.I -f null - 2>&1 |
    awk -F'[= ]+' '/lavfi.r128.I=/ {i = $NF} /Summary:/ {s = 1} s && $2 == "Peak:" {p = $3}
                   END {print i, p}'
}
# tarvik's blocks as "NAME MEASURED LOWERED" lines.
blocks() {
  awk '/^Input file = / {split($0, q, "\""); n = q[2]; sub(".*/", "", n)}
       /^Loudness: / {m[n] = $2}
       /^Gain: / {l[n] = /lowered/ ? "yes" : "no"}
       END {for (k in m) print k, m[k], (k in l ? l[k] : "-")}' "$1" | sort
}

declare -A wav_i
for f in "$work"/lines/*.wav; do
  read -r i _ < <(meter "$f")
  wav_i[$(basename "$f")]=$i
done

for run in "-23" "-18" "-23 -bitrate 32" "-23 -bitrate 8"; do
  read -r target switches <<<"$run"
  log=$work/log${run// /}
  out=$work/out${run// /}
  # shellcheck disable=SC2086 # the switches are words
  "$tarvik" -batch -loudness "$target" $switches "$work/lines" "$out" >"$log"
  echo
  echo "== -loudness $run =="
  printf '%-12s %9s %9s %9s %9s %8s\n' line "WAV I" tarvik "MP3 I" "MP3 TP" lowered
  worst=0
  worst_meter=0
  while read -r name measured lowered; do
    read -r i tp < <(meter "$out/${name%.wav}.mp3")
    printf '%-12s %9s %9s %9s %9s %8s\n' "$name" "${wav_i[$name]}" "$measured" "$i" "$tp" "$lowered"
    # At 8 kbps stereo lines are measured as the mono MP3 is fed: no match for ffmpeg's reading.
    [ -n "$switches" ] ||
      worst_meter=$(echo "d = $measured - (${wav_i[$name]}); if (d < 0) d = -d; if (d > $worst_meter) d else $worst_meter" | bc -l)
    [ "$lowered" = no ] || continue
    worst=$(echo "d = $i - ($target); if (d < 0) d = -d; if (d > $worst) d else $worst" | bc -l)
  done < <(blocks "$log")
  printf 'lines lowered for the true peak: %d of 30\n' "$(grep -c '^Gain: .*lowered' "$log")"
  printf 'largest deviation of a line not lowered from %s LUFS (ffmpeg on the MP3): %.2f LU\n' "$target" "$worst"
  [ -n "$switches" ] || printf 'largest difference of tarvik from ffmpeg on the WAVs: %.2f LU\n' "$worst_meter"
done

# Best of 3 of the wall time and of the processor time (user + system): the wall time of a
# short batch is mostly its syncs, and shared machines make it noisy.
best_of_3() {
  local wall=999 cpu=999 w u
  for _ in 1 2 3; do
    rm -rf "$work/timed"
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$tarvik" -batch "$@" "$work/lines" "$work/timed" >/dev/null
    read -r w u s <"$work/time"
    wall=$(echo "if ($w < $wall) $w else $wall" | bc -l)
    u=$(echo "$u + $s" | bc -l)
    cpu=$(echo "if ($u < $cpu) $u else $cpu" | bc -l)
  done
  printf '%.2f s (processor %.2f s)' "$wall" "$cpu"
}
echo
printf '%s s of audio\n' "$(soxi -D "$work"/lines/*.wav | paste -sd+ | bc)"
echo "plain batch:   $(best_of_3)"
echo "-loudness:     $(best_of_3 -loudness)"
echo "-loudness -23: $(best_of_3 -loudness -23)"
