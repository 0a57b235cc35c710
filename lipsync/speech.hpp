// SPDX-License-Identifier: GPL-3.0-or-later
// Phones in speech, through libpocketsphinx and its English model: recognised freely (a phone
// loop under the model's phone language model), or aligned to a known phone sequence. The
// sound reaches the decoders as ModelAudio makes it (16 kHz). Texts are phonemised and timed
// by eSpeak NG in any of its languages.
#pragma once

#include "lipsync/shapes.hpp"

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

// Silence in the phones of an alignment (which may or may not come), and its spans.
inline constexpr const char* kPause = "SIL";

inline constexpr int kModelRate = 16000; // Hz

// A sound as the model hears it: resampled from any rate to kModelRate through libsoxr,
// 16-bit, with a quiet room's noise floor (some -70 dB, from a fixed seed) under it: the model
// knows speech recorded in rooms, and aligns digital silence (the exact zeros between the
// phrases of synthetic or trimmed lines) badly.
class ModelAudio {
  public:
    explicit ModelAudio(int sample_rate);
    ~ModelAudio();
    ModelAudio(const ModelAudio&) = delete;
    ModelAudio& operator=(const ModelAudio&) = delete;
    bool ok() const;
    // Mono samples (full scale +-1) in; the samples they complete appended to `out`.
    void push(const float* samples, size_t count, std::vector<int16_t>& out);
    // Ends the sound: what the filter still holds appended to `out`.
    void finish(std::vector<int16_t>& out);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class PhoneDecoder {
  public:
    enum class Search { Recognise, Align };
    // Opens the model for one sound. nullptr and `error` set when the model cannot be used.
    static std::unique_ptr<PhoneDecoder> open(Search search, std::string& error);
    ~PhoneDecoder();
    PhoneDecoder(const PhoneDecoder&) = delete;
    PhoneDecoder& operator=(const PhoneDecoder&) = delete;

    // Align only: the phones to align the sound to, before finish(); kPause among them is
    // a silence that may come there. False when the decoder does not take them (an unknown
    // phone, an empty list).
    bool set_phones(const std::vector<std::string>& phones);

    // The sound at the model's rate, as ModelAudio gives it.
    void feed(const int16_t* samples, size_t count);
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

// One phone of a text: the model phone it is aligned as, the shapes of the sounds it stands
// for, and where eSpeak NG's own rendering of the text says it (ms from its start).
struct TextPhone {
    std::string phone;
    bool pause_before = false; // eSpeak NG pauses before it
    std::vector<Shape> shapes;
    uint32_t start_ms = 0;
    uint32_t end_ms = 0;
};

// A text as eSpeak NG speaks it in a language: its phones in order (the time no phone covers
// is pause).
struct TextPlan {
    std::vector<TextPhone> phones;
};

// The model's (English) dictionary's first pronunciation of a lower-case word; empty when it
// has none or cannot be read.
std::vector<std::string> dictionary_pronunciation(const std::string& word);

// The text phonemised and timed by eSpeak NG in `language`. With `dictionary`, words the
// model's dictionary knows are said as it says them, over the time
// eSpeak NG gives the word. nullopt and `error` set when eSpeak NG cannot be used or does not
// know the language; no phones when the text holds no words.
std::optional<TextPlan> plan_text(const std::string& text, const std::string& language,
                                  bool dictionary, std::string& error);

} // namespace tarvik::lipsync
