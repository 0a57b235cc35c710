// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/speech.hpp"

#include "common/files.hpp"
#include "common/text.hpp"
#include "lipsync/phones.hpp"
#include "platform/dynlib.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/genrand.h>

#include <espeak-ng/speak_lib.h>
#include <soxr.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

namespace tarvik::lipsync {

namespace {

constexpr uint32_t kDecoderDelay = 1; // frames
// A quiet room's noise floor, peak to peak (some -70 dB).
constexpr float kNoiseFloor = 0.001f;
constexpr size_t kDecoderHop = kModelRate / 100;     // samples per decoder frame
constexpr size_t kMinPhoneFrames = 3;                // one per state of a phone's model
constexpr size_t kStretch = 20 * size_t{kModelRate}; // samples recognised at once
constexpr const char* kDefaultModelDir = "/usr/share/pocketsphinx/model/en-us";
// The shortest pause in eSpeak NG's rendering of a text where the speech may pause too.
constexpr uint32_t kMinRenderedPauseMs = 50;
// A pause of noise rather than silence, as a word of the alignment grammar.
constexpr const char* kNoiseWord = "NSN";
// Every model phone is also a word of the alignment grammar, spelled with this prefix.
constexpr const char* kPhoneWordPrefix = "ph_";

// Where the model lies: $TARVIK_LIPSYNC_MODEL, else Debian's pocketsphinx-en-us.
std::string speech_model_dir() {
    const char* env = std::getenv("TARVIK_LIPSYNC_MODEL");
    return env && *env ? env : kDefaultModelDir;
}

// libpocketsphinx (with libsphinxbase behind it) and eSpeak NG are loaded when first needed,
// not at start: --fast, --dump and the text forms never use them, and with the libraries
// they pull in (some forty) their loading would be most of a short line's time there.
template <typename F> bool bind(platform::LibraryHandle lib, const char* name, F*& function) {
    function = reinterpret_cast<F*>(platform::find_symbol(lib, name));
    return function != nullptr;
}

struct Sphinx {
    decltype(::err_set_logfp)* err_set_logfp;
    decltype(::ps_args)* ps_args;
    decltype(::cmd_ln_parse_r)* cmd_ln_parse_r;
    decltype(::cmd_ln_free_r)* cmd_ln_free_r;
    decltype(::ps_init)* ps_init;
    decltype(::ps_free)* ps_free;
    decltype(::ps_add_word)* ps_add_word;
    decltype(::ps_set_jsgf_string)* ps_set_jsgf_string;
    decltype(::ps_set_search)* ps_set_search;
    decltype(::ps_start_utt)* ps_start_utt;
    decltype(::ps_process_raw)* ps_process_raw;
    decltype(::ps_end_utt)* ps_end_utt;
    decltype(::ps_get_hyp)* ps_get_hyp;
    decltype(::ps_seg_iter)* ps_seg_iter;
    decltype(::ps_seg_next)* ps_seg_next;
    decltype(::ps_seg_frames)* ps_seg_frames;
    decltype(::ps_seg_word)* ps_seg_word;
    decltype(::genrand_seed)* genrand_seed;
};

constexpr const char* kSphinxLibrary = "libpocketsphinx.so.3";

// The recogniser's entry points, or null with the reason in `error`. Loaded once; the
// library stays loaded.
const Sphinx* sphinx(std::string& error) {
    static std::string why;
    static const std::optional<Sphinx> loaded = []() -> std::optional<Sphinx> {
        const platform::LibraryHandle lib = platform::load_library(kSphinxLibrary);
        Sphinx s{};
        if (!lib || !bind(lib, "err_set_logfp", s.err_set_logfp) ||
            !bind(lib, "ps_args", s.ps_args) || !bind(lib, "cmd_ln_parse_r", s.cmd_ln_parse_r) ||
            !bind(lib, "cmd_ln_free_r", s.cmd_ln_free_r) || !bind(lib, "ps_init", s.ps_init) ||
            !bind(lib, "ps_free", s.ps_free) || !bind(lib, "ps_add_word", s.ps_add_word) ||
            !bind(lib, "ps_set_jsgf_string", s.ps_set_jsgf_string) ||
            !bind(lib, "ps_set_search", s.ps_set_search) ||
            !bind(lib, "ps_start_utt", s.ps_start_utt) ||
            !bind(lib, "ps_process_raw", s.ps_process_raw) ||
            !bind(lib, "ps_end_utt", s.ps_end_utt) || !bind(lib, "ps_get_hyp", s.ps_get_hyp) ||
            !bind(lib, "ps_seg_iter", s.ps_seg_iter) || !bind(lib, "ps_seg_next", s.ps_seg_next) ||
            !bind(lib, "ps_seg_frames", s.ps_seg_frames) ||
            !bind(lib, "ps_seg_word", s.ps_seg_word) ||
            !bind(lib, "genrand_seed", s.genrand_seed)) {
            why = "the speech recogniser cannot be loaded (" + platform::library_error() +
                  "; Debian package libpocketsphinx3)";
            return std::nullopt;
        }
        s.err_set_logfp(nullptr); // the library's log would flood standard error
        return s;
    }();
    if (!loaded) error = why;
    return loaded ? &*loaded : nullptr;
}

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct Espeak {
    decltype(::espeak_Initialize)* initialize;
    decltype(::espeak_SetVoiceByName)* set_voice;
    decltype(::espeak_ListVoices)* list_voices;
    decltype(::espeak_SetSynthCallback)* set_synth_callback;
    decltype(::espeak_Synth)* synth;
    int rate; // of the sound it renders
};

// eSpeak NG holds process-wide state (the voice, the synthesis callback): one caller at a time,
// under this lock.
std::mutex g_espeak_mutex;

// eSpeak NG's entry points, started once with phoneme events named in IPA; null with the
// reason in `error` when it cannot be loaded. Called under g_espeak_mutex.
const Espeak* espeak(std::string& error) {
    static std::string why;
    static const std::optional<Espeak> loaded = []() -> std::optional<Espeak> {
        const platform::LibraryHandle lib = platform::load_library("libespeak-ng.so.1");
        Espeak e{};
        if (!lib || !bind(lib, "espeak_Initialize", e.initialize) ||
            !bind(lib, "espeak_SetVoiceByName", e.set_voice) ||
            !bind(lib, "espeak_ListVoices", e.list_voices) ||
            !bind(lib, "espeak_SetSynthCallback", e.set_synth_callback) ||
            !bind(lib, "espeak_Synth", e.synth)) {
            why = "eSpeak NG cannot be loaded (" + platform::library_error() +
                  "; Debian package libespeak-ng1)";
            return std::nullopt;
        }
        e.rate = e.initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr,
                              espeakINITIALIZE_PHONEME_EVENTS | espeakINITIALIZE_PHONEME_IPA);
        if (e.rate <= 0) {
            why = "eSpeak NG cannot start (its data, Debian package espeak-ng-data, is missing)";
            return std::nullopt;
        }
        return e;
    }();
    if (!loaded) error = why;
    return loaded ? &*loaded : nullptr;
}

// The noise floor's next sample (full scale +-1), from a fixed seed.
float floor_sample(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return kNoiseFloor * (static_cast<float>(state >> 8) / (1 << 24) - 0.5f);
}

// The noise floor at the model's rate, for the quiet after a sound.
void add_floor(size_t count, std::vector<int16_t>& out) {
    uint32_t state = 1;
    for (size_t i = 0; i < count; ++i)
        out.push_back(static_cast<int16_t>(std::lround(floor_sample(state) * 32767)));
}

} // namespace

struct ModelAudio::Impl {
    Impl(int in_rate, int out_rate) {
        // Without libsoxr's own dither, which is seeded afresh each run: the decoder dithers
        // with a fixed seed.
        soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER;
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
        // One thread: the decoders' threads are the program's, and results stay the same
        // from run to run.
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        soxr_ = soxr_create(in_rate, out_rate, 1, &error, &io, &quality, &runtime);
        if (error) soxr_ = nullptr;
        ratio_ = double(out_rate) / in_rate;
    }
    ~Impl() {
        if (soxr_) soxr_delete(soxr_);
    }

    // Appends the output that the new samples complete to `out`.
    void push(const float* x, size_t n, std::vector<int16_t>& out) {
        // Samples that are not numbers (only float files hold them) count as silence; the
        // noise floor goes under all.
        clean_.resize(n);
        for (size_t i = 0; i < n; ++i)
            clean_[i] = (std::isfinite(x[i]) ? x[i] : 0.0f) + floor_sample(noise_);
        process(clean_.data(), n, out);
    }
    void finish(std::vector<int16_t>& out) { process(nullptr, 0, out); }

    // A null input flushes what the filter still holds.
    void process(const float* in, size_t n, std::vector<int16_t>& out) {
        for (;;) {
            const size_t room = static_cast<size_t>(n * ratio_) + 1024;
            const size_t at = out.size();
            out.resize(at + room);
            size_t used = 0, made = 0;
            soxr_process(soxr_, in, n, &used, out.data() + at, room, &made);
            out.resize(at + made);
            if (in) {
                in += used;
                n -= used;
                if (n == 0) return;
            } else if (made < room) {
                return;
            }
        }
    }

    soxr_t soxr_ = nullptr;
    uint32_t noise_ = 1;
    double ratio_ = 1;
    std::vector<float> clean_;
};

ModelAudio::ModelAudio(int sample_rate)
    : impl_(std::make_unique<Impl>(std::max(1, sample_rate), kModelRate)) {}
ModelAudio::~ModelAudio() = default;
bool ModelAudio::ok() const {
    return impl_->soxr_ != nullptr;
}
void ModelAudio::push(const float* samples, size_t count, std::vector<int16_t>& out) {
    impl_->push(samples, count, out);
}
void ModelAudio::finish(std::vector<int16_t>& out) {
    impl_->finish(out);
}

struct PhoneDecoder::Impl {
    const Sphinx& api;
    Search search;
    ps_decoder_t* ps = nullptr;
    std::vector<int16_t> pending; // resampled audio not yet decoded
    uint32_t decoded_frames = 0;  // decoder frames of the stretches already decoded
    std::vector<PhoneSpan> spans;
    std::vector<std::string> phones; // to align to

    Impl(const Sphinx& a, Search s) : api(a), search(s) {}
    ~Impl() {
        if (ps) api.ps_free(ps);
    }
    // Decodes the first `count` pending samples as one utterance. A whole utterance at
    // once lets the decoder normalise the cepstra over all of it; fed in blocks it would
    // start from the model's preset mean and adapt slowly, which misses most phones of a
    // line's first second. False when the search reaches no result.
    bool decode(size_t count) {
        // The dither's generator is one for the whole process: started afresh here, each
        // result depends on its own sound only, not on what was decoded before.
        api.genrand_seed(1);
        const bool ok = api.ps_start_utt(ps) == 0 &&
                        api.ps_process_raw(ps, pending.data(), count, FALSE, TRUE) >= 0 &&
                        api.ps_end_utt(ps) == 0;
        int32 best = 0;
        const bool heard = ok && api.ps_get_hyp(ps, &best) != nullptr;
        const std::string prefix = kPhoneWordPrefix;
        for (ps_seg_t* seg = heard ? api.ps_seg_iter(ps) : nullptr; seg;
             seg = api.ps_seg_next(seg)) {
            int first = 0, last = 0;
            api.ps_seg_frames(seg, &first, &last);
            std::string name = api.ps_seg_word(seg);
            if (name.rfind(prefix, 0) == 0) name = upper(name.substr(prefix.size()));
            if (first < 0 || last < first) continue;
            // The decoder's frame n is a 25.6 ms window from n * 10 ms: its middle (12.8 ms
            // in) lies in our frame n + 1.
            const uint32_t offset = decoded_frames + kDecoderDelay;
            spans.push_back({std::move(name), static_cast<uint32_t>(first) + offset,
                             static_cast<uint32_t>(last) + offset});
        }
        decoded_frames += static_cast<uint32_t>(count / kDecoderHop);
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(count));
        return heard;
    }
};

PhoneDecoder::PhoneDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PhoneDecoder::~PhoneDecoder() = default;

std::unique_ptr<PhoneDecoder> PhoneDecoder::open(Search search, std::string& error) {
    const Sphinx* api = sphinx(error);
    if (!api) return nullptr;
    const std::string dir = speech_model_dir();
    const std::string acoustic = dir + "/en-us";
    const std::string phone_lm = dir + "/en-us-phone.lm.bin";
    for (const std::string& f : {acoustic + "/mdef", phone_lm}) {
        if (!readable_file_size(f)) {
            error = "the speech model is missing (" + f + "; Debian package pocketsphinx-en-us)";
            return nullptr;
        }
    }
    // Recognition needs no words: the empty dictionary loads at once. Its phone-exit beam
    // is what bounds the work per frame (phones compared with the phone model, and the
    // codebooks they keep active): 1e-10 saves a quarter of the time at the same accuracy; 1e-8
    // starts to lose phones. Alignment follows one path through a line: wide beams keep it alive.
    // Silence may come only where the grammar puts it, between words: the library's own
    // fillers, allowed between any two phones, made some right texts fail to align at all
    // (one in twelve of eSpeak NG's lines in other languages).
    // The library's silence removal is off: fed in blocks, it shifts the frame numbers of
    // everything after a pause.
    std::vector<std::string> args =
        search == Search::Recognise
            ? std::vector<std::string>{"-hmm",   acoustic,       "-dict",  "/dev/null", "-allphone",
                                       phone_lm, "-allphone_ci", "yes",    "-lw",       "2.0",
                                       "-beam",  "1e-20",        "-pbeam", "1e-10"}
            : std::vector<std::string>{"-hmm",          acoustic, "-dict",  "/dev/null", "-beam",
                                       "1e-200",        "-pbeam", "1e-200", "-wbeam",    "1e-200",
                                       "-fsgusefiller", "no",     "-lw",    "1.0"};
    // A fixed seed keeps the dither (which spares digital silence a log of zero) and so
    // every result the same from run to run.
    args.insert(args.end(), {"-remove_silence", "no", "-dither", "yes", "-seed", "1"});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    cmd_ln_t* config = api->cmd_ln_parse_r(nullptr, api->ps_args(), static_cast<int>(argv.size()),
                                           argv.data(), TRUE);
    if (!config) {
        error = "the speech model cannot be configured";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(*api, search);
    impl->ps = api->ps_init(config);
    api->cmd_ln_free_r(config); // the decoder holds its own reference
    if (!impl->ps) {
        error = "the speech model in " + dir + " cannot be loaded";
        return nullptr;
    }
    if (search == Search::Align) {
        // Every phone, and a pause's silence and noise (the model's +NSN+).
        std::vector<std::pair<std::string, std::string>> words;
        for (const ModelPhone& p : model_phones())
            words.emplace_back(p.name, p.name);
        words.emplace_back(kPause, kPause);
        words.emplace_back(kNoiseWord, "+NSN+");
        for (size_t i = 0; i < words.size(); ++i) {
            const std::string word = kPhoneWordPrefix + words[i].first;
            api->ps_add_word(impl->ps, word.c_str(), words[i].second.c_str(),
                             i + 1 == words.size());
        }
    }
    return std::unique_ptr<PhoneDecoder>(new PhoneDecoder(std::move(impl)));
}

bool PhoneDecoder::set_phones(const std::vector<std::string>& phones) {
    if (impl_->search != Search::Align || phones.empty()) return false;
    for (const std::string& p : phones)
        if (p != kPause && shapes_for_phone(p).empty()) return false;
    impl_->phones = phones;
    return true;
}

void PhoneDecoder::feed(const int16_t* samples, size_t count) {
    impl_->pending.insert(impl_->pending.end(), samples, samples + count);
    // Recognition decodes long sounds in stretches, so that memory stays bounded; the last
    // stretch is 20 to 40 s long. Alignment follows one path through the whole line.
    if (impl_->search == Search::Recognise && impl_->pending.size() >= 2 * kStretch)
        impl_->decode(kStretch);
}

std::optional<std::vector<PhoneSpan>> PhoneDecoder::finish() {
    // A little quiet after the end, so that a last phone cut tight still has the frames
    // its model needs (the spans beyond the sound are not used). Recognition decodes it
    // like speech, and it costs a short line a tenth of its time, so it gets less;
    // alignment needs more to close its grammar.
    const int pad_ms = impl_->search == Search::Recognise ? 200 : 300;
    add_floor(static_cast<size_t>(kModelRate * pad_ms / 1000), impl_->pending);
    if (impl_->search == Search::Align) {
        // Every phone lasts at least three decoder frames. A text with more phones than
        // that leaves room for cannot fit, and its grammar would cost some 6 KB per phone
        // to build (a 1 MiB text, gigabytes): it is not tried.
        const size_t spoken =
            static_cast<size_t>(std::count_if(impl_->phones.begin(), impl_->phones.end(),
                                              [](const std::string& p) { return p != kPause; }));
        if (spoken == 0 || spoken * kMinPhoneFrames > impl_->pending.size() / kDecoderHop)
            return std::nullopt;
        // Silence may open and close the line, and come wherever the phones name it.
        const std::string pause = std::string(" [") + kPhoneWordPrefix + kPause + " | " +
                                  kPhoneWordPrefix + kNoiseWord + "]";
        std::string grammar = "#JSGF V1.0;\ngrammar line;\npublic <line> =" + pause;
        for (const std::string& p : impl_->phones)
            grammar += p == kPause ? pause : " " + std::string(kPhoneWordPrefix) + p;
        grammar += pause + ";\n";
        if (impl_->api.ps_set_jsgf_string(impl_->ps, "line", grammar.c_str()) != 0 ||
            impl_->api.ps_set_search(impl_->ps, "line") != 0)
            return std::nullopt;
    }
    const bool heard = impl_->decode(impl_->pending.size());
    if (!heard && (impl_->search == Search::Align || impl_->spans.empty())) return std::nullopt;
    return std::move(impl_->spans);
}

std::vector<std::string> dictionary_pronunciation(const std::string& word) {
    // The dictionary, some 3 MB, is read once and searched for the few words of a line:
    // handing all of its 134,000 words to the decoder took a short line most of its time.
    static const std::string dictionary = [] {
        std::ifstream in(speech_model_dir() + "/cmudict-en-us.dict", std::ios::binary);
        std::ostringstream all;
        all << "\n" << in.rdbuf();
        return all.str();
    }();
    if (word.empty()) return {};
    const size_t at = dictionary.find("\n" + word + " ");
    if (at == std::string::npos) return {};
    const size_t start = at + word.size() + 2;
    return split_names(
        std::string_view(dictionary)
            .substr(start, std::min(dictionary.find('\n', start), dictionary.size()) - start));
}

namespace {

// What one rendering collects from eSpeak NG's events (under g_espeak_mutex).
struct RenderEvents {
    struct Phoneme {
        std::string ipa; // empty: a pause, or the end of a word's sounds
        uint32_t at_ms;
        int word; // index into words
    };
    std::vector<Phoneme> phonemes;
    std::vector<std::pair<int, int>> words; // first character (from 1) and length
    uint64_t samples = 0;
};
RenderEvents* g_render = nullptr;

int on_rendered(short*, int count, espeak_EVENT* events) {
    for (espeak_EVENT* e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e) {
        if (e->type == espeakEVENT_WORD) g_render->words.emplace_back(e->text_position, e->length);
        if (e->type != espeakEVENT_PHONEME && e->type != espeakEVENT_END &&
            e->type != espeakEVENT_MSG_TERMINATED)
            continue;
        // A phoneme's IPA name: up to 8 bytes, zero-padded.
        const std::string name = e->type == espeakEVENT_PHONEME
                                     ? std::string(e->id.string, strnlen(e->id.string, 8))
                                     : std::string();
        g_render->phonemes.push_back({name, static_cast<uint32_t>(std::max(0, e->audio_position)),
                                      static_cast<int>(g_render->words.size()) - 1});
    }
    if (count > 0) g_render->samples += static_cast<uint64_t>(count);
    return 0;
}

// The word (lower case ASCII) at eSpeak's character position `first` (from 1), `length`
// characters long; empty when it is not plain ASCII.
std::string word_at(const std::string& text, int first, int length) {
    size_t begin = std::string::npos, end = text.size();
    int chars = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        ++chars;
        if (chars == first) begin = i;
        if (chars == first + length) {
            end = i;
            break;
        }
    }
    if (begin == std::string::npos || begin >= end) return {};
    std::string word = text.substr(begin, end - begin);
    for (const char c : word)
        if (static_cast<unsigned char>(c) >= 0x80) return {};
    return to_lower_ascii(word);
}

} // namespace

std::optional<TextPlan> plan_text(const std::string& text, const std::string& language,
                                  bool dictionary, std::string& error) {
    RenderEvents events;
    int rate = 0;
    {
        const std::lock_guard lock(g_espeak_mutex);
        const Espeak* api = espeak(error);
        if (!api) return std::nullopt;
        if (language.empty() || api->set_voice(language.c_str()) != EE_OK) {
            error = "eSpeak NG does not know the language \"" + language + "\"";
            return std::nullopt;
        }
        rate = api->rate;
        g_render = &events;
        api->set_synth_callback(on_rendered);
        const espeak_ERROR said = api->synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                             espeakCHARS_UTF8, nullptr, nullptr);
        g_render = nullptr;
        if (said != EE_OK) {
            error = "eSpeak NG cannot say the text";
            return std::nullopt;
        }
    }
    TextPlan plan;
    const auto length_ms =
        static_cast<uint32_t>(events.samples * 1000 / static_cast<uint64_t>(rate));
    const auto& ph = events.phonemes;
    for (size_t i = 0; i < ph.size(); ++i) {
        // A name in brackets, "(en)", marks a switch of language, not a sound.
        if (ph[i].ipa.empty() || ph[i].ipa.front() == '(') continue;
        const uint32_t end = i + 1 < ph.size() ? ph[i + 1].at_ms : length_ms;
        const int word = ph[i].word;
        // A word the dictionary knows: its phones over the word's time.
        std::vector<std::string> known;
        if (dictionary && word >= 0 && (i == 0 || ph[i - 1].word != word))
            known = dictionary_pronunciation(
                word_at(text, events.words[static_cast<size_t>(word)].first,
                        events.words[static_cast<size_t>(word)].second));
        if (!known.empty()) {
            size_t last = i;
            while (last + 1 < ph.size() && ph[last + 1].word == word && !ph[last + 1].ipa.empty())
                ++last;
            const uint32_t word_end = last + 1 < ph.size() ? ph[last + 1].at_ms : length_ms;
            const double step = double(word_end - ph[i].at_ms) / static_cast<double>(known.size());
            for (size_t k = 0; k < known.size(); ++k)
                plan.phones.push_back({known[k], false, shapes_for_phone(known[k]),
                                       ph[i].at_ms + static_cast<uint32_t>(step * k),
                                       ph[i].at_ms + static_cast<uint32_t>(step * (k + 1))});
            i = last;
            continue;
        }
        // Otherwise eSpeak NG's phoneme, as the nearest model phones, sharing its time.
        const std::vector<PhoneFor> phones = model_phones_for_ipa(ph[i].ipa);
        const double step = double(end - ph[i].at_ms) / std::max<size_t>(1, phones.size());
        for (size_t k = 0; k < phones.size(); ++k)
            plan.phones.push_back({phones[k].phone, false, phones[k].shapes,
                                   ph[i].at_ms + static_cast<uint32_t>(step * k),
                                   ph[i].at_ms + static_cast<uint32_t>(step * (k + 1))});
    }
    // A pause may come where eSpeak NG pauses (at punctuation, between sentences), not
    // between any two words: free silence there let the aligner skip speech it matched
    // poorly.
    for (size_t k = 1; k < plan.phones.size(); ++k)
        plan.phones[k].pause_before =
            plan.phones[k].start_ms >= plan.phones[k - 1].end_ms + kMinRenderedPauseMs;
    return plan;
}

std::vector<Language> espeak_languages(std::string& error) {
    const std::lock_guard lock(g_espeak_mutex);
    const Espeak* api = espeak(error);
    if (!api) return {};
    std::vector<Language> out;
    // Each voice's languages: a priority byte, then a name ending in a zero byte; the first
    // is the voice's own.
    for (const espeak_VOICE* const* v = api->list_voices(nullptr); v && *v; ++v)
        if ((*v)->languages && (*v)->languages[0] && (*v)->languages[1] && (*v)->name)
            out.push_back({(*v)->languages + 1, (*v)->name});
    std::stable_sort(out.begin(), out.end(),
                     [](const Language& a, const Language& b) { return a.code < b.code; });
    out.erase(std::unique(out.begin(), out.end(),
                          [](const Language& a, const Language& b) { return a.code == b.code; }),
              out.end());
    for (Language& l : out)
        std::replace(l.name.begin(), l.name.end(), '_', ' ');
    return out;
}

bool is_espeak_language(const std::string& code) {
    const std::lock_guard lock(g_espeak_mutex);
    std::string error;
    const Espeak* api = espeak(error);
    return api && !code.empty() && api->set_voice(code.c_str()) == EE_OK;
}

} // namespace tarvik::lipsync

// pocketsphinx 5prealpha's phone-loop segment iterator keeps its list (some 100 bytes per
// sound), and its grammar parser leaks too; the leak checker of the sanitizer builds is told that
// it is the library's. Its fast stack walk ends in sphinxbase's allocator, so that library is named
// too.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpocketsphinx.so\nleak:libsphinxbase.so\n";
}
// ... and keeps the list of what it suppressed off standard error, which the tests read.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
