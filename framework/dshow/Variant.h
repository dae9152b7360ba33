#pragma once
// The automation string and variant the property bags answer with. A BSTR points at
// UTF-16 text preceded by its byte length and followed by a zero unit.
#include "framework/dshow/DshowTypes.h"

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_UI4 = 19;
constexpr VARTYPE VT_UNKNOWN = 13;

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        ULONG ulVal;
        BSTR bstrVal;
        IUnknown* punkVal;
    };
};

// Null on a null text or when memory runs out.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
// Length in characters (0 for null).
UINT SysStringLen(BSTR text);

void VariantInit(VARIANT* v);
// Frees what the variant owns (a string, a reference) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
