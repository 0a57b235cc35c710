#!/usr/bin/env bash
# Seeds the token parser's corpus with settings files as the front end writes them and a
# few hand-made variants. Usage: token_parser_fuzz.sh <corpus-dir>
set -euo pipefail
corpus=${1:?corpus directory}
mkdir -p "$corpus"
sep=';---------------------------------------------------------------------------'
printf '%s\n' \
  '; this file was generated on 04/03/04 @ 23:28:50' '' \
  '; config file for tarvik-gui v1.0b' '' \
  '; specifies the location of tarvik'"'"'s executable file' \
  '$tarvik folder: /opt/tarvik' \
  $'$silent mode:\t\tno' '' "$sep" \
  $'$low bitrate:\t\t56' $'$default bitrate:\t128' $'$high bitrate:\t\t256' '' "$sep" \
  '$last input folder: /data/My Voices' '$last output folder: ' '' "$sep" \
  $'$last quality:\t\tdefault' $'$last option vlp:\tno' $'$last option delete:\tno' \
  $'$last option vbr:\tyes' $'$last vbr value:\t4' '' "$sep" \
  $'$no click:\t\tyes\t' '' '#eof' > "$corpus/seed-written.ini"
sed 's/$/\r/' "$corpus/seed-written.ini" > "$corpus/seed-crlf.ini"
printf '$LAST QUALITY: HIGH ; comment\n$low bitrate: 176\n$high bitrate: 12abc\n#eof\n$no click: yes\n#Eof\n' \
  > "$corpus/seed-variants.ini"
printf '$last vbr value: 3, 4\n$silent mode:\n   yes\n$tarvik folder:\t/a;b\n\x80$no click: 1' \
  > "$corpus/seed-markers.ini"
head -c 3000 /dev/zero | tr '\0' 'x' > "$corpus/seed-long-line.ini"
printf ';$low bitrate: 8' >> "$corpus/seed-long-line.ini"
