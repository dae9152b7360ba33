#pragma once
// What an HDROP stands for: the files of one drop, in the order they were dropped, and
// the drop point in the window's client coordinates.
#include <string>
#include <vector>

#include "framework/WindowApi.h"

class DroppedFiles {
public:
    DroppedFiles(std::vector<std::u16string> files, POINT point) : files_(std::move(files)), point_(point) {}

    HDROP handle() { return reinterpret_cast<HDROP>(this); }
    static DroppedFiles* fromHandle(HDROP drop) { return reinterpret_cast<DroppedFiles*>(drop); }

    // The platform's contract: index 0xFFFFFFFF gives the count; a null buffer gives the
    // length of the name (without the terminator); otherwise the name is copied, cut to
    // fit and always terminated, and the count of characters copied is returned.
    UINT query(UINT index, LPWSTR buffer, UINT capacity) const;
    POINT point() const { return point_; }

private:
    std::vector<std::u16string> files_;
    POINT point_;
};
