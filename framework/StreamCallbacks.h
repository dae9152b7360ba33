#pragma once
// The five file operations through which the file source, the readers and their audio
// decoders reach a file, so that a caller can supply its own stream. The first argument
// of open is a file name, or, for tables that wrap an existing stream, a handle passed
// through as the "name".
#include <cstdint>

#include "framework/WinTypes.h"

constexpr uint32_t GENERIC_READ = 0x80000000u;
constexpr uint32_t FILE_SHARE_READ = 1;
constexpr uint32_t OPEN_EXISTING = 3;

constexpr uint32_t STREAM_SEEK_SET_ORIGIN = 0;
constexpr uint32_t STREAM_SEEK_CUR_ORIGIN = 1;
constexpr uint32_t STREAM_SEEK_END_ORIGIN = 2;

struct StreamCallbacks {
    // A null handle on failure.
    HANDLE (*open)(LPCWSTR nameOrHandle, uint32_t access, uint32_t share, uint32_t disposition);
    bool (*read)(HANDLE handle, void* buffer, uint32_t byteCount, uint32_t* bytesRead);
    bool (*seek)(HANDLE handle, int64_t position, uint32_t origin);
    bool (*size)(HANDLE handle, int64_t* size);
    void (*close)(HANDLE handle);
};

// The table over the operating system's files (UTF-16 names converted to UTF-8 here).
const StreamCallbacks& systemFileCallbacks();
