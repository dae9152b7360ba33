#pragma once
// The player's video area without a screen: a compositor of a given size on the
// reference software device, the DirectShow player factory, and a play list of the
// player's own items, driven on the caller's thread. It opens a list of files with their
// settings, composes the picture the player's video area shows, either at a chosen time
// of the common time line (every movie sought there and paused, so the picture is exact
// and repeatable) or as the items play, and runs the transport (play, pause, stop).
//
// Threads: every call is made on one thread, the one that made the stage; it also
// handles the messages the media engine posts (pumpMessages, and every wait inside the
// stage). The window table is process-wide, so only one stage may exist at a time.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/PlayItem.h"
#include "app/PlayListHost.h"
#include "framework/Rect.h"
#include "framework/Stopwatch.h"
#include "framework/WinTypes.h"

struct MSG;
class ComUser;
class DirectShowPlayerFactory;
class DisplayConfig;
class MovieItem;
class PlayList;
class Semaphore;
class ThreadPool;

// One entry of the list and the settings the player's list editor would give it.
struct StageItem {
    std::u16string path;
    // Unset: the whole picture (the player's default after loading).
    std::optional<RECT> source;
    std::optional<RECT> dest;
    uint8_t opacity = 255;
    int32_t volume = PlayItem::kDefaultVolume;  // 0..1000
    int32_t pan = 0;                            // -1000..1000
    int32_t offsetMs = 0;                       // start on the common time line
};

struct StageOptions {
    // The video area; 0 x 0 fits it to the largest item as the player does when the
    // last file of a list has loaded (or keeps the player's first 640 x 480 when no item
    // has a picture).
    uint32_t width = 0;
    uint32_t height = 0;
    // Red, green, blue, 0.0 to 1.0.
    float background[3] = {0.0f, 0.0f, 0.0f};
    // How long a load, a seek or a picture may take before it counts as failed.
    uint32_t patienceMs = 30000;
};

class HeadlessStage : private PlayListHost {
public:
    enum class Transport { Stopped, Playing, Paused };

    HeadlessStage();
    ~HeadlessStage() override;
    HeadlessStage(const HeadlessStage&) = delete;
    HeadlessStage& operator=(const HeadlessStage&) = delete;

    // Registers the engine's modules, installs the headless windows and makes the
    // compositor and the factory; the audio mix goes to the null output. False with a
    // one-line reason in *error.
    bool start(const StageOptions& options, std::string* error);

    // Opens the files in list order (the first is the top layer), waits until every one
    // is ready, fits the video area when asked to, then applies the settings. A file no
    // engine opens fails the whole call.
    bool open(const std::vector<StageItem>& items, std::string* error);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // The common time line's length: the latest end of any item (offset + duration).
    uint32_t playLength();

    // The picture of the video area at common time ms, made deterministically: every
    // item is put where the player has it at that time of its first play after loading
    // (a movie sought to ms - offset and paused, its picture delivered; before its start
    // a movie shows its cleared texture and a picture nothing; after its end a movie
    // shows its last picture), then one frame is composed. Top-down B, G, R, A bytes,
    // width() * 4 per row. Only while the transport is stopped.
    bool renderAt(uint32_t ms, std::vector<uint8_t>* bgra, std::string* error);
    // One frame of the items as they are now (what the player's render thread draws).
    bool compose(std::vector<uint8_t>* bgra);

    // Transport, with the player's rules. play: from stopped, every item starts offset
    // ms after the common start (items whose offset is not positive are sought to
    // -offset and started together); from paused, resumes. pause: pauses a playing
    // transport. stop: stops every item; the clock goes back to 0.
    bool play();
    bool pause();
    void stop();
    Transport transport() const { return transport_; }
    // The common time line's position.
    uint32_t clockMs() const { return clock_.elapsed(); }
    // Plays from the start until the clock reaches ms, handling the engine's messages
    // meanwhile, then stops. False when nothing can play.
    bool playFor(uint32_t ms, std::string* error);

    // Handles the messages posted so far, and any arriving within waitMs.
    void pumpMessages(uint32_t waitMs);

    // The mix goes to a WAV file (real-time pacing) until endAudioCapture, which
    // completes the file and returns to the null output.
    bool captureAudioTo(const std::string& path, std::string* error);
    void endAudioCapture();

    PlayList& playList() { return *list_; }
    DrawBase* drawBase() const { return drawBase_.get(); }
    HWND videoWindow() const { return window_; }

private:
    class FrameCapture;
    struct Positioning;

    // PlayListHost.
    DrawBase* compositor() override { return drawBase_.get(); }
    MoviePlayerFactory* directShowFactory() override;
    MoviePlayerFactory* mediaFoundationFactory() override { return nullptr; }
    HWND mainWindow() override { return window_; }
    void videoAreaSize(uint32_t* width, uint32_t* height) override;
    void resizeToVideoSize(uint32_t width, uint32_t height) override;
    void notifyListEditor(int32_t) override {}
    void showLoadError() override { loadFailed_ = true; }

    void handleMessage(const MSG& message);
    bool applySettings(const std::vector<StageItem>& items, std::string* error);
    bool resizeVideoArea(uint32_t width, uint32_t height);
    // Movie positioning for renderAt.
    bool startStill(MovieItem& movie, int64_t ms, std::string* error);
    bool settle(MovieItem& movie, int64_t ms, bool* gotPicture, std::string* error);
    bool seekAndSettle(MovieItem& movie, int64_t ms, bool* gotPicture, std::string* error);
    void park(MovieItem& movie);
    bool showLastPicture(MovieItem& movie, int64_t from, std::string* error);
    void clearPicture(MovieItem& movie);
    uint32_t releaseTasks(uint32_t count);

    StageOptions options_;
    std::unique_ptr<ComUser> comUser_;
    HWND window_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    bool fitted_ = false;
    bool loadFailed_ = false;
    std::shared_ptr<FrameCapture> capture_;
    std::unique_ptr<DisplayConfig> config_;
    std::unique_ptr<DrawBase> drawBase_;
    std::unique_ptr<DirectShowPlayerFactory> factory_;
    std::unique_ptr<PlayList> list_;
    std::unique_ptr<ThreadPool> pool_;
    std::unique_ptr<Semaphore> taskLatch_;
    Stopwatch clock_;
    Transport transport_ = Transport::Stopped;
    // Movies renderAt moved away from where the player leaves them when stopped.
    std::vector<int32_t> displaced_;
};
