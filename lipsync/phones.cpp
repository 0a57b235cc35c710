// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/phones.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>

namespace tarvik::lipsync {

namespace {

using P = Place;
using M = Manner;

struct Symbol {
    char32_t ipa;
    Articulation sound;
};

constexpr Articulation consonant(Place place, Manner manner, bool voiced) {
    return {.vowel = false, .place = place, .manner = manner, .voiced = voiced};
}
constexpr Articulation vowel(uint8_t height, uint8_t backness, bool rounded, bool rhotic = false) {
    return {.vowel = true,
            .height = height,
            .backness = backness,
            .rounded = rounded,
            .rhotic = rhotic};
}

// The IPA chart, as eSpeak NG uses it; letters of the Latin alphabet stand for the IPA
// symbols they are.
constexpr Symbol kSymbols[] = {
    // Consonants
    {U'p', consonant(P::Bilabial, M::Stop, false)},
    {U'b', consonant(P::Bilabial, M::Stop, true)},
    {U'ɓ', consonant(P::Bilabial, M::Stop, true)},
    {U'm', consonant(P::Bilabial, M::Nasal, true)},
    {U'ʙ', consonant(P::Bilabial, M::Trill, true)},
    {U'ɸ', consonant(P::Bilabial, M::Fricative, false)},
    {U'β', consonant(P::Bilabial, M::Fricative, true)},
    {U'ɱ', consonant(P::Labiodental, M::Nasal, true)},
    {U'f', consonant(P::Labiodental, M::Fricative, false)},
    {U'v', consonant(P::Labiodental, M::Fricative, true)},
    {U'ʋ', consonant(P::Labiodental, M::Approximant, true)},
    {U'θ', consonant(P::Dental, M::Fricative, false)},
    {U'ð', consonant(P::Dental, M::Fricative, true)},
    {U't', consonant(P::Alveolar, M::Stop, false)},
    {U'd', consonant(P::Alveolar, M::Stop, true)},
    {U'ɗ', consonant(P::Alveolar, M::Stop, true)},
    {U'n', consonant(P::Alveolar, M::Nasal, true)},
    {U'r', consonant(P::Alveolar, M::Trill, true)},
    {U'ɾ', consonant(P::Alveolar, M::Tap, true)},
    {U's', consonant(P::Alveolar, M::Fricative, false)},
    {U'z', consonant(P::Alveolar, M::Fricative, true)},
    {U'ɹ', consonant(P::Alveolar, M::Approximant, true)},
    {U'l', consonant(P::Alveolar, M::Lateral, true)},
    {U'ɫ', consonant(P::Alveolar, M::Lateral, true)},
    {U'ɬ', consonant(P::Alveolar, M::Lateral, false)},
    {U'ɮ', consonant(P::Alveolar, M::Lateral, true)},
    {U'ʃ', consonant(P::Postalveolar, M::Fricative, false)},
    {U'ʒ', consonant(P::Postalveolar, M::Fricative, true)},
    {U'ɕ', consonant(P::Postalveolar, M::Fricative, false)},
    {U'ʑ', consonant(P::Postalveolar, M::Fricative, true)},
    {U'ʈ', consonant(P::Retroflex, M::Stop, false)},
    {U'ɖ', consonant(P::Retroflex, M::Stop, true)},
    {U'ɳ', consonant(P::Retroflex, M::Nasal, true)},
    {U'ɽ', consonant(P::Retroflex, M::Tap, true)},
    {U'ʂ', consonant(P::Retroflex, M::Fricative, false)},
    {U'ʐ', consonant(P::Retroflex, M::Fricative, true)},
    {U'ɻ', consonant(P::Retroflex, M::Approximant, true)},
    {U'ɭ', consonant(P::Retroflex, M::Lateral, true)},
    {U'c', consonant(P::Palatal, M::Stop, false)},
    {U'ɟ', consonant(P::Palatal, M::Stop, true)},
    {U'ʄ', consonant(P::Palatal, M::Stop, true)},
    {U'ɲ', consonant(P::Palatal, M::Nasal, true)},
    {U'ç', consonant(P::Palatal, M::Fricative, false)},
    {U'ʝ', consonant(P::Palatal, M::Fricative, true)},
    {U'j', consonant(P::Palatal, M::Approximant, true)},
    {U'ʎ', consonant(P::Palatal, M::Lateral, true)},
    {U'k', consonant(P::Velar, M::Stop, false)},
    {U'g', consonant(P::Velar, M::Stop, true)},
    {U'ɡ', consonant(P::Velar, M::Stop, true)},
    {U'ɠ', consonant(P::Velar, M::Stop, true)},
    {U'ŋ', consonant(P::Velar, M::Nasal, true)},
    {U'x', consonant(P::Velar, M::Fricative, false)},
    {U'ɣ', consonant(P::Velar, M::Fricative, true)},
    {U'ɰ', consonant(P::Velar, M::Approximant, true)},
    {U'ʟ', consonant(P::Velar, M::Lateral, true)},
    {U'q', consonant(P::Uvular, M::Stop, false)},
    {U'ɢ', consonant(P::Uvular, M::Stop, true)},
    {U'ɴ', consonant(P::Uvular, M::Nasal, true)},
    {U'ʀ', consonant(P::Uvular, M::Trill, true)},
    {U'χ', consonant(P::Uvular, M::Fricative, false)},
    {U'ʁ', consonant(P::Uvular, M::Fricative, true)},
    {U'ħ', consonant(P::Pharyngeal, M::Fricative, false)},
    {U'ʕ', consonant(P::Pharyngeal, M::Fricative, true)},
    {U'ʔ', consonant(P::Glottal, M::Stop, false)},
    {U'h', consonant(P::Glottal, M::Fricative, false)},
    {U'ɦ', consonant(P::Glottal, M::Fricative, true)},
    {U'w', consonant(P::LabialVelar, M::Approximant, true)},
    {U'ʍ', consonant(P::LabialVelar, M::Fricative, false)},
    {U'ɥ', consonant(P::LabialVelar, M::Approximant, true)},
    // Vowels: height, backness, rounded
    {U'i', vowel(0, 0, false)},
    {U'y', vowel(0, 0, true)},
    {U'ɨ', vowel(0, 1, false)},
    {U'ʉ', vowel(0, 1, true)},
    {U'ɯ', vowel(0, 2, false)},
    {U'u', vowel(0, 2, true)},
    {U'ɪ', vowel(1, 0, false)},
    {U'ᵻ', vowel(1, 1, false)},
    {U'ʏ', vowel(1, 0, true)},
    {U'ʊ', vowel(1, 2, true)},
    {U'e', vowel(2, 0, false)},
    {U'ø', vowel(2, 0, true)},
    {U'ɘ', vowel(2, 1, false)},
    {U'ɵ', vowel(2, 1, true)},
    {U'ɤ', vowel(2, 2, false)},
    {U'o', vowel(2, 2, true)},
    {U'ə', vowel(3, 1, false)},
    {U'ɚ', vowel(3, 1, false, true)},
    {U'ɛ', vowel(4, 0, false)},
    {U'œ', vowel(4, 0, true)},
    {U'ɜ', vowel(4, 1, false, true)},
    {U'ɝ', vowel(4, 1, false, true)},
    {U'ɞ', vowel(4, 1, true)},
    {U'ʌ', vowel(4, 2, false)},
    {U'ɔ', vowel(4, 2, true)},
    {U'æ', vowel(5, 0, false)},
    {U'ɐ', vowel(5, 1, false)},
    {U'a', vowel(6, 0, false)},
    {U'ɶ', vowel(6, 0, true)},
    {U'ɑ', vowel(6, 2, false)},
    {U'ɒ', vowel(6, 2, true)},
};

// The model's phones, alphabetical, with the IPA of their sounds.
constexpr ModelPhone kModelPhones[] = {
    {"AA", "ɑ"},  {"AE", "æ"}, {"AH", "ʌ"}, {"AO", "ɔ"},  {"AW", "aʊ"}, {"AY", "aɪ"}, {"B", "b"},
    {"CH", "tʃ"}, {"D", "d"},  {"DH", "ð"}, {"EH", "ɛ"},  {"ER", "ɝ"},  {"EY", "eɪ"}, {"F", "f"},
    {"G", "ɡ"},   {"HH", "h"}, {"IH", "ɪ"}, {"IY", "i"},  {"JH", "dʒ"}, {"K", "k"},   {"L", "l"},
    {"M", "m"},   {"N", "n"},  {"NG", "ŋ"}, {"OW", "oʊ"}, {"OY", "ɔɪ"}, {"P", "p"},   {"R", "ɹ"},
    {"S", "s"},   {"SH", "ʃ"}, {"T", "t"},  {"TH", "θ"},  {"UH", "ʊ"},  {"UW", "u"},  {"V", "v"},
    {"W", "w"},   {"Y", "j"},  {"Z", "z"},  {"ZH", "ʒ"},
};

// Model phones whose sound other languages say alone too: e and o, which English says only
// as the start of EY and OW, stand for those; schwa is AH.
constexpr std::pair<std::string_view, std::string_view> kAlsoSaid[] = {
    {"EY", "e"}, {"OW", "o"}, {"AH", "ə"}};

std::optional<Articulation> articulation_of(char32_t symbol) {
    for (const Symbol& s : kSymbols)
        if (s.ipa == symbol) return s.sound;
    return std::nullopt;
}

// The code points of UTF-8 text in canonical decomposition (a vowel with a diacritic becomes
// the vowel and a mark); bytes that are not UTF-8 (eSpeak NG's phoneme events cut names at 8
// bytes) are dropped.
std::u32string decomposed(std::string_view text) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        utf8proc_int32_t c = -1;
        const utf8proc_ssize_t len =
            utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &c);
        i += len > 0 ? static_cast<size_t>(len) : 1;
        if (len <= 0) continue;
        utf8proc_int32_t parts[8];
        int boundary = 0;
        const utf8proc_ssize_t n =
            utf8proc_decompose_char(c, parts, 8, UTF8PROC_DECOMPOSE, &boundary);
        for (utf8proc_ssize_t k = 0; k < std::min<utf8proc_ssize_t>(n, 8); ++k)
            out += static_cast<char32_t>(parts[k]);
    }
    return out;
}

// A phoneme's sounds with the symbols they were read from.
std::vector<std::pair<char32_t, Articulation>> symbols_of(std::string_view ipa) {
    std::vector<std::pair<char32_t, Articulation>> out;
    for (const char32_t c : decomposed(ipa)) {
        const std::optional<Articulation> sound = articulation_of(c);
        if (!sound) continue; // marks, stress, length, tones, tie bars, what is unknown
        if (!out.empty()) {
            const Articulation& before = out.back().second;
            if (out.back().first == c) continue;      // "aa": one long a
            if (c == U'h' && !before.vowel) continue; // "th": aspiration
            if (c == U'ɜ' && before.vowel) continue;  // "iɜ": a tone
        }
        out.emplace_back(c, *sound);
    }
    return out;
}

// How far apart two sounds are made: vowels by height, backness and rounding; consonants by
// place, manner and voicing; a vowel and a consonant are far apart.
double distance(const Articulation& a, const Articulation& b) {
    if (a.vowel != b.vowel) return 100;
    if (a.vowel)
        return std::abs(a.height - b.height) + 1.5 * std::abs(a.backness - b.backness) +
               2.0 * (a.rounded != b.rounded) + 1.0 * (a.rhotic != b.rhotic);
    const auto place = [](Place p) {
        return p == Place::LabialVelar ? 0.5 : static_cast<double>(static_cast<int>(p));
    };
    // Manners that sound alike: a tap is a short stop or trill, a trill is heard as an
    // approximant r, a lateral is an approximant.
    const auto manner = [](Manner x, Manner y) {
        if (x == y) return 0.0;
        if (x > y) std::swap(x, y);
        if ((x == Manner::Stop && y == Manner::Tap) || (x == Manner::Trill && y == Manner::Tap) ||
            (x == Manner::Trill && y == Manner::Approximant) ||
            (x == Manner::Approximant && y == Manner::Lateral))
            return 1.0;
        if (x == Manner::Stop && y == Manner::Fricative) return 1.5;
        return 2.5;
    };
    return std::abs(place(a.place) - place(b.place)) + manner(a.manner, b.manner) +
           0.5 * (a.voiced != b.voiced);
}

// The model's phones with their sounds read once: those it says alone (with kAlsoSaid), whose
// articulations nearest_phone compares; and its pairs (diphthongs, affricates).
struct ModelSounds {
    std::string_view name;
    std::vector<std::pair<char32_t, Articulation>> sounds;
};
const std::vector<ModelSounds>& model_sounds() {
    static const std::vector<ModelSounds> all = [] {
        std::vector<ModelSounds> out;
        for (const ModelPhone& p : kModelPhones)
            out.push_back({p.name, symbols_of(p.ipa)});
        for (const auto& [name, ipa] : kAlsoSaid)
            out.push_back({name, symbols_of(ipa)});
        return out;
    }();
    return all;
}

std::string_view nearest_phone(const Articulation& sound) {
    std::string_view best;
    double best_distance = 1e9;
    for (const ModelSounds& p : model_sounds()) {
        if (p.sounds.size() != 1) continue; // a diphthong or affricate stands for itself only
        const double d = distance(sound, p.sounds[0].second);
        if (d < best_distance) best_distance = d, best = p.name;
    }
    return best;
}

} // namespace

Shape shape_for(const Articulation& s) {
    if (s.vowel) {
        if (s.rounded) return s.height <= 3 ? Shape::F : Shape::E;
        if (s.rhotic) return Shape::E;
        if (s.height == 6) return Shape::D;
        if (s.height >= 2) return Shape::C;
        return Shape::B;
    }
    switch (s.place) {
    case Place::Bilabial:
        return s.manner == Manner::Approximant ? Shape::F : Shape::A;
    case Place::Labiodental:
        return Shape::G;
    case Place::LabialVelar:
        return Shape::F;
    default:
        return s.manner == Manner::Lateral ? Shape::H : Shape::B;
    }
}

std::vector<Shape> shapes_for_ipa(std::string_view ipa) {
    std::vector<Shape> out;
    for (const auto& [symbol, sound] : symbols_of(ipa))
        out.push_back(shape_for(sound));
    return out;
}

std::span<const ModelPhone> model_phones() {
    return kModelPhones;
}

std::vector<Shape> shapes_for_phone(std::string_view phone) {
    // Asked for every recognised or aligned span: the shapes are worked out once.
    static const std::vector<std::pair<std::string_view, std::vector<Shape>>> shapes = [] {
        std::vector<std::pair<std::string_view, std::vector<Shape>>> out;
        for (const ModelPhone& p : kModelPhones)
            out.emplace_back(p.name, shapes_for_ipa(p.ipa));
        return out;
    }();
    for (const auto& [name, of_phone] : shapes)
        if (name == phone) return of_phone;
    return {};
}

std::vector<PhoneFor> model_phones_for_ipa(std::string_view ipa) {
    const auto sounds = symbols_of(ipa);
    std::vector<PhoneFor> out;
    for (size_t i = 0; i < sounds.size(); ++i) {
        const Articulation& sound = sounds[i].second;
        // Two sounds that are one model phone: a diphthong or an affricate.
        bool paired = false;
        for (const ModelSounds& p : model_sounds()) {
            const auto& pair = p.sounds;
            if (pair.size() == 2 && i + 1 < sounds.size() && pair[0].first == sounds[i].first &&
                pair[1].first == sounds[i + 1].first) {
                out.push_back(
                    {std::string(p.name), {shape_for(sound), shape_for(sounds[i + 1].second)}});
                paired = true;
                ++i;
                break;
            }
        }
        if (paired ||
            (sound.place == Place::Glottal && sound.manner == Manner::Stop && !sound.vowel))
            continue;
        out.push_back({std::string(nearest_phone(sound)), {shape_for(sound)}});
    }
    return out;
}

std::vector<std::string> split_names(std::string_view list) {
    std::vector<std::string> out;
    for (size_t start = 0; start < list.size();) {
        const size_t end = std::min(list.find(' ', start), list.size());
        if (end > start) out.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

} // namespace tarvik::lipsync
