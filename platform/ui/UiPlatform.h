#pragma once
// The user-interface platform as the program's entry point sees it, without Qt: makes
// the toolkit's application object (unless one exists), sets the program font and
// installs the window system. Lives for the whole run on the user-interface thread.
#include <memory>
#include <string>

#include "framework/WindowApi.h"

class QApplication;
class QtWindowSystem;

class UiPlatform {
public:
    // argc and argv must outlive this object (the toolkit keeps them).
    UiPlatform(int& argc, char** argv);
    ~UiPlatform();
    UiPlatform(const UiPlatform&) = delete;
    UiPlatform& operator=(const UiPlatform&) = delete;

    // Makes LoadIcon (instance, resourceId) answer the picture in the file (PNG or SVG).
    // False when the file cannot be read as a picture.
    bool registerIconFile(UINT resourceId, const std::u16string& path);

    // The font families tried in order for all text (the first that is installed wins,
    // the rest fill in missing glyphs), and the size in pixels.
    static constexpr int kFontPixels = 12;
    static const char16_t* const kFontFamilies[];
    static constexpr int kFontFamilyCount = 4;

private:
    std::unique_ptr<QApplication> ownApplication_;
    std::unique_ptr<QtWindowSystem> windowSystem_;
};
