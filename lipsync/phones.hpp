// SPDX-License-Identifier: GPL-3.0-or-later
// Speech sounds and mouth shapes: the phones of the English recognition model (CMU ARPAbet,
// as in its dictionary), the shape each one shows, and eSpeak's phoneme names mapped onto
// them.
#pragma once

#include "lipsync/shapes.hpp"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::lipsync {

struct ModelPhone {
    std::string_view name; // as in the model's dictionary: "AA", "CH"
    Shape shape;
};

// Every phone of the model, each once, in the model's (alphabetical) order.
std::span<const ModelPhone> model_phones();

// The shape for a model phone: P B M -> A; F V -> G; UW UH OW W -> F; AO ER OY -> E;
// AA AY AW -> D; AE EH AH EY -> C; L -> H; the other consonants and IY IH Y -> B.
// nullopt for what is not speech (SIL, noise and filler names).
std::optional<Shape> shape_for_phone(std::string_view phone);

// The names in a space-separated list ("DH AH"), in order; runs of spaces count as one.
std::vector<std::string> split_names(std::string_view list);

// Model phones for one eSpeak phoneme name ("'oU", "tS", "3:", "r-"): stress marks are
// ignored; an unknown name gives none.
std::vector<std::string> phones_for_espeak(std::string_view name);

} // namespace tarvik::lipsync
