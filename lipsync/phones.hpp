// SPDX-License-Identifier: GPL-3.0-or-later
// Speech sounds and mouth shapes, in any language. Every sound is known by its IPA symbol and
// described by its articulation (where and how a consonant is made; how high, how far back
// and how rounded a vowel is); its mouth shape and the nearest phone of the English
// recognition model both follow from that description. The model's own phones (CMU ARPAbet,
// as in its dictionary) are described by their IPA symbols too, so one table serves them and
// eSpeak NG's phonemes of every language.
#pragma once

#include "lipsync/shapes.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::lipsync {

enum class Place : uint8_t {
    Bilabial,
    Labiodental,
    Dental,
    Alveolar,
    Postalveolar,
    Retroflex,
    Palatal,
    Velar,
    Uvular,
    Pharyngeal,
    Glottal,
    LabialVelar, // both lips rounded and the tongue's back raised (w)
};

enum class Manner : uint8_t { Stop, Nasal, Trill, Tap, Fricative, Approximant, Lateral };

// How one sound is made.
struct Articulation {
    bool vowel = false;
    // Consonants
    Place place = Place::Alveolar;
    Manner manner = Manner::Stop;
    bool voiced = false;
    // Vowels
    uint8_t height =
        0; // 0 close, 1 near-close, 2 close-mid, 3 mid, 4 open-mid, 5 near-open, 6 open
    uint8_t backness = 0; // 0 front, 1 central, 2 back
    bool rounded = false;
    bool rhotic = false; // r-coloured or the central "er" vowels

    bool operator==(const Articulation&) const = default;
};

// The shape a sound shows: lips closed (bilabial stops, nasals, trills, fricatives) -> A;
// labiodental -> G; lips rounded with the back raised (w) and rounded vowels from close to mid
// -> F; rounded open vowels and r-coloured ones -> E; open vowels -> D; other mid and
// near-open vowels -> C; laterals -> H; close unrounded vowels and the other consonants -> B.
Shape shape_for(const Articulation& sound);

// The shapes of the sounds of one phoneme as eSpeak NG writes it in IPA ("ˈaɪ", "t͡ʃ", "ɛː",
// "aa", "th", "ei5"), in order (a diphthong shows two): stress, length, tone digits and
// letters, tie bars and other diacritics carry no sound of their own; a letter repeated is one
// sound; an "h" after a consonant is its aspiration; a "ɜ" after a vowel is a tone. Symbols it
// does not know are skipped.
std::vector<Shape> shapes_for_ipa(std::string_view ipa);

struct ModelPhone {
    std::string_view name; // as in the model's dictionary: "AA", "CH"
    std::string_view ipa;  // how it sounds: "ɑ", "tʃ"
};

// Every phone of the model, each once, in the model's (alphabetical) order.
std::span<const ModelPhone> model_phones();

// The shapes of a model phone's sounds ("AY": D then B); empty for what is not speech (SIL,
// noise and filler names).
std::vector<Shape> shapes_for_phone(std::string_view phone);

// A model phone standing for one or two sounds of a phoneme, with their shapes.
struct PhoneFor {
    std::string phone;
    std::vector<Shape> shapes;
};

// The model phones nearest to a phoneme's sounds: a diphthong or affricate the model has
// gives that phone ("aɪ" -> AY, "tʃ" -> CH); any other sound the phone whose articulation is
// nearest ("y" -> IY, "x" -> K, "ɾ" -> D). A glottal stop, a moment of silence, gives none.
std::vector<PhoneFor> model_phones_for_ipa(std::string_view ipa);

// The names in a space-separated list ("DH AH"), in order; runs of spaces count as one.
std::vector<std::string> split_names(std::string_view list);

} // namespace tarvik::lipsync
