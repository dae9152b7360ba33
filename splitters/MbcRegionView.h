#pragma once
// A window [start, start + size) onto a stream shared by several views (the video and
// the audio region of one file). Each view remembers its own position and re-seeks the
// shared handle before a read when another view moved it. All views of one stream take
// the stream's lock for each operation. A view also presents itself as StreamCallbacks
// (the view is the handle), so decoders that read through callbacks can use it.
#include <cstdint>

#include "framework/CriticalSection.h"
#include "framework/StreamCallbacks.h"

// The stream the views share: the caller's table and handle, its lock, and which view
// positioned the handle last.
struct MbcSharedStream {
    const StreamCallbacks* callbacks = nullptr;
    HANDLE handle = nullptr;
    CriticalSection* lock = nullptr;
    const void* lastUser = nullptr;
};

class MbcRegionView {
public:
    MbcRegionView() = default;
    MbcRegionView(const MbcRegionView&) = delete;
    MbcRegionView& operator=(const MbcRegionView&) = delete;

    void attach(MbcSharedStream* stream, uint64_t start, uint64_t size);
    void detach();
    bool attached() const { return stream_ != nullptr; }

    // Reads up to count bytes at the view's position; fewer at the region's end. False
    // only when the underlying read fails.
    bool read(void* buffer, uint32_t count, uint32_t* got);
    // Positions are clamped to [0, size].
    bool seek(int64_t position, uint32_t origin);
    uint64_t position() const { return pos_; }
    uint64_t size() const { return size_; }
    uint64_t remaining() const { return size_ - pos_; }

    // A StreamCallbacks table whose handle is a view; open answers only read access with
    // "open existing" and gives back the handle it was passed.
    static const StreamCallbacks& callbacks();
    HANDLE asHandle() { return this; }

private:
    MbcSharedStream* stream_ = nullptr;
    uint64_t start_ = 0;
    uint64_t size_ = 0;
    uint64_t pos_ = 0;
};
