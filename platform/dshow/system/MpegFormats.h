#pragma once
// Format blocks and subtypes of MPEG streams between a splitter and the MPEG decoders,
// with the platform's layouts: MPEG1VIDEOINFO and MPEG2VIDEOINFO (a video header followed
// by the sequence header), MPEG1WAVEFORMAT and MPEGLAYER3WAVEFORMAT.
#include <cstddef>

#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"

constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;

constexpr GUID MEDIASUBTYPE_MPEG1AudioPayload = guidFromFourcc(WAVE_FORMAT_MPEG);
constexpr GUID MEDIASUBTYPE_MP3 = guidFromFourcc(WAVE_FORMAT_MPEGLAYER3);

// MPEG1WAVEFORMAT::fwHeadLayer
constexpr WORD ACM_MPEG_LAYER1 = 0x0001;
constexpr WORD ACM_MPEG_LAYER2 = 0x0002;
constexpr WORD ACM_MPEG_LAYER3 = 0x0004;

struct MPEG1VIDEOINFO {
    VIDEOINFOHEADER hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    BYTE bSequenceHeader[1];
};
// The block holds the header up to the sequence header, then cbSequenceHeader bytes.
constexpr size_t kMpeg1VideoInfoFixed = offsetof(MPEG1VIDEOINFO, bSequenceHeader);

struct MPEG2VIDEOINFO {
    VIDEOINFOHEADER2 hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    DWORD dwProfile;
    DWORD dwLevel;
    DWORD dwFlags;
    DWORD dwSequenceHeader[1];
};
constexpr size_t kMpeg2VideoInfoFixed = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);

#pragma pack(push, 1)
struct MPEG1WAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD fwHeadLayer;
    DWORD dwHeadBitrate;
    WORD fwHeadMode;
    WORD fwHeadModeExt;
    WORD wHeadEmphasis;
    WORD fwHeadFlags;
    DWORD dwPTSLow;
    DWORD dwPTSHigh;
};

struct MPEGLAYER3WAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD wID;
    DWORD fdwFlags;
    WORD nBlockSize;
    WORD nFramesPerBlock;
    WORD nCodecDelay;
};
#pragma pack(pop)
static_assert(sizeof(MPEG1WAVEFORMAT) == 40);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);
