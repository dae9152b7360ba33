#pragma once
// Identifiers of media types, subtypes, format blocks, time formats, system classes and
// categories of the media pipeline, with the platform's values.
#include "framework/Guid.h"

// Major types.
constexpr GUID MEDIATYPE_Video = guidFromFourcc(makeFourcc('v', 'i', 'd', 's'));
constexpr GUID MEDIATYPE_Audio = guidFromFourcc(makeFourcc('a', 'u', 'd', 's'));
constexpr GUID MEDIATYPE_Text = guidFromFourcc(makeFourcc('t', 'x', 't', 's'));
constexpr GUID MEDIATYPE_Midi = guidFromFourcc(makeFourcc('m', 'i', 'd', 's'));
constexpr GUID MEDIATYPE_Stream = guidOf("{E436EB83-524F-11CE-9F53-0020AF0BA770}");

// Uncompressed video.
constexpr GUID MEDIASUBTYPE_RGB8 = guidOf("{E436EB7A-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_RGB565 = guidOf("{E436EB7B-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_RGB555 = guidOf("{E436EB7C-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_RGB24 = guidOf("{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_RGB32 = guidOf("{E436EB7E-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_ARGB32 = guidOf("{773C9AC0-3274-11D0-B724-00AA006C1A01}");
constexpr GUID MEDIASUBTYPE_ARGB1555 = guidOf("{297C55AF-E209-4CB3-B757-C76D6B9C88A8}");
constexpr GUID MEDIASUBTYPE_ARGB4444 = guidOf("{6E6415E6-5C24-425F-93CD-80102B3D1CCA}");
constexpr GUID MEDIASUBTYPE_YV12 = guidFromFourcc(makeFourcc('Y', 'V', '1', '2'));
constexpr GUID MEDIASUBTYPE_I420 = guidFromFourcc(makeFourcc('I', '4', '2', '0'));
constexpr GUID MEDIASUBTYPE_IYUV = guidFromFourcc(makeFourcc('I', 'Y', 'U', 'V'));
constexpr GUID MEDIASUBTYPE_NV12 = guidFromFourcc(makeFourcc('N', 'V', '1', '2'));
constexpr GUID MEDIASUBTYPE_YUY2 = guidFromFourcc(makeFourcc('Y', 'U', 'Y', '2'));
constexpr GUID MEDIASUBTYPE_UYVY = guidFromFourcc(makeFourcc('U', 'Y', 'V', 'Y'));

// Compressed video and audio carried in FOURCC/format-tag subtypes.
constexpr GUID MEDIASUBTYPE_VP80 = guidFromFourcc(makeFourcc('V', 'P', '8', '0'));
constexpr GUID MEDIASUBTYPE_VP90 = guidFromFourcc(makeFourcc('V', 'P', '9', '0'));
constexpr GUID MEDIASUBTYPE_WMV3 = guidFromFourcc(makeFourcc('W', 'M', 'V', '3'));
constexpr GUID MEDIASUBTYPE_WMV2 = guidFromFourcc(makeFourcc('W', 'M', 'V', '2'));
constexpr GUID MEDIASUBTYPE_WMV1 = guidFromFourcc(makeFourcc('W', 'M', 'V', '1'));
constexpr GUID MEDIASUBTYPE_H264 = guidFromFourcc(makeFourcc('H', '2', '6', '4'));
constexpr GUID MEDIASUBTYPE_PCM = guidFromFourcc(0x0001);
constexpr GUID MEDIASUBTYPE_IEEE_FLOAT = guidFromFourcc(0x0003);
constexpr GUID MEDIASUBTYPE_MPEG_HEAAC = guidFromFourcc(0x1610);
constexpr GUID MEDIASUBTYPE_WMAUDIO2 = guidFromFourcc(0x0161);
constexpr GUID MEDIASUBTYPE_WMAUDIO3 = guidFromFourcc(0x0162);
constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = MEDIASUBTYPE_PCM;
constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = MEDIASUBTYPE_IEEE_FLOAT;

// MPEG-1 and MPEG-2.
constexpr GUID MEDIASUBTYPE_MPEG1Packet = guidOf("{E436EB80-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_MPEG1Payload = guidOf("{E436EB81-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_MPEG1System = guidOf("{E436EB84-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_MPEG1VideoCD = guidOf("{E436EB85-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_MPEG1Video = guidOf("{E436EB86-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_MPEG1Audio = guidOf("{E436EB87-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_MPEG2_PROGRAM = guidOf("{E06D8022-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID MEDIASUBTYPE_MPEG2_TRANSPORT = guidOf("{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID MEDIASUBTYPE_MPEG2_VIDEO = guidOf("{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID MEDIASUBTYPE_MPEG2_AUDIO = guidOf("{E06D802B-DB46-11CF-B4D1-00805F6CBBEA}");

// Container byte streams.
constexpr GUID MEDIASUBTYPE_Avi = guidOf("{E436EB88-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_Asf = guidOf("{3DB80F90-9412-11D1-ADED-0000F8754B99}");
constexpr GUID MEDIASUBTYPE_QTMovie = guidOf("{E436EB89-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_WAVE = guidOf("{E436EB8B-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_AU = guidOf("{E436EB8C-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_AIFF = guidOf("{E436EB8D-524F-11CE-9F53-0020AF0BA770}");

// Format blocks.
constexpr GUID FORMAT_None = guidOf("{0F6417D6-C318-11D0-A43F-00A0C9223196}");
constexpr GUID FORMAT_VideoInfo = guidOf("{05589F80-C356-11CE-BF01-00AA0055595A}");
constexpr GUID FORMAT_VideoInfo2 = guidOf("{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
constexpr GUID FORMAT_WaveFormatEx = guidOf("{05589F81-C356-11CE-BF01-00AA0055595A}");
constexpr GUID FORMAT_MPEGVideo = guidOf("{05589F82-C356-11CE-BF01-00AA0055595A}");
constexpr GUID FORMAT_MPEGStreams = guidOf("{05589F83-C356-11CE-BF01-00AA0055595A}");
constexpr GUID FORMAT_MPEG2Video = guidOf("{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}");

// Time formats (IMediaSeeking).
constexpr GUID TIME_FORMAT_NONE = GUID_NULL;
constexpr GUID TIME_FORMAT_FRAME = guidOf("{7B785570-8C82-11CF-BC0C-00AA00AC74F6}");
constexpr GUID TIME_FORMAT_BYTE = guidOf("{7B785571-8C82-11CF-BC0C-00AA00AC74F6}");
constexpr GUID TIME_FORMAT_SAMPLE = guidOf("{7B785572-8C82-11CF-BC0C-00AA00AC74F6}");
constexpr GUID TIME_FORMAT_FIELD = guidOf("{7B785573-8C82-11CF-BC0C-00AA00AC74F6}");
constexpr GUID TIME_FORMAT_MEDIA_TIME = guidOf("{7B785574-8C82-11CF-BC0C-00AA00AC74F6}");

// System classes.
constexpr CLSID CLSID_FilterGraph = guidOf("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
constexpr CLSID CLSID_FilterMapper2 = guidOf("{CDA42200-BD88-11D0-BD4E-00A0C911CE86}");
constexpr CLSID CLSID_SystemClock = guidOf("{E436EBB1-524F-11CE-9F53-0020AF0BA770}");
constexpr CLSID CLSID_MemoryAllocator = guidOf("{1E651CC0-B199-11D0-8212-00C04FC32C45}");
constexpr CLSID CLSID_AsyncReader = guidOf("{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
constexpr CLSID CLSID_AudioRender = guidOf("{E30629D1-27E5-11CE-875D-00608CB78066}");
constexpr CLSID CLSID_DSoundRender = guidOf("{79376820-07D0-11CF-A24D-0020AFD79767}");
constexpr CLSID CLSID_VideoRenderer = guidOf("{70E102B0-5556-11CE-97C0-00AA0055595A}");
constexpr CLSID CLSID_MPEG1Splitter = guidOf("{336475D0-942A-11CE-A870-00AA002FEAB5}");
constexpr CLSID CLSID_CMpegVideoCodec = guidOf("{FEB50740-7BEF-11CE-9BD9-0000E202599C}");
constexpr CLSID CLSID_CMpegAudioCodec = guidOf("{4A2286E0-7BEF-11CE-9BD9-0000E202599C}");
constexpr CLSID CLSID_DMOWrapperFilter = guidOf("{94297043-BD82-4DFD-B0DE-8177739C6D20}");
constexpr CLSID CLSID_CWMVDecMediaObject = guidOf("{82D353DF-90BD-4382-8BC2-3F6192B76E34}");
constexpr CLSID CLSID_CWMADecMediaObject = guidOf("{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}");

// Categories of media objects wrapped by the DMO wrapper filter.
constexpr GUID DMOCATEGORY_AUDIO_DECODER = guidOf("{57F2DB8B-E6BB-4513-9D43-DCD2A6593125}");
constexpr GUID DMOCATEGORY_VIDEO_DECODER = guidOf("{4A69B442-28BE-4991-969C-B500ADF5D8A8}");
