#pragma once
// Scalar types of the platform interfaces the system is written against, with the
// platform's names so that code using the contracts reads naturally.
#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using INT = int32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using DWORD_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using WCHAR = char16_t;
using LPCWSTR = const char16_t*;
using LPWSTR = char16_t*;
using HRESULT = int32_t;
using REFERENCE_TIME = int64_t;

// "No time limit" for every wait that takes milliseconds.
constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// Opaque handles. Each is a distinct pointer type so they cannot be mixed up.
using HANDLE = void*;
using HWND = struct HWND__*;
using HMENU = struct HMENU__*;
using HICON = struct HICON__*;
using HFONT = struct HFONT__*;
using HBRUSH = struct HBRUSH__*;
using HCURSOR = struct HCURSOR__*;
using HINSTANCE = struct HINSTANCE__*;
using HMODULE = HINSTANCE;
using HMONITOR = struct HMONITOR__*;
using HDC = struct HDC__*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
