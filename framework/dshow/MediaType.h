#pragma once
// Copying and freeing AM_MEDIA_TYPE records whose format block (and the type itself, for
// the Create/Delete pair) live in task memory.
#include "framework/ComUser.h"
#include "framework/dshow/DshowTypes.h"

// Frees the format block and releases pUnk; the record stays, emptied.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a record from CreateMediaType (or an enumerator) and its format block.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Deep copy into *target (which must not own anything); E_OUTOFMEMORY leaves it empty.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A task-memory deep copy, or null.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// Pins and the graph match partial types: GUID_NULL in major type, subtype or format type
// stands for "any".
bool mediaTypeMatchesPartial(const AM_MEDIA_TYPE& full, const AM_MEDIA_TYPE& partial);
// Same types, same format block.
bool mediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
