#pragma once
// IStream::CopyTo for the read-only streams: reads the source in chunks and writes each
// to the target until cb bytes are copied, the source ends, or either side fails. A
// target that takes fewer bytes than offered is full.
#include "framework/dshow/StreamInterfaces.h"

HRESULT copyStream(IStream& source, IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                   ULARGE_INTEGER* pcbWritten);
