// SPDX-License-Identifier: GPL-3.0-or-later
/* The encoder library's interface: LAME's published DLL records and entry points,
   with fixed-width types so that the layout is the same on every platform. */
#ifndef TARVIK_LAME_ENC_H
#define TARVIK_LAME_ENC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t BE_ERR;
typedef void* HBE_STREAM;

#define BE_CONFIG_MP3 0
#define BE_CONFIG_LAME 256

#define BE_ERR_SUCCESS 0x00000000u
#define BE_ERR_INVALID_FORMAT 0x00000001u
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002u
#define BE_ERR_NO_MORE_HANDLES 0x00000003u
#define BE_ERR_INVALID_HANDLE 0x00000004u
#define BE_ERR_BUFFER_TOO_SMALL 0x00000005u

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

#define MPEG1 1
#define MPEG2 0

#define CURRENT_STRUCT_VERSION 1
#define CURRENT_STRUCT_SIZE 331u

#define LQP_NOPRESET (-1)
#define LQP_NORMAL_QUALITY 0
#define LQP_LOW_QUALITY 1
#define LQP_HIGH_QUALITY 2
#define LQP_VOICE_QUALITY 3

typedef enum {
    VBR_METHOD_NONE = -1,
    VBR_METHOD_DEFAULT = 0,
    VBR_METHOD_OLD = 1,
    VBR_METHOD_NEW = 2,
    VBR_METHOD_MTRH = 3,
    VBR_METHOD_ABR = 4
} VBRMETHOD;

#pragma pack(push, 1)
typedef struct {
    uint32_t dwConfig;
    union {
        struct {
            uint32_t dwStructVersion;
            uint32_t dwStructSize;
            uint32_t dwSampleRate;
            uint32_t dwReSampleRate;
            int32_t nMode;
            uint32_t dwBitrate;
            uint32_t dwMaxBitrate;
            int32_t nPreset;
            uint32_t dwMpegVersion;
            uint32_t dwPsyModel;
            uint32_t dwEmphasis;
            int32_t bPrivate;
            int32_t bCRC;
            int32_t bCopyright;
            int32_t bOriginal;
            int32_t bWriteVBRHeader;
            int32_t bEnableVBR;
            int32_t nVBRQuality;
            uint32_t dwVbrAbr_bps;
            int32_t nVbrMethod; /* VBRMETHOD */
            int32_t bNoRes;
            int32_t bStrictIso;
            uint16_t nQuality;
            uint8_t btReserved[237];
        } LHV1;
    } format;
} BE_CONFIG;

typedef struct {
    uint8_t byDLLMajorVersion;
    uint8_t byDLLMinorVersion;
    uint8_t byMajorVersion;
    uint8_t byMinorVersion;
    uint8_t byDay;
    uint8_t byMonth;
    uint16_t wYear;
    char zHomepage[129];
    uint8_t byAlphaLevel;
    uint8_t byBetaLevel;
    uint8_t byMMXEnabled;
    uint8_t btReserved[125];
} BE_VERSION;
#pragma pack(pop)

typedef BE_ERR (*BEINITSTREAM)(BE_CONFIG*, uint32_t*, uint32_t*, HBE_STREAM*);
typedef BE_ERR (*BEENCODECHUNK)(HBE_STREAM, uint32_t, const int16_t*, uint8_t*, uint32_t*);
typedef BE_ERR (*BEDEINITSTREAM)(HBE_STREAM, uint8_t*, uint32_t*);
typedef BE_ERR (*BECLOSESTREAM)(HBE_STREAM);
typedef void (*BEVERSION)(BE_VERSION*);
typedef BE_ERR (*BEWRITEVBRHEADER)(const char*);

BE_ERR beInitStream(BE_CONFIG* config, uint32_t* samples, uint32_t* buffer_size,
                    HBE_STREAM* stream);
BE_ERR beEncodeChunk(HBE_STREAM stream, uint32_t n_samples, const int16_t* samples, uint8_t* out,
                     uint32_t* out_bytes);
BE_ERR beDeinitStream(HBE_STREAM stream, uint8_t* out, uint32_t* out_bytes);
BE_ERR beCloseStream(HBE_STREAM stream);
void beVersion(BE_VERSION* version);
BE_ERR beWriteVBRHeader(const char* mp3_path);

#ifdef __cplusplus
}
static_assert(sizeof(BE_CONFIG) == 331, "BE_CONFIG must be packed to 331 bytes");
static_assert(sizeof(BE_VERSION) == 265, "BE_VERSION must be packed to 265 bytes");
#endif

#endif
