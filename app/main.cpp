// The program's entry point: wires the platform layers in, then runs the player.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/PlayerApp.h"
#include "app/Resources.h"
#include "framework/Module.h"
#include "framework/WideString.h"
#include "graphics/GbcfDecoder.h"
#include "media/MediaClasses.h"
#include "platform/dshow/PipelineClasses.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/GlWindow.h"
#include "platform/gfx/PresentationTarget.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "platform/ui/NativeSurface.h"
#include "platform/ui/QtWindowSystem.h"
#include "platform/ui/UiPlatform.h"
#include "splitters/GbcfPayload.h"

namespace {

// The software device's pictures, shown in the video area.
class VideoAreaTarget : public gfx::PresentationTarget {
public:
    explicit VideoAreaTarget(HWND window) : window_(window) {}
    void present(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) override {
        showPicture(window_, bgra, width, height, stride);
    }

private:
    HWND window_;
};

void wireVideoArea(HWND videoArea) {
    // The software device is the fallback whenever no OpenGL surface can be had.
    gfx::SoftwareAdapter::processAdapter()->setPresentationTarget(videoArea,
                                                                  std::make_shared<VideoAreaTarget>(videoArea));
    if (!gfx::glWindowsAvailable()) return;
    if (QWindow* surface = nativeWindowOf(videoArea, &gfx::prepareGlWindow)) gfx::registerGlWindow(videoArea, surface);
}

// For automated runs only: LAYERDECK_OPEN_FILE names a file that is chosen in the
// open-file dialog of one "open a single file" command issued at start.
void openFileAtStart(PlayerApp& app) {
    const char* path = std::getenv("LAYERDECK_OPEN_FILE");
    QtWindowSystem* windows = QtWindowSystem::instance();
    if (!path || !*path || !windows) return;
    auto answered = std::make_shared<bool>(false);
    std::u16string file = fromUtf8(path);
    windows->setOpenFileAnswerer([answered, file](const QtWindowSystem::OpenFileRequest&) {
        if (*answered) return std::u16string();
        *answered = true;
        return file;
    });
    PostMessageW(app.mainWindow(), WM_COMMAND, PlayerApp::kCmdOpenSingle, 0);
}

// For automated runs only: LAYERDECK_OPEN_FILES names files separated by ";" that arrive
// at start as one drop on the main window, in that order.
void dropFilesAtStart(PlayerApp& app) {
    const char* list = std::getenv("LAYERDECK_OPEN_FILES");
    QtWindowSystem* windows = QtWindowSystem::instance();
    if (!list || !*list || !windows) return;
    std::vector<std::u16string> files;
    const std::string all = list;
    for (size_t at = 0; at <= all.size();) {
        size_t end = all.find(';', at);
        if (end == std::string::npos) end = all.size();
        if (end > at) files.push_back(fromUtf8(all.substr(at, end - at)));
        at = end + 1;
    }
    if (!files.empty()) windows->postDrop(app.mainWindow(), std::move(files), POINT{0, 0});
}

void startAutomatedRun(PlayerApp& app) {
    openFileAtStart(app);
    dropFilesAtStart(app);
}

std::u16string commandLineOf(int argc, char** argv) {
    std::u16string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += u' ';
        line += fromUtf8(argv[i]);
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    UiPlatform ui(argc, argv);
    registerDirect3DModule();
    registerPipelineClasses();
    registerMediaClasses();
    setGbcfPayloadDecoder(&decodeGbcfPayload);
    registerPlayerResources();

    const std::u16string commandLine = commandLineOf(argc, argv);
    int code;
    {
        Module module(nullptr, nullptr, commandLine.c_str(), SW_SHOWNORMAL);
        PlayerApp::Hooks hooks;
        hooks.videoAreaCreated = &wireVideoArea;
        hooks.started = &startAutomatedRun;
        code = PlayerApp::runProgram(module, std::move(hooks));
    }
    return code;
}
