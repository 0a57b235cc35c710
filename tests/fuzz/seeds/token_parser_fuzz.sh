#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Seeds the token parser's corpus (a written settings file and variants): token_parser_fuzz.sh <dir>
set -euo pipefail
corpus=${1:?corpus directory} && mkdir -p "$corpus"
printf '; written\n$tarvik folder: /opt/tarvik\n$silent mode:\t\tno\n$low bitrate:\t\t56\n$last input folder: /data/À faire — Голоса\n$last quality:\t\tcustom\n$custom bitrate:\t144\n$last option vbr:\tyes\n$last vbr value:\t4\n$no click:\t\tyes\t\n\n#eof\n' > "$corpus/seed-written.ini"
sed 's/$/\r/' "$corpus/seed-written.ini" > "$corpus/seed-crlf.ini"
printf '$LAST QUALITY: HIGH ; c\n$low bitrate: 176\n#eof\n$no click: yes\n#Eof\n$n: 3, 4\n$b:\n  yes\n\x80$x: 1' > "$corpus/seed-variants.ini"
{ head -c 3000 /dev/zero | tr '\0' 'x'; printf ';$low bitrate: 8'; } > "$corpus/seed-long-line.ini"
