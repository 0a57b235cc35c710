// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/phones.hpp"

#include <utility>

namespace tarvik::lipsync {

namespace {

// In the model's order (alphabetical), in which speech.cpp adds them to its dictionary.
constexpr ModelPhone kModelPhones[] = {
    {"AA", Shape::D}, {"AE", Shape::C}, {"AH", Shape::C}, {"AO", Shape::E}, {"AW", Shape::D},
    {"AY", Shape::D}, {"B", Shape::A},  {"CH", Shape::B}, {"D", Shape::B},  {"DH", Shape::B},
    {"EH", Shape::C}, {"ER", Shape::E}, {"EY", Shape::C}, {"F", Shape::G},  {"G", Shape::B},
    {"HH", Shape::B}, {"IH", Shape::B}, {"IY", Shape::B}, {"JH", Shape::B}, {"K", Shape::B},
    {"L", Shape::H},  {"M", Shape::A},  {"N", Shape::B},  {"NG", Shape::B}, {"OW", Shape::F},
    {"OY", Shape::E}, {"P", Shape::A},  {"R", Shape::B},  {"S", Shape::B},  {"SH", Shape::B},
    {"T", Shape::B},  {"TH", Shape::B}, {"UH", Shape::F}, {"UW", Shape::F}, {"V", Shape::G},
    {"W", Shape::F},  {"Y", Shape::B},  {"Z", Shape::B},  {"ZH", Shape::B},
};

// eSpeak's English phoneme names and the model phones that say the same.
constexpr std::pair<std::string_view, std::string_view> kEspeakPhones[] = {
    {"@", "AH"},  {"@2", "AH"},     {"@5", "AH"},   {"@L", "AH L"},   {"3", "ER"},
    {"3:", "ER"}, {"a", "AE"},      {"a#", "AH"},   {"aa", "AE"},     {"A", "AA"},
    {"A:", "AA"}, {"A@", "AA R"},   {"aI", "AY"},   {"aI@", "AY ER"}, {"aI3", "AY ER"},
    {"aU", "AW"}, {"aU@", "AW ER"}, {"e", "EH"},    {"E", "EH"},      {"e@", "EH R"},
    {"eI", "EY"}, {"i", "IY"},      {"i:", "IY"},   {"i@", "IY ER"},  {"i@3", "IY ER"},
    {"I", "IH"},  {"I#", "IH"},     {"I2", "IH"},   {"0", "AA"},      {"O", "AO"},
    {"O:", "AO"}, {"O@", "AO R"},   {"o@", "AO R"}, {"o", "OW"},      {"oU", "OW"},
    {"OI", "OY"}, {"U", "UH"},      {"u:", "UW"},   {"U@", "UH R"},   {"V", "AH"},
    {"p", "P"},   {"b", "B"},       {"t", "T"},     {"t#", "T"},      {"d", "D"},
    {"k", "K"},   {"g", "G"},       {"f", "F"},     {"v", "V"},       {"T", "TH"},
    {"D", "DH"},  {"s", "S"},       {"z", "Z"},     {"S", "SH"},      {"Z", "ZH"},
    {"h", "HH"},  {"m", "M"},       {"m-", "M"},    {"n", "N"},       {"n-", "N"},
    {"N", "NG"},  {"l", "L"},       {"l-", "L"},    {"r", "R"},       {"r-", "R"},
    {"w", "W"},   {"j", "Y"},       {"tS", "CH"},   {"dZ", "JH"},     {"x", "K"},
};

} // namespace

std::span<const ModelPhone> model_phones() {
    return kModelPhones;
}

std::optional<Shape> shape_for_phone(std::string_view phone) {
    for (const ModelPhone& p : kModelPhones)
        if (p.name == phone) return p.shape;
    return std::nullopt;
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

std::vector<std::string> phones_for_espeak(std::string_view name) {
    while (!name.empty() && (name.front() == '\'' || name.front() == ','))
        name.remove_prefix(1);
    for (const auto& [espeak, phones] : kEspeakPhones)
        if (espeak == name) return split_names(phones);
    return {};
}

} // namespace tarvik::lipsync
