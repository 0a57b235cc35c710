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

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace tarvik::lipsync {

namespace {

constexpr int kModelRate = 16000;
constexpr uint32_t kDecoderDelay = 1;                // frames
constexpr size_t kDecoderHop = kModelRate / 100;     // samples per decoder frame
constexpr size_t kMinPhoneFrames = 3;                // one per state of a phone's model
constexpr size_t kStretch = 20 * size_t{kModelRate}; // samples recognised at once
constexpr const char* kDefaultModelDir = "/usr/share/pocketsphinx/model/en-us";
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
    decltype(::ps_lookup_word)* ps_lookup_word;
    decltype(::ckd_free)* ckd_free;
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
            !bind(lib, "ps_lookup_word", s.ps_lookup_word) || !bind(lib, "ckd_free", s.ckd_free) ||
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

// Streaming band-limited resampler to the model rate: a windowed-sinc kernel tabled at
// kPhases fractional positions, cut off below the lower of the two Nyquist frequencies.
class Resampler {
  public:
    Resampler(int in_rate, int out_rate) : in_(in_rate), out_(out_rate) {
        const double cutoff = 0.45 * std::min(in_rate, out_rate) / in_rate; // cycles/sample
        half_ = std::max(4, static_cast<int>(std::ceil(4 / cutoff)));
        table_.resize(static_cast<size_t>(kPhases + 1) * static_cast<size_t>(2 * half_));
        for (int p = 0; p <= kPhases; ++p) {
            for (int k = 0; k < 2 * half_; ++k) {
                // Tap k weighs input sample ip - half_ + 1 + k at distance d from the output.
                const double d = (k - half_ + 1) - double(p) / kPhases;
                const double x = 2 * cutoff * d;
                const double sinc = x == 0 ? 1 : std::sin(M_PI * x) / (M_PI * x);
                const double w = 0.5 + 0.5 * std::cos(M_PI * d / half_);
                table_[static_cast<size_t>(p * 2 * half_ + k)] =
                    static_cast<float>(2 * cutoff * sinc * (std::abs(d) < half_ ? w : 0));
            }
        }
        history_.assign(static_cast<size_t>(half_), 0.0f); // silence before the start
        base_ = -half_;
    }

    // Appends the output that the new samples complete to `out`.
    void push(const float* x, size_t n, std::vector<int16_t>& out) {
        // Samples that are not numbers (only float files hold them) count as silence.
        for (size_t i = 0; i < n; ++i)
            history_.push_back(std::isfinite(x[i]) ? x[i] : 0.0f);
        emit(out);
    }
    void finish(std::vector<int16_t>& out) {
        history_.insert(history_.end(), static_cast<size_t>(half_), 0.0f);
        emit(out);
    }

  private:
    static constexpr int kPhases = 512;

    void emit(std::vector<int16_t>& out) {
        const int64_t end = base_ + static_cast<int64_t>(history_.size()); // one past the last
        for (;;) {
            const int64_t num = next_ * in_;
            const int64_t ip = num / out_;
            if (ip + half_ >= end) break;
            const int phase = static_cast<int>((num % out_) * kPhases / out_);
            const float* taps = &table_[static_cast<size_t>(phase * 2 * half_)];
            const float* h = &history_[static_cast<size_t>(ip - half_ + 1 - base_)];
            float sum = 0;
            for (int k = 0; k < 2 * half_; ++k)
                sum += taps[k] * h[k];
            out.push_back(static_cast<int16_t>(std::lround(std::clamp(sum, -1.0f, 1.0f) * 32767)));
            ++next_;
        }
        // Keep what the next outputs still need.
        const int64_t keep_from = next_ * in_ / out_ - half_ + 1;
        if (keep_from > base_ + 4096) {
            history_.erase(history_.begin(), history_.begin() + (keep_from - base_));
            base_ = keep_from;
        }
    }

    int64_t in_, out_;
    int half_;
    std::vector<float> table_;
    std::vector<float> history_; // input samples from index base_ on
    int64_t base_;
    int64_t next_ = 0; // next output sample
};

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
        if (e.initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr,
                         espeakINITIALIZE_PHONEME_EVENTS | espeakINITIALIZE_PHONEME_IPA) <= 0) {
            why = "eSpeak NG cannot start (its data, Debian package espeak-ng-data, is missing)";
            return std::nullopt;
        }
        return e;
    }();
    if (!loaded) error = why;
    return loaded ? &*loaded : nullptr;
}

} // namespace

struct PhoneDecoder::Impl {
    const Sphinx& api;
    Search search;
    ps_decoder_t* ps = nullptr;
    Resampler resampler;
    std::vector<int16_t> pending; // resampled audio not yet decoded
    uint32_t decoded_frames = 0;  // decoder frames of the stretches already decoded
    std::vector<PhoneSpan> spans;
    std::vector<std::string> phones; // to align to
    int rate;                        // of the sound fed

    Impl(const Sphinx& a, Search s, int r) : api(a), search(s), resampler(r, kModelRate), rate(r) {}
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

std::unique_ptr<PhoneDecoder> PhoneDecoder::open(Search search, int sample_rate,
                                                 std::string& error) {
    const Sphinx* api = sphinx(error);
    if (!api) return nullptr;
    const std::string dir = speech_model_dir();
    const std::string acoustic = dir + "/en-us";
    const std::string phone_lm = dir + "/en-us-phone.lm.bin";
    const std::string dictionary = dir + "/cmudict-en-us.dict";
    for (const std::string& f : {acoustic + "/mdef", phone_lm, dictionary}) {
        if (!readable_file_size(f)) {
            error = "the speech model is missing (" + f + "; Debian package pocketsphinx-en-us)";
            return nullptr;
        }
    }
    // Recognition needs no words: the empty dictionary loads at once. Its phone-exit beam
    // is what bounds the work per frame (phones compared with the phone model, and the
    // codebooks they keep active): 1e-10 saves a quarter of the time at the same accuracy; 1e-8
    // starts to lose phones. Alignment follows one path through a line: wide beams keep it alive,
    // and silence between two of its phones is five times less likely than by default:
    // short silences there are mostly the closure of a stop, which belongs to the stop (on
    // eSpeak NG's voices, +0.005 of frames with the right shape); pauses still win.
    // The library's silence removal is off: fed in blocks, it shifts the frame numbers of
    // everything after a pause.
    std::vector<std::string> args =
        search == Search::Recognise
            ? std::vector<std::string>{"-hmm",   acoustic,       "-dict",  "/dev/null", "-allphone",
                                       phone_lm, "-allphone_ci", "yes",    "-lw",       "2.0",
                                       "-beam",  "1e-20",        "-pbeam", "1e-10"}
            : std::vector<std::string>{"-hmm",   acoustic, "-dict",    dictionary,
                                       "-beam",  "1e-200", "-pbeam",   "1e-200",
                                       "-wbeam", "1e-200", "-silprob", "0.001"};
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
    auto impl = std::make_unique<Impl>(*api, search, std::max(1, sample_rate));
    impl->ps = api->ps_init(config);
    api->cmd_ln_free_r(config); // the decoder holds its own reference
    if (!impl->ps) {
        error = "the speech model in " + dir + " cannot be loaded";
        return nullptr;
    }
    if (search == Search::Align) {
        const auto phones = model_phones();
        for (size_t i = 0; i < phones.size(); ++i) {
            const std::string phone(phones[i].name);
            const std::string word = kPhoneWordPrefix + phone;
            api->ps_add_word(impl->ps, word.c_str(), phone.c_str(), i + 1 == phones.size());
        }
    }
    return std::unique_ptr<PhoneDecoder>(new PhoneDecoder(std::move(impl)));
}

std::vector<std::string> PhoneDecoder::pronounce(const std::string& word) const {
    char* found = impl_->api.ps_lookup_word(impl_->ps, word.c_str());
    if (!found) return {};
    std::vector<std::string> out = split_names(found);
    impl_->api.ckd_free(found);
    return out;
}

bool PhoneDecoder::set_phones(const std::vector<std::string>& phones) {
    if (impl_->search != Search::Align || phones.empty()) return false;
    for (const std::string& p : phones)
        if (!shape_for_phone(p)) return false;
    impl_->phones = phones;
    return true;
}

void PhoneDecoder::feed(const float* samples, size_t count) {
    impl_->resampler.push(samples, count, impl_->pending);
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
    const std::vector<float> quiet(static_cast<size_t>(int64_t{impl_->rate} * pad_ms / 1000), 0.0f);
    impl_->resampler.push(quiet.data(), quiet.size(), impl_->pending);
    impl_->resampler.finish(impl_->pending);
    if (impl_->search == Search::Align) {
        // Every phone lasts at least three decoder frames. A text with more phones than
        // that leaves room for cannot fit, and its grammar would cost some 6 KB per phone
        // to build (a 1 MiB text, gigabytes): it is not tried.
        if (impl_->phones.empty() ||
            impl_->phones.size() * kMinPhoneFrames > impl_->pending.size() / kDecoderHop)
            return std::nullopt;
        std::string grammar = "#JSGF V1.0;\ngrammar line;\npublic <line> =";
        for (const std::string& p : impl_->phones)
            grammar += " " + std::string(kPhoneWordPrefix) + p;
        grammar += ";\n";
        if (impl_->api.ps_set_jsgf_string(impl_->ps, "line", grammar.c_str()) != 0 ||
            impl_->api.ps_set_search(impl_->ps, "line") != 0)
            return std::nullopt;
    }
    const bool heard = impl_->decode(impl_->pending.size());
    if (!heard && (impl_->search == Search::Align || impl_->spans.empty())) return std::nullopt;
    return std::move(impl_->spans);
}

std::vector<std::string> phones_for_text(const std::string& text, const PhoneDecoder& decoder) {
    std::vector<std::string> phones;
    // Words: runs of letters, digits, apostrophes and bytes above ASCII (UTF-8 letters).
    const auto in_word = [](unsigned char c) { return std::isalnum(c) || c == '\'' || c >= 0x80; };
    for (size_t i = 0; i < text.size();) {
        if (!in_word(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && in_word(static_cast<unsigned char>(text[end])))
            ++end;
        std::string word = text.substr(i, end - i);
        i = end;
        while (!word.empty() && word.front() == '\'')
            word.erase(word.begin());
        while (!word.empty() && word.back() == '\'')
            word.pop_back();
        if (word.empty()) continue;
        word = to_lower_ascii(word);
        std::vector<std::string> said = decoder.pronounce(word);
        // TODO
        phones.insert(phones.end(), said.begin(), said.end());
    }
    return phones;
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
