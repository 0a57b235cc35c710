// SPDX-License-Identifier: GPL-3.0-or-later
/* One line of synthetic speech with its phoneme timing, for the lip-sync quality benchmark:
   eSpeak NG speaks TEXT with VOICE into OUT.wav (mono 16-bit at eSpeak's rate) and writes
   OUT.phn, one "START_MS NAME" line per phoneme event (eSpeak's phoneme names; the last
   line "END_MS _" marks the end of the sound).
   Usage: lipsync_corpus VOICE TEXT OUT   (writes OUT.wav and OUT.phn) */
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
            /* A zero name is the end of a word's phonemes; eSpeak reports pauses as "_". */
            if (name[0]) fprintf(phn, "%d %s\n", e->audio_position, name);
        }
    if (data && count > 0) {
        sf_write_short(wav, data, count);
        samples += count;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: lipsync_corpus VOICE TEXT OUT\n");
        return 2;
    }
    rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, NULL, espeakINITIALIZE_PHONEME_EVENTS);
    if (rate <= 0 || espeak_SetVoiceByName(argv[1]) != EE_OK) {
        fprintf(stderr, "lipsync_corpus: eSpeak NG cannot speak with voice %s\n", argv[1]);
        return 1;
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
