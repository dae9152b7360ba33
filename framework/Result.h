#pragma once
// Result codes shared by every interface: negative is failure. Values are the platform's.
#include "framework/WinTypes.h"

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT makeResult(uint32_t v) { return static_cast<HRESULT>(v); }
// A system error number carried as a result code (facility 7).
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t err) {
    return err == 0 ? 0 : makeResult((err & 0xFFFF) | 0x80070000u);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = makeResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = makeResult(0x80004002);
constexpr HRESULT E_POINTER = makeResult(0x80004003);
constexpr HRESULT E_ABORT = makeResult(0x80004004);
constexpr HRESULT E_FAIL = makeResult(0x80004005);
constexpr HRESULT E_PENDING = makeResult(0x8000000A);
constexpr HRESULT E_UNEXPECTED = makeResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = makeResult(0x80070005);
constexpr HRESULT E_HANDLE = makeResult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = makeResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = makeResult(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = makeResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = makeResult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = makeResult(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = makeResult(0x800401F0);

constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_HANDLE_EOF = 38;
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
