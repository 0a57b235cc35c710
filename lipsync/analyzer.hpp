// SPDX-License-Identifier: GPL-3.0-or-later
// Streaming lip-sync analysis: mono samples in, one mouth shape and opening per 10 ms frame
// out, merged into cues. Memory does not grow with the length of the sound, apart from the
// cue list.
#pragma once

#include "lipsync/cues.hpp"
#include "lipsync/dsp.hpp"
#include "lipsync/shapes.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tarvik::lipsync {

constexpr int kFramesPerSecond = 100;
constexpr int kMinSampleRate = 1000;

struct AnalysisSettings {
    double min_speech_ms = 30;     // sound after a rest shorter than this is a click, not speech
    double max_closure_ms = 150;   // a quiet gap inside speech up to this long is a closure
                                   // (teeth together, B); a longer one is a pause (X)
    double min_hold_ms = 50;       // shortest cue for shapes that may be merged away
    double min_long_l_ms = 70;     // shortest L that shows the raised tongue (H)
    double attack_ms = 15;         // time constant of the opening when the mouth opens
    double release_ms = 50;        // ... and when it closes
    double level_window_ms = 1500; // each side of a frame: where noise floor and speech level
                                   // are measured
};

// The cue rules that go with the settings.
CueSettings cue_settings_for(const AnalysisSettings& settings);

// The decision for one frame and the measurements behind it.
struct FrameResult {
    uint32_t index = 0; // frame number; the frame covers [index, index+1) * 10 ms
    Shape shape = Shape::X;
    float opening = 0;            // 0 (closed) to 1 (wide open), after attack/release smoothing
    bool gap = false;             // a quiet gap inside speech (a closure)
    float level_db = -100;        // level around the frame (dB full scale)
    float floor_db = -100;        // noise floor around the frame
    float speech_db = -100;       // speech level around the frame
    float zcr = 0;                // zero crossings per second
    float hf_ratio = 0;           // share of the energy above about 3 kHz
    float lpc_error = 1;          // normalised linear-prediction error (low for vowels)
    float f1 = 0, f2 = 0, f3 = 0; // formants in Hz, 0 when not found
};

// One sound's analysis, in bounded stages:
// - per sample: a rumble filter, a hiss band (above about 3 kHz), zero crossings, and
//   down-sampling to 8-16 kHz for linear prediction;
// - per 10 ms frame: level, crossings, hiss share, prediction error and, for voiced frames,
//   formants from the roots of the prediction polynomial;
// - levels 1.5 s either side give the noise floor (5th percentile) and speech level (95th);
//   frames are speech or rest against a threshold between them, with hysteresis;
// - quiet gaps inside speech up to max_closure_ms become closures (B), longer ones rests;
// - speech frames get a shape from hiss, relative level and formants; the opening follows
//   with separate attack and release; a CueBuilder merges flicker into cues.
class Analyzer {
  public:
    // sample_rate must be at least kMinSampleRate.
    explicit Analyzer(int sample_rate, const AnalysisSettings& settings = {});

    // Called for every frame once it is decided (a second or two after its samples).
    void set_observer(std::function<void(const FrameResult&)> observer) {
        observer_ = std::move(observer);
    }

    // Takes the next block of mono samples (full scale is +-1).
    void feed(const float* samples, size_t count);
    // Ends the sound and returns the cues covering frames [0, frame_count()). The sound
    // lasts frame_count() frames: its length rounded to whole 10 ms, at least one. Called
    // once: an analyzer serves one sound.
    std::vector<Cue> finish();

    uint32_t frame_count() const { return frame_count_; }
    int64_t samples() const { return samples_; }

  private:
    struct Hop {
        double energy = 0; // sum of squares after the rumble filter
        double hf = 0;     // sum of squares above about 3 kHz
        int crossings = 0;
        int64_t samples = 0;
    };
    enum class Activity : uint8_t { Rest, Closure, Speech };

    int64_t boundary(int64_t hop) const { return hop * sample_rate_ / kFramesPerSecond; }
    void process_span(const float* samples, size_t count);
    void close_hop();
    void analyse_ready_frames();
    void analyse_frame(uint32_t index);
    int64_t window_start(uint32_t index) const;
    void level_stage(const FrameResult& frame);
    void decide_level(uint32_t index);
    void gap_stage(const FrameResult& frame, bool active);
    void resolve_gaps(bool final);
    void shape_stage(FrameResult frame, Activity activity);
    int histogram_bin(float level_db) const;
    float histogram_percentile(double fraction) const;

    AnalysisSettings settings_;
    int sample_rate_;
    std::function<void(const FrameResult&)> observer_;

    // Sample stage
    Biquad rumble_filter_;
    Biquad hf_filter_;
    Decimator decimator_;
    int zc_sign_ = 0;
    Hop hop_;
    Hop hops_[8]; // the latest hops, by hop number modulo 8
    int64_t hop_count_ = 0;
    int64_t samples_ = 0;
    int64_t next_boundary_ = 0;
    std::vector<float> ring_; // down-sampled signal, a power of two long
    int64_t ring_count_ = 0;

    // Frame stage: linear prediction
    int lpc_order_;
    int window_;
    std::vector<float> hamming_;
    std::vector<double> work_;
    FormantFinder formants_;
    uint32_t next_frame_ = 0;

    // Level stage: a histogram of frame levels over level_window_ms on each side
    int half_window_;
    std::vector<FrameResult> lookahead_; // ring of 2*half_window_+2 frames by index
    std::vector<int> histogram_;
    int histogram_total_ = 0;
    uint32_t frames_in_ = 0; // frames that entered the level stage
    uint32_t frames_decided_ = 0;
    bool active_ = false;

    // Gap stage: frames wait until the gap they belong to has a known length
    struct Pending {
        FrameResult frame;
        bool active;
    };
    std::vector<Pending> gap_queue_; // bounded by max_closure + min_speech frames
    int min_speech_frames_;
    int max_closure_frames_;
    bool in_speech_ = false;

    // Shape stage
    float opening_ = 0;
    float attack_;
    float release_;
    CueBuilder cues_;

    uint32_t frame_count_ = 0;
    bool finishing_ = false;
};

// The shape for a vowel-like frame from its first two formants (Hz).
Shape vowel_shape(double f1, double f2);

} // namespace tarvik::lipsync
