// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/command_line.hpp"

#include <algorithm>
#include <string_view>

namespace tarvik::lipsync {

namespace {

// The text forms --format names, in the order the messages list them.
constexpr std::pair<std::string_view, Action> kForms[] = {
    {"tsv", Action::Tsv}, {"json", Action::Json}, {"svg", Action::Svg}, {"frames", Action::Frames}};

// "tsv, json, svg or frames".
std::string forms_list() {
    std::string list;
    for (size_t i = 0; i < std::size(kForms); ++i) {
        if (i > 0) list += i + 1 == std::size(kForms) ? " or " : ", ";
        list += kForms[i].first;
    }
    return list;
}

struct ParseState {
    Request request;
    std::optional<Action> action; // named by a switch
    bool options_done = false;    // after "--"
};

enum class Effect {
    Help,
    Version,
    Fast,
    Text,
    TextString,
    Language,
    Dump,
    Format,
    Output,
    Quiet,
    EndOptions
};

enum class Value {
    None,         // the switch takes none
    Next,         // the next argument, whatever it is
    NextOrJoined, // the next argument, or what follows '=' in --name=VALUE
};

// Where help_text lists a switch.
enum class Section { None, Analysis, Options };

struct Switch {
    Effect effect;
    std::string_view short_name = {}; // "-o", or empty
    std::string_view long_name = {};  // "--output"
    Value value = Value::None;
    std::string needs = {};               // for a missing value: "-o needs a file name"
    bool empty_is_missing = false;        // an empty value is missing too
    std::string_view placeholder = {};    // the value in the help line: "FILE"
    std::optional<Action> only_with = {}; // the one action the switch applies to, if so
    std::string_view misuse = {};         // the error when it comes with another action
    Section section = Section::None;
    std::string_view help = {}; // its help text, '\n' between the printed lines
};

// Every switch; each help section lists its switches in this order.
const std::vector<Switch>& switches() {
    // clang-format off
    static const std::vector<Switch> table = {
        {.effect = Effect::Help, .short_name = "-h", .long_name = "--help"},
        {.effect = Effect::Version, .long_name = "--version"},
        {.effect = Effect::Fast, .long_name = "--fast", .section = Section::Analysis,
         .help = "the signal analysis alone (level, hiss and formants): about\n"
                 "fifty times faster, less exact"},
        {.effect = Effect::Text, .long_name = "--text", .value = Value::Next,
         .needs = "a file name", .placeholder = "FILE", .section = Section::Analysis,
         .help = "the words spoken (UTF-8 text), phonemised by eSpeak NG in the\n"
                 "line's language (English words the model's dictionary knows as\n"
                 "it says them): the phones are aligned to them; a quiet gap of\n"
                 "50 ms or more between its words is a rest (X). Where the words\n"
                 "do not fit a stretch of speech between pauses (or the line at\n"
                 "all), that stretch is recognised instead; where a fitting text\n"
                 "cannot be aligned, eSpeak NG's timing of it, stretched between\n"
                 "the line's pauses, is used; lipsync says which on standard error"},
        {.effect = Effect::TextString, .long_name = "--text-string", .value = Value::Next,
         .needs = "the words", .placeholder = "TEXT", .section = Section::Analysis,
         .help = "the same with the words on the command line"},
        {.effect = Effect::Language, .long_name = "--language", .value = Value::NextOrJoined,
         .needs = "a language (lipsync --language list shows them)", .empty_is_missing = true,
         .placeholder = "LANG", .section = Section::Analysis,
         .help = "the language of the speech and its text: any voice name of\n"
                 "eSpeak NG (de, fr, es, pt-br, ru, pl, tr, yue, ...; default\n"
                 "en-us). The text is phonemised by eSpeak NG in it; a --text file\n"
                 "whose first line is \"#lang: LANG\" names its own, which wins.\n"
                 "\"--language list\" prints every language, one per line"},
        {.effect = Effect::Dump, .long_name = "--dump"},
        {.effect = Effect::Format, .long_name = "--format", .value = Value::NextOrJoined,
         .needs = forms_list()},
        {.effect = Effect::Output, .short_name = "-o", .long_name = "--output",
         .value = Value::NextOrJoined, .needs = "a file name", .empty_is_missing = true,
         .placeholder = "FILE", .only_with = Action::Write,
         .misuse = "-o only names the VLP file that lipsync writes", .section = Section::Options,
         .help = "write the VLP file to FILE instead of beside SOUND"},
        {.effect = Effect::Quiet, .short_name = "-q", .long_name = "--quiet",
         .section = Section::Options, .help = "print nothing when the VLP file was written"},
        {.effect = Effect::EndOptions, .long_name = "--", .section = Section::Options,
         .help = "end of options (for a file name that begins with '-')"},
    };
    // clang-format on
    return table;
}

// Puts a switch and its value into the state; returns an error, or nothing.
std::string apply(const Switch& sw, std::string value, ParseState& state) {
    Request& request = state.request;
    std::optional<Action> action;
    switch (sw.effect) {
    case Effect::Help:
        action = Action::Help;
        break;
    case Effect::Version:
        action = Action::Version;
        break;
    case Effect::Dump:
        action = Action::Dump;
        break;
    case Effect::Format:
        for (const auto& [name, form] : kForms)
            if (name == value) action = form;
        if (!action) return "unknown form \"" + value + "\" (" + forms_list() + ")";
        break;
    case Effect::Fast:
        request.fast = true;
        break;
    case Effect::Quiet:
        request.quiet = true;
        break;
    case Effect::Language:
        if (value == "list")
            action = Action::Languages;
        else
            request.language = std::move(value);
        break;
    case Effect::Output:
        request.output = std::move(value);
        break;
    case Effect::Text:
    case Effect::TextString:
        if (request.text_file || request.text) return "one text only (--text or --text-string)";
        (sw.effect == Effect::Text ? request.text_file : request.text) = std::move(value);
        break;
    case Effect::EndOptions:
        state.options_done = true;
        break;
    }
    if (action && state.action) return "more than one action";
    if (action) state.action = action;
    return {};
}

// The switch an option argument names, with the value joined to it by '=' if any.
std::pair<const Switch*, std::optional<std::string>> find_switch(const std::string& arg) {
    for (const Switch& sw : switches()) {
        if (arg == sw.short_name || arg == sw.long_name) return {&sw, std::nullopt};
        if (sw.value == Value::NextOrJoined && arg.size() > sw.long_name.size() &&
            arg.starts_with(sw.long_name) && arg[sw.long_name.size()] == '=')
            return {&sw, arg.substr(sw.long_name.size() + 1)};
    }
    return {nullptr, std::nullopt};
}

// The help lines of a section's switches: the names in a column of 20, the help beside.
std::string option_lines(Section section) {
    std::string lines;
    for (const Switch& sw : switches()) {
        if (sw.section != section) continue;
        std::string names(sw.short_name);
        names.append(names.empty() ? "" : ", ").append(sw.long_name);
        if (!sw.placeholder.empty()) names.append(" ").append(sw.placeholder);
        lines +=
            "  " + names + std::string(std::max<size_t>(names.size() + 2, 20) - names.size(), ' ');
        for (const char c : sw.help)
            lines += c == '\n' ? "\n" + std::string(22, ' ') : std::string(1, c);
        lines += '\n';
    }
    return lines;
}

// The help around the switches' lines.
constexpr std::string_view kHelpHead = R"(lipsync - mouth shapes for a spoken sound file

Usage:
  lipsync [OPTIONS] SOUND            analyse SOUND and write its VLP file beside it
  lipsync [OPTIONS] -o FILE.vlp SOUND
                                     ... and write the VLP file to FILE.vlp instead
  lipsync [OPTIONS] --format tsv SOUND    print the cues as tab-separated text instead
  lipsync [OPTIONS] --format json SOUND   print the cues as JSON instead
  lipsync [OPTIONS] --format svg SOUND    draw the sound and its cues as an SVG picture
  lipsync --format frames SOUND      print the signal analysis of every 10 ms frame
  lipsync --dump FILE.vlp            print what a VLP file holds
  lipsync --language list            print the languages, one per line
  lipsync --help | --version

SOUND is any file that libsndfile reads: WAV of any sample rate, channel count and
sample width (also AIFF, FLAC, Ogg and others); several channels are mixed down.
The VLP file is named like SOUND with the extension after the last '.' of the file
name replaced by ".vlp" (take.01.wav gives take.01.vlp). It is written whole or not
at all: it is written under a temporary name in the same directory and renamed into
place. When lipsync is stopped by SIGTERM, SIGINT or SIGHUP it removes that temporary
file and exits with 128 + the signal number; the VLP file is then not written (an
earlier one is left as it was). With --format, SOUND may also be a VLP file, which is
converted (a picture of a VLP file has no waveform).

Analysis: 100 frames per second. By default the phones of the speech are recognised
with the English model of pocketsphinx (any sample rate is fed at the model's 16 kHz)
and each sound shows a shape by how it is made: lips closed (p b m) -> A;
labiodental (f v) -> G; rounded close or mid vowels and w (u o y) -> F; rounded
open and r-coloured vowels (ɔ er) -> E; open vowels (a) -> D; other mid vowels
(e ɛ ə) -> C; laterals (l) -> H; close vowels (i) and the other consonants -> B.
Rests (X) come from the signal analysis, which tells pauses from speech by level,
and from quiet gaps of 60 ms or more in which no phone is heard; other frames where
no phone is heard keep the signal analysis's shape.
)";
constexpr std::string_view kHelpMiddle = R"(Shapes:
  A  closed (M, B, P)
  B  slightly open, clenched teeth (most consonants, "ee")
  C  open ("eh", "ae")
  D  wide open ("aa")
  E  slightly rounded ("ao", "er")
  F  puckered ("oo", "w")
  G  upper teeth on lower lip (F, V)
  H  tongue raised (long L)
  X  rest (silence)
with a mouth opening from 0 (closed) to 1 (wide open). Frames are merged into cues;
short cues join their neighbours, so that shapes other than A and X last at least
50 ms (a short sound between two pauses keeps its own).

Text forms (times in seconds):
  tsv     one line per cue: start TAB shape; when the last cue is not X, a final
          line gives the end of the sound with X
  json    {"metadata": {"soundFile", "duration"},
           "mouthCues": [{"start", "end", "value"}, ...]}
  svg     the waveform, and below it one lane per shape with a coloured bar and the
          letter of every cue; one second is 200 pixels
  frames  one line per 10 ms frame with the measurements behind its shape: time,
          shape, opening, level, noise floor and speech level (dB), zero crossings
          per second, share of energy above 3 kHz, prediction error, F1, F2, F3 (Hz)
  --dump  the header values, then start, end, shape and opening of every cue

Options:
)";
constexpr std::string_view kHelpTail = R"(
Environment: TARVIK_LIPSYNC_MODEL names the model directory (default
/usr/share/pocketsphinx/model/en-us, Debian package pocketsphinx-en-us). Without the
model lipsync says so and uses the signal analysis.

Exit status:
  0  success
  1  the input cannot be used: missing, unreadable, a directory, not audio,
     no audio in it, an unusable --text file, or (for --dump) not a valid VLP file
  2  wrong command line
  3  the VLP file (or standard output) could not be written
  128 + N  stopped by signal N (143 for SIGTERM, 130 for SIGINT, 129 for SIGHUP)

The VLP format is described in docs/vlp-format.md of the tarvik sources.
)";

} // namespace

ParsedCommandLine parse_command_line(const std::vector<std::string>& args) {
    const auto fail = [](std::string error) { return ParsedCommandLine{{}, std::move(error)}; };
    ParseState state;
    std::vector<const Switch*> given;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (state.options_done || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!state.request.path.empty()) return fail("more than one file given");
            state.request.path = arg;
            continue;
        }
        auto [sw, joined] = find_switch(arg);
        if (!sw) return fail("unknown option \"" + arg + "\"");
        std::string value = joined.value_or("");
        if (!joined && sw->value != Value::None) {
            if (i + 1 >= args.size()) return fail(arg + " needs " + sw->needs);
            value = args[++i];
        }
        if (sw->empty_is_missing && value.empty()) return fail(arg + " needs " + sw->needs);
        if (std::string error = apply(*sw, std::move(value), state); !error.empty())
            return fail(std::move(error));
        given.push_back(sw);
    }

    Request& request = state.request;
    request.action = state.action.value_or(Action::Write);
    if (request.action == Action::Help || request.action == Action::Version ||
        request.action == Action::Languages)
        return {request, {}};
    for (const Switch* sw : given)
        if (sw->only_with && *sw->only_with != request.action) return fail(std::string(sw->misuse));
    if (request.path.empty())
        return fail(request.action == Action::Dump ? "--dump needs a VLP file"
                                                   : "no sound file given");
    return {request, {}};
}

std::string help_text() {
    return std::string(kHelpHead) + option_lines(Section::Analysis) + std::string(kHelpMiddle) +
           option_lines(Section::Options) + std::string(kHelpTail);
}

} // namespace tarvik::lipsync
