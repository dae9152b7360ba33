#include "framework/StreamCallbacks.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/WideString.h"

namespace {

// Handles carry the descriptor plus one, so descriptor 0 is not a null handle.
int descriptorOf(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }

HANDLE openFile(LPCWSTR name, uint32_t access, uint32_t /*share*/, uint32_t disposition) {
    if (!name || access != GENERIC_READ || disposition != OPEN_EXISTING) return nullptr;
    std::string path = toUtf8(name);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

bool readFile(HANDLE h, void* buffer, uint32_t count, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    if (!h || (!buffer && count)) return false;
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::read(descriptorOf(h), static_cast<char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesRead) *bytesRead = done;
            return false;
        }
        if (n == 0) break;  // end of file: success with fewer bytes
        done += static_cast<uint32_t>(n);
    }
    if (bytesRead) *bytesRead = done;
    return true;
}

bool seekFile(HANDLE h, int64_t position, uint32_t origin) {
    if (!h) return false;
    int whence = origin == STREAM_SEEK_SET_ORIGIN ? SEEK_SET : origin == STREAM_SEEK_CUR_ORIGIN ? SEEK_CUR : SEEK_END;
    if (origin > STREAM_SEEK_END_ORIGIN) return false;
    return ::lseek(descriptorOf(h), static_cast<off_t>(position), whence) >= 0;
}

bool sizeOfFile(HANDLE h, int64_t* size) {
    if (!h || !size) return false;
    struct stat st {};
    if (::fstat(descriptorOf(h), &st) != 0) return false;
    *size = static_cast<int64_t>(st.st_size);
    return true;
}

void closeFile(HANDLE h) {
    if (h) ::close(descriptorOf(h));
}

const StreamCallbacks kSystemCallbacks{openFile, readFile, seekFile, sizeOfFile, closeFile};

}  // namespace

const StreamCallbacks& systemFileCallbacks() { return kSystemCallbacks; }
