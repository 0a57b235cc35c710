#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Seeds the WAV encode target's corpus with small WAV files of every kind the encoder may
# meet: 8/16/24/32-bit integer, float, 1 to 6 channels, rates 8000 to 96000 Hz, A-law,
# mu-law, IMA and MS ADPCM, GSM, and hand-made damaged files (truncated headers, odd sizes,
# a data size of 0xFFFFFFFF, chunks after the data, extreme float values).
# Usage: wav_encode_fuzz.sh <corpus-dir>
set -euo pipefail
corpus=${1:?corpus directory}
mkdir -p "$corpus"

if command -v sox >/dev/null; then
  gen() { # name, then sox output options; $seconds (30 ms) of a sine sweep
    local name=$1; shift
    sox -V1 -n "$@" "$corpus/seed-$name.wav" synth "${seconds:-0.03}" sine 300-3000 2>/dev/null || true
  }
  for bits in 8 16 24 32; do
    enc=signed-integer; [ "$bits" = 8 ] && enc=unsigned-integer
    gen "pcm$bits-mono-44100" -r 44100 -c 1 -b "$bits" -e "$enc"
    gen "pcm$bits-stereo-22050" -r 22050 -c 2 -b "$bits" -e "$enc"
  done
  for rate in 8000 11025 12000 16000 22050 24000 32000 44100 48000 96000; do
    gen "pcm16-mono-$rate" -r "$rate" -c 1 -b 16
    gen "pcm16-stereo-$rate" -r "$rate" -c 2 -b 16
  done
  for ch in 3 4 5 6; do gen "pcm16-${ch}ch-48000" -r 48000 -c "$ch" -b 16; done
  seconds=0.005 gen "pcm32-6ch-96000" -r 96000 -c 6 -b 32
  gen float32-mono-44100 -r 44100 -c 1 -b 32 -e floating-point
  gen float32-stereo-48000 -r 48000 -c 2 -b 32 -e floating-point
  gen float64-mono-16000 -r 16000 -c 1 -b 64 -e floating-point
  gen alaw-mono-8000 -r 8000 -c 1 -e a-law
  gen ulaw-stereo-8000 -r 8000 -c 2 -e u-law
  gen ima-adpcm-mono-22050 -r 22050 -c 1 -e ima-adpcm
  gen ima-adpcm-stereo-44100 -r 44100 -c 2 -e ima-adpcm
  gen ms-adpcm-mono-11025 -r 11025 -c 1 -e ms-adpcm
  gen gsm-mono-8000 -r 8000 -c 1 -e gsm-full-rate
fi

# Hand-made files: headers the encoder must survive.
command -v python3 >/dev/null || exit 0
python3 - "$corpus" <<'PY'
import math, struct, sys
out = sys.argv[1]

def fmt_chunk(tag, ch, rate, bits, extra=b""):
    align = ch * bits // 8
    body = struct.pack("<HHIIHH", tag, ch, rate, rate * align, align, bits) + extra
    return b"fmt " + struct.pack("<I", len(body)) + body

def riff(chunks, size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body

def data_chunk(payload, size=None):
    pad = b"\0" if len(payload) % 2 else b""
    return b"data" + struct.pack("<I", len(payload) if size is None else size) + payload + pad

def sine16(frames, ch=1):
    return b"".join(struct.pack("<h", int(12000 * math.sin(i / 7.0))) * ch for i in range(frames))

def save(name, content):
    with open(f"{out}/seed-{name}.wav", "wb") as f:
        f.write(content)

pcm = sine16(400)
good = riff([fmt_chunk(1, 1, 22050, 16), data_chunk(pcm)])
save("plain", good)
for cut in (4, 12, 20, 36, 44, 45):
    save(f"truncated-{cut}", good[:cut])
save("odd-size", riff([fmt_chunk(1, 1, 22050, 16), data_chunk(pcm + b"\x01")]))
save("data-ffffffff", riff([fmt_chunk(1, 1, 8000, 16), data_chunk(pcm, 0xFFFFFFFF)], 0xFFFFFFFF))
save("data-size-0", riff([fmt_chunk(1, 2, 44100, 16), data_chunk(b"", 0)]))
save("data-larger-than-file", riff([fmt_chunk(1, 2, 48000, 16), data_chunk(pcm[:100], 100000)]))
info = b"INFOINAM" + struct.pack("<I", 6) + b"voice\0"
save("list-after-data", riff([fmt_chunk(1, 1, 16000, 16), data_chunk(pcm),
                              b"LIST" + struct.pack("<I", len(info)) + info]))
save("list-before-data", riff([fmt_chunk(1, 1, 16000, 16),
                               b"LIST" + struct.pack("<I", len(info)) + info, data_chunk(pcm)]))
save("rate-1hz", riff([fmt_chunk(1, 1, 1, 16), data_chunk(pcm)]))
save("rate-huge", riff([fmt_chunk(1, 1, 0x7FFFFFF0, 16), data_chunk(pcm)]))
save("channels-0", riff([fmt_chunk(1, 0, 44100, 16), data_chunk(pcm)]))
save("channels-255", riff([fmt_chunk(1, 255, 44100, 16), data_chunk(pcm)]))
save("bits-12", riff([fmt_chunk(1, 1, 44100, 12), data_chunk(pcm)]))
# WAVE_FORMAT_EXTENSIBLE, 16-bit PCM, 6 channels.
ext = struct.pack("<HHI", 22, 16, 0x3F) + bytes.fromhex("0100000000001000800000aa00389b71")
save("extensible-6ch", riff([fmt_chunk(0xFFFE, 6, 32000, 16, ext), data_chunk(sine16(60, 6))]))
# 32-bit float with values the conversion to 16 bits must clamp: beyond full scale,
# infinities and not-a-number.
specials = [0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -7.0, 1e30, -1e30,
            float("inf"), float("-inf"), float("nan")]
floats = b"".join(struct.pack("<f", v) for v in specials * 40)
save("float-extremes", riff([fmt_chunk(3, 1, 44100, 32), data_chunk(floats)]))
doubles = b"".join(struct.pack("<d", v) for v in specials * 20)
save("double-extremes", riff([fmt_chunk(3, 2, 22050, 64), data_chunk(doubles)]))
PY
