#pragma once
// Registers the system filters over FFmpeg with the filter registry, so that the mapper
// finds them by class and intelligent connect builds splitter -> decoder -> renderer
// chains by merit: the MPEG-1 stream splitter and the MPEG video and audio decoders
// under the platform's classes, and the container splitter and the generic decoders for
// the other containers and codecs. Safe to call more than once.
#include "platform/dshow/FilterRegistry.h"

void registerSystemFilters();

// The registrations themselves, for tests that look at them.
FilterRegistration mpeg1SplitterRegistration();
FilterRegistration containerSplitterRegistration();
FilterRegistration mpegVideoDecoderRegistration();
FilterRegistration mpegAudioDecoderRegistration();
FilterRegistration videoDecoderRegistration();
FilterRegistration audioDecoderRegistration();
