// SPDX-License-Identifier: GPL-3.0-or-later
// Phones in speech, through libpocketsphinx and its English model: recognised freely (a phone
// loop under the model's phone language model), or aligned to a known phone sequence. Audio
// of any rate is fed as it is read and resampled to the model's 16 kHz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::lipsync {

// One phone over frames [first, last] (10 ms each, from the start of the sound).
struct PhoneSpan {
    std::string phone; // a model phone such as "AH", or "SIL" and filler names
    uint32_t first = 0;
    uint32_t last = 0;
};

class PhoneDecoder {
  public:
    enum class Search { Recognise, Align };
    // Opens the model for one sound. Align needs the model's dictionary for words;
    // Recognise does without. nullptr and `error` set when the model cannot be used.
    static std::unique_ptr<PhoneDecoder> open(Search search, int sample_rate, std::string& error);
    ~PhoneDecoder();
    PhoneDecoder(const PhoneDecoder&) = delete;
    PhoneDecoder& operator=(const PhoneDecoder&) = delete;

    // The dictionary's first pronunciation of a lower-case word; empty when it has none.
    std::vector<std::string> pronounce(const std::string& word) const;
    // Align only: the phones to align the sound to, before the first feed. False when the
    // decoder does not take them (an unknown phone, an empty list).
    bool set_phones(const std::vector<std::string>& phones);

    // Mono samples at the sample rate given to open (full scale +-1).
    void feed(const float* samples, size_t count);
    // Ends the sound. nullopt when the search reached no result (for alignment, also when
    // the sound is too short for the phones: at least 30 ms each).
    std::optional<std::vector<PhoneSpan>> finish();

  private:
    struct Impl;
    explicit PhoneDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A language eSpeak NG speaks: the name --language takes ("de", "pt-br") and its voice's
// description ("German").
struct Language {
    std::string code;
    std::string name;
};

// Every language, sorted by code, each once; empty with `error` set when eSpeak NG cannot be
// loaded.
std::vector<Language> espeak_languages(std::string& error);
// Whether eSpeak NG has a voice by that name (a code of espeak_languages or a voice's name).
bool is_espeak_language(const std::string& code);

// The phones of a text for alignment: words the decoder's dictionary knows, the others
// phonemised by eSpeak NG (en-us). Empty when the text holds no word.
std::vector<std::string> phones_for_text(const std::string& text, const PhoneDecoder& decoder);

} // namespace tarvik::lipsync
