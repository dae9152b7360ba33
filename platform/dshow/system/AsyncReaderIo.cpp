#include "platform/dshow/system/AsyncReaderIo.h"

#include <algorithm>

AsyncReaderIo::~AsyncReaderIo() {
    close();
}

HRESULT AsyncReaderIo::open(IAsyncReader* reader) {
    close();
    if (!reader) return E_POINTER;
    LONGLONG total = 0, available = 0;
    HRESULT hr = reader->Length(&total, &available);
    if (FAILED(hr)) return hr;
    if (total < 0) return E_FAIL;
    // Only what is there can be read: a reader still filling its file reports less.
    length_ = std::min(total, available >= 0 ? available : total);
    position_ = 0;
    reader_ = reader;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer) return E_OUTOFMEMORY;
    io_ = avio_alloc_context(buffer, kBufferSize, 0, this, &AsyncReaderIo::readPacket, nullptr, &AsyncReaderIo::seek);
    if (!io_) {
        av_free(buffer);
        reader_.reset();
        return E_OUTOFMEMORY;
    }
    io_->seekable = AVIO_SEEKABLE_NORMAL;
    return S_OK;
}

void AsyncReaderIo::close() {
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    reader_.reset();
    length_ = 0;
    position_ = 0;
}

int AsyncReaderIo::interruptCallback(void* self) {
    return static_cast<AsyncReaderIo*>(self)->aborted() ? 1 : 0;
}

int AsyncReaderIo::readPacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<AsyncReaderIo*>(opaque);
    if (self->aborted()) return AVERROR_EXIT;
    if (size <= 0) return 0;
    if (self->position_ >= self->length_) return AVERROR_EOF;
    LONG count = static_cast<LONG>(std::min<int64_t>(size, self->length_ - self->position_));
    if (FAILED(self->reader_->SyncRead(self->position_, count, buffer))) return AVERROR(EIO);
    self->position_ += count;
    return count;
}

int64_t AsyncReaderIo::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<AsyncReaderIo*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return self->length_;
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = self->position_;
    else if (whence == SEEK_END)
        base = self->length_;
    else if (whence != SEEK_SET)
        return AVERROR(EINVAL);
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return AVERROR(EINVAL);
    // Past the end is allowed; reads there give end of file.
    self->position_ = base + offset;
    return self->position_;
}
