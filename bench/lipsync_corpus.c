// SPDX-License-Identifier: GPL-3.0-or-later
/* One line of synthetic speech with its phoneme timing, for the lip-sync quality benchmark:
   eSpeak NG speaks TEXT with VOICE (a voice or language name, "de", "pt-br", "en-us+f2") at
   WPM words a minute (eSpeak's default when absent) into OUT.wav (mono 16-bit at eSpeak's
   rate) and writes OUT.phn, one "START_MS NAME" line per phoneme event, NAME in IPA as
   eSpeak NG writes it (at most 8 bytes: eSpeak cuts longer names). Pauses and word ends,
   which eSpeak reports with no name, are "_"; the last line "END_MS _" marks the end of the
   sound.
   Usage: lipsync_corpus VOICE TEXT OUT [WPM]   (writes OUT.wav and OUT.phn) */
#include <espeak-ng/speak_lib.h>
#include <sndfile.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static SNDFILE* wav;
static FILE* phn;
static long long samples;
static int rate;

static int on_synth(short* data, int count, espeak_EVENT* events) {
    for (espeak_EVENT* e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e)
        if (e->type == espeakEVENT_PHONEME) {
            char name[9] = {0};
            memcpy(name, e->id.string, 8);
            fprintf(phn, "%d %s\n", e->audio_position, name[0] ? name : "_");
        }
    if (data && count > 0) {
        sf_write_short(wav, data, count);
        samples += count;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: lipsync_corpus VOICE TEXT OUT [WPM]\n");
        return 2;
    }
    rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, NULL,
                             espeakINITIALIZE_PHONEME_EVENTS | espeakINITIALIZE_PHONEME_IPA);
    if (rate <= 0 || espeak_SetVoiceByName(argv[1]) != EE_OK) {
        fprintf(stderr, "lipsync_corpus: eSpeak NG cannot speak with voice %s\n", argv[1]);
        return 1;
    }
    if (argc == 5) {
        char* end = NULL;
        const long wpm = strtol(argv[4], &end, 10);
        if (!*argv[4] || *end || wpm < espeakRATE_MINIMUM || wpm > espeakRATE_MAXIMUM ||
            espeak_SetParameter(espeakRATE, (int)wpm, 0) != EE_OK) {
            fprintf(stderr, "lipsync_corpus: speed %s is not %d-%d words a minute\n", argv[4],
                    espeakRATE_MINIMUM, espeakRATE_MAXIMUM);
            return 2;
        }
    }
    espeak_SetSynthCallback(on_synth);
    size_t n = strlen(argv[3]) + 5;
    char* path = malloc(n);
    SF_INFO info = {.samplerate = rate, .channels = 1, .format = SF_FORMAT_WAV | SF_FORMAT_PCM_16};
    snprintf(path, n, "%s.wav", argv[3]);
    wav = sf_open(path, SFM_WRITE, &info);
    snprintf(path, n, "%s.phn", argv[3]);
    phn = fopen(path, "w");
    if (!wav || !phn) {
        fprintf(stderr, "lipsync_corpus: cannot write %s\n", path);
        return 1;
    }
    espeak_Synth(argv[2], strlen(argv[2]) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, NULL, NULL);
    espeak_Synchronize();
    fprintf(phn, "%lld _\n", samples * 1000 / rate);
    sf_close(wav);
    free(path);
    return fclose(phn) == 0 ? 0 : 1;
}
