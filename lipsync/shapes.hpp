// SPDX-License-Identifier: GPL-3.0-or-later
// Mouth shapes of the common lip-sync animation set, and the cue type that carries them.
#pragma once

#include <cstdint>
#include <optional>

namespace tarvik::lipsync {

// A: closed (M, B, P); B: slightly open, clenched teeth (most consonants, "ee");
// C: open ("eh", "ae"); D: wide open ("aa"); E: slightly rounded ("ao", "er");
// F: puckered ("oo", "w"); G: upper teeth on lower lip (F, V); H: tongue raised (long L);
// X: rest (silence).
enum class Shape : uint8_t { A, B, C, D, E, F, G, H, X };

// The shape's letter, 'A' to 'H' or 'X'.
char shape_letter(Shape shape);
// The shape for a letter 'A' to 'H' or 'X'; nullopt for any other byte.
std::optional<Shape> shape_from_letter(char letter);

// One cue: the mouth holds `shape` from `start` until the next cue starts (or the track ends).
struct Cue {
    uint32_t start = 0; // in 10 ms units from the start of the sound
    Shape shape = Shape::X;
    uint8_t opening = 0; // mean mouth opening over the cue, 0 (closed) to 255 (fully open)

    bool operator==(const Cue&) const = default;
};

} // namespace tarvik::lipsync
