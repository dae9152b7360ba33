// The DirectShow player's open rules and transport against a scripted graph manager: what
// the player asks of the graph, which state it keeps, what it posts to its window.
#include <gtest/gtest.h>

#include <string>

#include "FakeFilterGraph.h"
#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "media/DirectShowMoviePlayer.h"
#include "media/DirectShowPlayerFactory.h"
#include "media/MoviePlayer.h"

using fakegraph::record;

namespace {

HWND const kWindow = reinterpret_cast<HWND>(0x5150);
constexpr uintptr_t kCookie = 0xC0FFEE;

class DirectShowPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerComClass(CLSID_FilterGraph, &createComObject<fakegraph::FakeGraph>);
        fakegraph::installRecordingWindowApi();
        record().reset({});
    }
    void TearDown() override {
        unregisterComClass(CLSID_FilterGraph);
        uninstallWindowApi();
    }

    // A player opened over the scripted graph with the system renderer route.
    InterfacePtr<MoviePlayer> openPlayer(DirectShowPlayerFactory& factory, uint32_t flags = 0,
                                         const std::u16string& name = u"/media/movie.mkv") {
        return InterfacePtr<MoviePlayer>::adopt(factory.open(name, flags, kCookie));
    }

    static std::vector<fakegraph::Posted> readyMessages() {
        return fakegraph::postedMessages(DirectShowPlayerFactory::kMediaReadyMessage);
    }
};

TEST_F(DirectShowPlayerTest, OpenOnTheSystemRoutePlacesTheWindowAndReportsReady) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    record().script.videoWidth = 352;
    record().script.videoHeight = 288;
    InterfacePtr<MoviePlayer> player = openPlayer(factory);
    ASSERT_TRUE(player);

    EXPECT_EQ(player->stateFlags(), MoviePlayer::Opened | MoviePlayer::HasAudio | MoviePlayer::HasVideo);
    uint32_t w = 0, h = 0;
    EXPECT_EQ(player->videoSize(&w, &h), 1);
    EXPECT_EQ(w, 352u);
    EXPECT_EQ(h, 288u);
    EXPECT_EQ(player->videoSize(nullptr, &h), 0);
    EXPECT_EQ(player->durationMs(), 5000u);
    EXPECT_EQ(player->frameSource(), nullptr);

    // Without the own source the graph picks one: RenderFile, never Render.
    EXPECT_EQ(record().callsNamed("RenderFile").size(), 1u);
    EXPECT_TRUE(record().callsNamed("Render").empty());
    // The probe volume of 0 found the audio branch.
    ASSERT_FALSE(record().callsNamed("put_Volume").empty());
    EXPECT_EQ(record().callsNamed("put_Volume")[0].a, 0);
    // The system window becomes a child of the notification window.
    EXPECT_EQ(record().callsNamed("put_Owner")[0].a, reinterpret_cast<OAHWND>(kWindow));
    EXPECT_EQ(record().callsNamed("put_MessageDrain")[0].a, reinterpret_cast<OAHWND>(kWindow));
    EXPECT_EQ(record().callsNamed("put_WindowStyle")[0].a, 0x44000000);
    EXPECT_EQ(record().callsNamed("SetTimeFormat")[0].a, 1);
    // Graph events come to the window with the player as the instance value.
    EXPECT_EQ(record().notifyWindow, reinterpret_cast<OAHWND>(kWindow));
    EXPECT_EQ(record().notifyMessage, 0x1401);
    EXPECT_EQ(record().notifyInstance, reinterpret_cast<LONG_PTR>(player.get()));

    auto ready = readyMessages();
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].window, kWindow);
    EXPECT_EQ(static_cast<HRESULT>(ready[0].wParam), S_OK);
    EXPECT_EQ(static_cast<uintptr_t>(ready[0].lParam), kCookie);
}

TEST_F(DirectShowPlayerTest, FailedOpensPostTheirResultAndGiveNoPlayer) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    struct Case {
        const char* what;
        fakegraph::Script script;
        uint32_t flags;
        HRESULT expected;
    };
    fakegraph::Script noAudio;
    noAudio.audioResult = E_NOTIMPL;
    fakegraph::Script noVideo;
    noVideo.visibleResult = E_NOINTERFACE;
    fakegraph::Script emptyPicture;
    emptyPicture.videoWidth = 0;
    fakegraph::Script cannotRender;
    cannotRender.renderResult = VFW_E_CANNOT_RENDER;
    const Case cases[] = {
        {"audio-only without audio", noAudio, MoviePlayerFactory::OpenAudioOnly, E_INVALIDARG},
        {"video-only without video", noVideo, MoviePlayerFactory::OpenVideoOnly, E_INVALIDARG},
        {"system picture below 1x1", emptyPicture, 0, E_FAIL},
        {"render fails", cannotRender, 0, VFW_E_CANNOT_RENDER},
    };
    uintptr_t cookie = 1;
    for (const Case& c : cases) {
        record().reset(c.script);
        fakegraph::installRecordingWindowApi();
        MoviePlayer* player = factory.open(u"clip.mkv", c.flags, cookie);
        EXPECT_EQ(player, nullptr) << c.what;
        auto ready = readyMessages();
        ASSERT_EQ(ready.size(), 1u) << c.what;
        EXPECT_EQ(static_cast<HRESULT>(ready[0].wParam), c.expected) << c.what;
        EXPECT_EQ(static_cast<uintptr_t>(ready[0].lParam), cookie) << c.what;
        // The failed player and its graph are gone.
        EXPECT_EQ(record().alive, 0) << c.what;
        ++cookie;
    }
}

TEST_F(DirectShowPlayerTest, NullFileNameAnswersAtOnceWithoutAMessage) {
    InterfacePtr<DirectShowMoviePlayer> player(new DirectShowMoviePlayer(nullptr, kWindow, 640, 480));
    OpenParameters p;
    p.cookie = kCookie;
    EXPECT_EQ(player->open(p, nullptr), E_POINTER);
    EXPECT_TRUE(readyMessages().empty());
    EXPECT_EQ(player->play(0), 0);
}

TEST_F(DirectShowPlayerTest, AudioOnlyHidesTheWindowAndVideoOnlyMutes) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    InterfacePtr<MoviePlayer> audioOnly = openPlayer(factory, MoviePlayerFactory::OpenAudioOnly);
    ASSERT_TRUE(audioOnly);
    EXPECT_TRUE(audioOnly->hasAudio());
    EXPECT_FALSE(audioOnly->hasVideo());
    EXPECT_EQ(record().callsNamed("put_AutoShow")[0].a, 0);
    EXPECT_EQ(record().callsNamed("put_Visible")[0].a, 0);
    // Video placement needs video.
    EXPECT_EQ(audioOnly->setVideoRect(1, nullptr, nullptr), 0);

    record().reset({});
    InterfacePtr<MoviePlayer> videoOnly = openPlayer(factory, MoviePlayerFactory::OpenVideoOnly);
    ASSERT_TRUE(videoOnly);
    EXPECT_TRUE(videoOnly->hasVideo());
    EXPECT_FALSE(videoOnly->hasAudio());
    EXPECT_EQ(record().callsNamed("put_Balance")[0].a, 0);
    EXPECT_EQ(record().callsNamed("put_Volume").back().a, -10000);
    // A muted player refuses level changes.
    EXPECT_EQ(videoOnly->setVolume(500), 0);
}

TEST_F(DirectShowPlayerTest, TransportFollowsTheStateFlags) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    InterfacePtr<MoviePlayer> player = openPlayer(factory);
    ASSERT_TRUE(player);

    EXPECT_EQ(player->togglePause(), 1);  // not playing: nothing
    EXPECT_EQ(record().state, State_Stopped);
    EXPECT_EQ(player->play(0), 1);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(record().state, State_Running);
    EXPECT_EQ(player->togglePause(), 1);
    EXPECT_EQ(record().state, State_Paused);
    EXPECT_TRUE(player->stateFlags() & MoviePlayer::Paused);

    // play on a paused player changes nothing; togglePause resumes it.
    size_t runs = record().callsNamed("Run").size();
    EXPECT_EQ(player->play(1), 1);
    EXPECT_EQ(record().callsNamed("Run").size(), runs);
    EXPECT_EQ(record().state, State_Paused);
    EXPECT_FALSE(player->stateFlags() & MoviePlayer::Looping);
    EXPECT_EQ(player->togglePause(), 1);
    EXPECT_EQ(record().state, State_Running);
    EXPECT_FALSE(player->stateFlags() & MoviePlayer::Paused);

    // stop: paused at position 0, Playing and Paused cleared.
    record().current = 30000000;
    EXPECT_EQ(player->stop(), 1);
    EXPECT_EQ(record().state, State_Paused);
    EXPECT_EQ(record().current, 0);
    EXPECT_EQ(player->stateFlags() & (MoviePlayer::Playing | MoviePlayer::Paused), 0u);
    EXPECT_TRUE(player->stateFlags() & MoviePlayer::Opened);
    size_t stops = record().callsNamed("Stop").size();
    EXPECT_EQ(player->stop(), 1);  // not playing: nothing
    EXPECT_EQ(record().callsNamed("Stop").size(), stops);

    // suspend keeps the flags; resume restores a pause.
    player->play(0);
    player->togglePause();
    player->suspend();
    EXPECT_EQ(record().state, State_Stopped);
    EXPECT_TRUE(player->isPlaying());
    player->resume();
    EXPECT_EQ(record().state, State_Paused);
}

TEST_F(DirectShowPlayerTest, PositionsAndSeeks) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    InterfacePtr<MoviePlayer> player = openPlayer(factory);
    ASSERT_TRUE(player);

    record().current = 15999999;
    EXPECT_EQ(player->position(), 15999999);
    EXPECT_EQ(player->positionMs(), 1599u);

    record().stop = 50000000;
    EXPECT_EQ(player->seekForwardMs(250), 1);
    EXPECT_EQ(record().current, 15999999 + 2500000);
    EXPECT_EQ(record().callsNamed("SetPositions").back().b, 50000000);  // stop kept
    EXPECT_EQ(player->seekBackMs(1000), 1);
    EXPECT_EQ(record().current, 15999999 + 2500000 - 10000000);
    // Stepping back past the start lands on the start.
    EXPECT_EQ(player->seekBackMs(60000), 1);
    EXPECT_EQ(record().current, 0);
    EXPECT_EQ(player->seekToMs(4321), 1);
    EXPECT_EQ(record().current, 43210000);
    EXPECT_EQ(player->seekTo(123), 1);
    EXPECT_EQ(record().current, 123);

    record().script.seekResult = E_FAIL;
    uint32_t flags = player->stateFlags();
    EXPECT_EQ(player->seekTo(0), 0);
    EXPECT_EQ(player->seekRelative(10), 0);
    EXPECT_EQ(player->stateFlags(), flags);

    EXPECT_EQ(player->setRate(0.0), 0);
    EXPECT_EQ(player->setRate(-1.0), 0);
    EXPECT_EQ(player->setRate(1.5), 1);
    EXPECT_EQ(record().callsNamed("SetRate").back().a, 1500);
}

TEST_F(DirectShowPlayerTest, AudioLevelsAreConvertedAndRangeChecked) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    InterfacePtr<MoviePlayer> player = openPlayer(factory);
    ASSERT_TRUE(player);
    auto lastVolume = [] { return record().callsNamed("put_Volume").back().a; };
    auto lastBalance = [] { return record().callsNamed("put_Balance").back().a; };

    EXPECT_EQ(player->setVolume(0), 1);
    EXPECT_EQ(lastVolume(), -10000);
    EXPECT_EQ(player->setVolume(500), 1);
    EXPECT_EQ(lastVolume(), -602);
    EXPECT_EQ(player->setPan(-1000), 1);
    EXPECT_EQ(lastBalance(), -10000);
    EXPECT_EQ(player->setPan(1000), 1);
    EXPECT_EQ(lastBalance(), 10000);

    size_t volumes = record().callsNamed("put_Volume").size();
    size_t balances = record().callsNamed("put_Balance").size();
    EXPECT_EQ(player->setVolume(1001), 0);
    EXPECT_EQ(player->setVolume(-1), 0);
    EXPECT_EQ(player->setPan(-1001), 0);
    EXPECT_EQ(player->setPan(1001), 0);
    EXPECT_EQ(player->setVolumeRaw(1), 0);
    EXPECT_EQ(player->setVolumeRaw(-10001), 0);
    EXPECT_EQ(player->setPanRaw(10001), 0);
    EXPECT_EQ(record().callsNamed("put_Volume").size(), volumes);
    EXPECT_EQ(record().callsNamed("put_Balance").size(), balances);

    EXPECT_EQ(player->setVolumeRaw(-1234), 1);
    EXPECT_EQ(lastVolume(), -1234);
    EXPECT_EQ(player->setPanRaw(-10000), 1);
    EXPECT_EQ(lastBalance(), -10000);

    // The audio interface refusing the value makes the operation fail.
    record().script.audioResult = E_FAIL;
    EXPECT_EQ(player->setVolume(1000), 0);
}

TEST_F(DirectShowPlayerTest, EndOfStreamStopsOrLoops) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    InterfacePtr<MoviePlayer> player = openPlayer(factory);
    ASSERT_TRUE(player);
    LPARAM self = reinterpret_cast<LPARAM>(player.get());

    // Only the graph-event message is handled; an unknown player is answered with 1.
    EXPECT_EQ(factory.onGraphEvent(0x1402, 0, self), 0);
    EXPECT_EQ(factory.onGraphEvent(0x1401, 0, self + 8), 1);

    // Events other than the end leave the graph alone, but all are read and freed.
    player->play(0);
    record().events = {EC_PAUSED, EC_CLOCK_CHANGED};
    EXPECT_EQ(factory.onGraphEvent(0x1401, 0, self), 1);
    EXPECT_TRUE(record().events.empty());
    EXPECT_EQ(record().callsNamed("FreeEventParams").size(), 2u);
    EXPECT_EQ(record().state, State_Running);

    // Without looping the end leaves it stopped, no longer playing.
    record().events = {EC_COMPLETE};
    record().current = 50000000;
    EXPECT_EQ(factory.onGraphEvent(0x1401, 0, self), 1);
    EXPECT_EQ(record().state, State_Stopped);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(record().current, 50000000);

    // With looping: stopped, back to 0 and running again. play(0) keeps the loop flag.
    EXPECT_EQ(player->play(1), 1);
    player->stop();
    EXPECT_EQ(player->play(0), 1);
    EXPECT_TRUE(player->stateFlags() & MoviePlayer::Looping);
    record().current = 50000000;
    record().events = {EC_COMPLETE};
    size_t stops = record().callsNamed("Stop").size();
    EXPECT_EQ(factory.onGraphEvent(0x1401, 0, self), 1);
    EXPECT_EQ(record().callsNamed("Stop").size(), stops + 1);
    EXPECT_EQ(record().current, 0);
    EXPECT_EQ(record().state, State_Running);
    EXPECT_TRUE(player->isPlaying());
}

TEST_F(DirectShowPlayerTest, AnEndThatArrivesAfterAPauseDoesNotStrandThePlayer) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    InterfacePtr<MoviePlayer> player = openPlayer(factory);
    ASSERT_TRUE(player);
    player->play(0);
    player->togglePause();
    record().events = {EC_COMPLETE};
    factory.onGraphEvent(0x1401, 0, reinterpret_cast<LPARAM>(player.get()));
    EXPECT_EQ(player->stateFlags() & (MoviePlayer::Playing | MoviePlayer::Paused), 0u);
    // play works again instead of being taken for "paused".
    EXPECT_EQ(player->play(0), 1);
    EXPECT_EQ(record().state, State_Running);
}

TEST_F(DirectShowPlayerTest, VideoPlacementAndFullScreenOnTheSystemWindow) {
    DirectShowPlayerFactory factory(kWindow, 640, 480);
    record().script.videoWidth = 200;
    record().script.videoHeight = 100;
    InterfacePtr<MoviePlayer> player = openPlayer(factory);
    ASSERT_TRUE(player);
    auto lastPlacement = [] {
        auto c = record().callsNamed("SetWindowPosition").back();
        return std::vector<LONGLONG>{c.a >> 32, c.a & 0xFFFFFFFF, c.b >> 32, c.b & 0xFFFFFFFF};
    };

    EXPECT_EQ(player->setVideoRect(1, nullptr, nullptr), 1);
    EXPECT_EQ(lastPlacement(), (std::vector<LONGLONG>{0, 0, 640, 480}));
    POINT at{10, 20};
    EXPECT_EQ(player->setVideoRect(0, &at, nullptr), 1);
    EXPECT_EQ(lastPlacement(), (std::vector<LONGLONG>{10, 20, 200, 100}));
    SIZE size{30, 40};
    EXPECT_EQ(player->setVideoRect(0, nullptr, &size), 1);
    EXPECT_EQ(lastPlacement(), (std::vector<LONGLONG>{0, 0, 30, 40}));

    record().drain = 77;
    EXPECT_EQ(player->toggleFullScreen(1), 1);
    EXPECT_TRUE(player->stateFlags() & MoviePlayer::FullScreen);
    EXPECT_EQ(record().drain, reinterpret_cast<OAHWND>(kWindow));
    EXPECT_EQ(player->toggleFullScreen(1), 1);  // already there
    EXPECT_EQ(record().callsNamed("put_FullScreenMode").size(), 1u);
    // Placement is left alone in full-screen mode.
    size_t placements = record().callsNamed("SetWindowPosition").size();
    EXPECT_EQ(player->setVideoRect(1, nullptr, nullptr), 1);
    EXPECT_EQ(record().callsNamed("SetWindowPosition").size(), placements);

    EXPECT_EQ(player->toggleFullScreen(0), 1);
    EXPECT_FALSE(player->stateFlags() & MoviePlayer::FullScreen);
    EXPECT_EQ(record().drain, 77);  // the saved drain is back
    EXPECT_EQ(record().callsNamed("SetWindowForeground").back().a, OATRUE);
}

TEST_F(DirectShowPlayerTest, CloseAndFactoryTeardownLeaveOwnersSafe) {
    auto factory = std::make_unique<DirectShowPlayerFactory>(kWindow, 640, 480);
    InterfacePtr<MoviePlayer> closed = openPlayer(*factory);
    InterfacePtr<MoviePlayer> kept = openPlayer(*factory);
    ASSERT_TRUE(closed && kept);
    LPARAM closedAddress = reinterpret_cast<LPARAM>(closed.get());

    // A closed player is no longer found by its events.
    closed->close();
    closed->play(0);
    record().events = {EC_COMPLETE};
    factory->onGraphEvent(0x1401, 0, closedAddress);
    EXPECT_TRUE(closed->isPlaying());
    EXPECT_EQ(record().events.size(), 1u);
    closed.reset();
    EXPECT_EQ(record().alive, 1);

    // The factory stops the graphs of players still listed and lets them go; the owner's
    // reference stays valid but the player is inert.
    kept->play(0);
    factory.reset();
    EXPECT_EQ(record().alive, 0);
    EXPECT_FALSE(kept->isPlaying());
    EXPECT_EQ(kept->play(0), 0);
    EXPECT_EQ(kept->position(), 0);
    kept->close();
}

}  // namespace
