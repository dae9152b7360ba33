// The play list and its items on the software compositor, with test players and
// factories: creation and loader choice, readiness and fitting, the Media Foundation
// retry, moves, play length, drawing, and still images from real files.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PlayListTestDoubles.h"
#include "app/ImageItem.h"
#include "app/MovieItem.h"
#include "app/PlayList.h"
#include "graphics/LayerTexture.h"

using namespace apptest;

namespace {

template <class F>
void waitFor(F done) {
    for (int i = 0; i < 5000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

uintptr_t cookieOf(const SharedRef<PlayItem>& item) {
    return static_cast<MovieItem&>(*item).cookie();
}

class PlayListTest : public ::testing::Test {
protected:
    PlayListTest() : compositor_(64, 48), list_(host_) { host_.drawBase = compositor_.drawBase.get(); }

    // A player registered with the DirectShow factory under name.
    InterfacePtr<TestPlayer> movie(const std::u16string& name, uint32_t w = 8, uint32_t h = 6, uint32_t ms = 1000) {
        InterfacePtr<TestPlayer> p(new TestPlayer(true, true, w, h, ms));
        host_.directShow.add(name, p.get());
        return p;
    }
    SharedRef<PlayItem> add(const std::u16string& name) {
        SharedRef<PlayItem> item = list_.createItem(name, false);
        EXPECT_TRUE(item);
        list_.appendItem(item);
        return item;
    }
    std::vector<int32_t> ids() {
        std::vector<int32_t> out;
        list_.forEach([&](PlayItem& item) { out.push_back(item.id()); });
        return out;
    }
    LayerTexture* textureOf(const SharedRef<PlayItem>& item) { return static_cast<MovieItem&>(*item).texture(); }

    SoftwareCompositor compositor_;
    TestHost host_;
    PlayList list_;
    testsupport::TempDir dir_;
};

TEST_F(PlayListTest, NewMovieItemHasDefaultsAndOpensThroughDirectShowWithItsIdAsCookie) {
    EXPECT_FALSE(list_.createItem(u"missing.xyz", false));  // uses up id 1
    movie(u"a.mbc");
    SharedRef<PlayItem> a = list_.createItem(u"a.mbc", false);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->id(), 2);
    EXPECT_EQ(a->colour(), 0xFFFFFFFFu);
    EXPECT_EQ(a->offsetMs(), 0);
    EXPECT_EQ(a->pan(), 0);
    EXPECT_EQ(a->volume(), 1000);
    EXPECT_EQ(a->destRect(), (RECT{0, 0, 0, 0}));
    ASSERT_EQ(host_.directShow.calls.size(), 2u);
    EXPECT_EQ(host_.directShow.calls[1].flags, 0x1200000u);
    EXPECT_EQ(host_.directShow.calls[1].cookie, cookieOf(a));
    EXPECT_TRUE(host_.mediaFoundation.calls.empty());
}

TEST_F(PlayListTest, ReadyMovieGetsATextureOfItsSizeAndFitsTheWindowOnTheLastLoad) {
    InterfacePtr<TestPlayer> player = movie(u"a.mbc", 8, 6);
    VideoFrameSource& source = player->addFrameSource();
    movie(u"tall.mbc", 4, 300);
    list_.setPendingLoads(2);
    SharedRef<PlayItem> item = add(u"a.mbc");
    SharedRef<PlayItem> tall = add(u"tall.mbc");
    item->setVolume(500);
    item->setPan(-250);
    RECT early{1, 2, 3, 4};
    item->setDestRect(&early);

    list_.onItemReady(cookieOf(item), 0, false);
    EXPECT_EQ(item->sourceRect(), (RECT{0, 0, 8, 6}));
    EXPECT_EQ(item->destRect(), (RECT{0, 0, 8, 6}));
    EXPECT_EQ(player->volume, 500);
    EXPECT_EQ(player->pan, -250);
    ASSERT_NE(textureOf(item), nullptr);
    EXPECT_EQ(source.attach(textureOf(item)), 0);  // the source already holds it
    EXPECT_TRUE(host_.resizes.empty());

    // A DirectShow failure leaves the item unprepared but counts as done.
    list_.onItemReady(cookieOf(tall), E_FAIL, false);
    EXPECT_EQ(textureOf(tall), nullptr);
    EXPECT_EQ(host_.resizes, (std::vector<std::pair<uint32_t, uint32_t>>{{8, 300}}));
    EXPECT_EQ(host_.notified, (std::vector<int32_t>{0, 0}));

    // A report for an item no longer listed changes nothing.
    uintptr_t cookie = cookieOf(item);
    list_.removeItem(item->id());
    item.reset();
    EXPECT_EQ(player->closes, 1);
    list_.setPendingLoads(1);
    list_.onItemReady(cookie, 0, false);
    EXPECT_EQ(list_.pendingLoads(), 1);
    EXPECT_EQ(host_.notified.size(), 2u);
}

TEST_F(PlayListTest, DrawShowsDeliveredPicturesAndResendsGeometryOnlyWhenDirty) {
    InterfacePtr<TestPlayer> player = movie(u"a.mbc", 4, 4);
    VideoFrameSource& source = player->addFrameSource();
    SharedRef<PlayItem> item = add(u"a.mbc");
    list_.onItemReady(cookieOf(item), 0, false);
    compositor_.frame(0xFF0000FF, [&] { EXPECT_TRUE(item->draw()); });
    EXPECT_EQ(compositor_.capture->at(1, 1), 0x0000FFu);  // transparent until a picture

    std::vector<uint32_t> red(16, 0xFFFF0000u);
    ASSERT_EQ(source.deliver(reinterpret_cast<const uint8_t*>(red.data()), red.size() * 4), S_OK);
    RECT dest{10, 10, 18, 18};
    item->setDestRect(&dest);
    item->setColour(0x80FFFFFF);
    compositor_.frame(0xFF000000, [&] { item->draw(); });
    EXPECT_EQ(compositor_.capture->at(12, 12), 0x800000u);
    EXPECT_EQ(compositor_.capture->at(9, 12), 0u);
    EXPECT_EQ(compositor_.capture->at(18, 12), 0u);

    // Held so that a new buffer can never reuse the old one's address.
    InterfacePtr<IDirect3DVertexBuffer9> first(textureOf(item)->mesh().vertexBuffer());
    compositor_.frame(0xFF000000, [&] { item->draw(); });
    EXPECT_EQ(textureOf(item)->mesh().vertexBuffer(), first.get());
    item->setColour(0x40FFFFFF);
    compositor_.frame(0xFF000000, [&] { item->draw(); });
    EXPECT_NE(textureOf(item)->mesh().vertexBuffer(), first.get());
}

TEST_F(PlayListTest, PrepareWithoutFrameSourcePlacesTheSystemWindow) {
    InterfacePtr<TestPlayer> windowed = movie(u"v.avi");
    SharedRef<PlayItem> v = add(u"v.avi");
    EXPECT_TRUE(v->prepare(false));
    EXPECT_EQ(windowed->videoRects, 1);
    EXPECT_EQ(textureOf(v), nullptr);
    EXPECT_FALSE(v->draw());
}

TEST_F(PlayListTest, MediaFoundationFailureRetriesThroughDirectShowAtTheSamePosition) {
    list_.setUseMediaFoundation(true);
    InterfacePtr<TestPlayer> mfPlayer(new TestPlayer(true, true, 8, 6, 1000));
    host_.mediaFoundation.add(u"b.mp4", mfPlayer.get());
    host_.mediaFoundation.add(u"only-mf.mp4", mfPlayer.get());
    movie(u"a.mbc");
    movie(u"b.mp4");
    SharedRef<PlayItem> a = list_.createItem(u"a.mbc", true);  // forced: no Media Foundation
    SharedRef<PlayItem> b = list_.createItem(u"b.mp4", false);
    SharedRef<PlayItem> c = list_.createItem(u"only-mf.mp4", false);
    list_.replaceList({a, b, c});
    ASSERT_EQ(host_.mediaFoundation.calls.size(), 2u);
    EXPECT_EQ(host_.mediaFoundation.calls[0].flags, 0x40u);
    EXPECT_TRUE(static_cast<MovieItem&>(*b).loadedThroughMediaFoundation());

    list_.onItemReady(cookieOf(b), E_FAIL, true);
    std::vector<int32_t> now = ids();
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(now[0], a->id());
    EXPECT_GT(now[1], c->id());  // a new id in the old place
    EXPECT_EQ(now[2], c->id());
    SharedRef<PlayItem> retried = list_.findItem(now[1]);
    EXPECT_EQ(retried->path(), u"b.mp4");
    EXPECT_FALSE(static_cast<MovieItem&>(*retried).loadedThroughMediaFoundation());
    EXPECT_EQ(host_.directShow.calls.back().flags, 0x1200000u);
    EXPECT_EQ(host_.loadErrors, 0);
    EXPECT_TRUE(host_.notified.empty());

    // DirectShow cannot open it either: the entry goes, with the error box.
    list_.onItemReady(cookieOf(c), E_FAIL, true);
    EXPECT_EQ(ids(), (std::vector<int32_t>{now[0], now[1]}));
    EXPECT_EQ(host_.loadErrors, 1);
}

TEST_F(PlayListTest, MediaFoundationLoaderFallsBackAndTheFailedEnginesReportIsIgnored) {
    list_.setUseMediaFoundation(true);
    movie(u"a.mbc");
    list_.setPendingLoads(1);
    SharedRef<PlayItem> item = add(u"a.mbc");
    EXPECT_EQ(host_.mediaFoundation.calls.size(), 1u);
    EXPECT_FALSE(static_cast<MovieItem&>(*item).loadedThroughMediaFoundation());
    list_.onItemReady(cookieOf(item), E_FAIL, true);
    EXPECT_EQ(ids(), std::vector<int32_t>{item->id()});
    EXPECT_EQ(list_.pendingLoads(), 1);
    list_.onItemReady(cookieOf(item), 0, false);
    EXPECT_EQ(list_.pendingLoads(), 0);
    // Without a Media Foundation factory the choice is moot.
    host_.withMediaFoundation = false;
    EXPECT_TRUE(list_.createItem(u"a.mbc", false));
    EXPECT_EQ(host_.mediaFoundation.calls.size(), 1u);
}

TEST_F(PlayListTest, MovesSwapNeighboursAndDoNothingAtTheEnds) {
    for (const char16_t* name : {u"1.mbc", u"2.mbc", u"3.mbc"}) {
        movie(name);
        add(name);
    }
    list_.findItem(2)->setOffset(700);
    list_.moveItemUp(1);
    list_.moveItemDown(3);
    list_.moveItemUp(99);
    EXPECT_EQ(ids(), (std::vector<int32_t>{1, 2, 3}));
    list_.moveItemUp(2);
    EXPECT_EQ(ids(), (std::vector<int32_t>{2, 1, 3}));
    list_.moveItemDown(2);
    list_.moveItemDown(2);
    EXPECT_EQ(ids(), (std::vector<int32_t>{1, 3, 2}));
    EXPECT_EQ(list_.findItem(2)->offsetMs(), 700);
    EXPECT_EQ(list_.findItem(2)->path(), u"2.mbc");
    list_.removeItem(3);
    list_.removeItem(42);
    EXPECT_EQ(ids(), (std::vector<int32_t>{1, 2}));
}

TEST_F(PlayListTest, PlayLengthLeavesOutItemsOverBeforePlayBegins) {
    movie(u"short.mbc", 8, 6, 300);
    movie(u"long.mbc", 8, 6, 10000);
    movie(u"late.mbc", 8, 6, 1000);
    add(u"short.mbc")->setOffset(-500);
    add(u"long.mbc")->setOffset(-500);
    add(u"late.mbc")->setOffset(2000);
    EXPECT_EQ(list_.recomputePlayLength(), 9500u);
    list_.findItem(3)->setOffset(9000);
    EXPECT_EQ(list_.recomputePlayLength(), 10000u);
    list_.clearList();
    EXPECT_EQ(list_.recomputePlayLength(), 0u);
}

TEST_F(PlayListTest, LargestDestinationExtentUsesBothEdgesAndNeedsItems) {
    uint32_t w = 1, h = 1;
    EXPECT_FALSE(list_.largestDestExtent(&w, &h));
    movie(u"a.mbc");
    RECT first{0, 0, 640, 480}, second{100, 50, 300, 700}, flipped{900, -20, -5, 10};
    add(u"a.mbc")->setDestRect(&first);
    SharedRef<PlayItem> b = add(u"a.mbc");
    b->setDestRect(&second);
    ASSERT_TRUE(list_.largestDestExtent(&w, &h));
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(640u, 700u));
    b->setDestRect(&flipped);
    ASSERT_TRUE(list_.largestDestExtent(&w, &h));
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(900u, 480u));
}

TEST_F(PlayListTest, SettingsTheMediaRefusesOrCannotSizeAreNotStored) {
    InterfacePtr<TestPlayer> player = movie(u"a.mbc");
    SharedRef<PlayItem> item = add(u"a.mbc");
    player->acceptAudioChanges = false;
    EXPECT_FALSE(item->setPan(-300));
    EXPECT_FALSE(item->setVolume(10));
    EXPECT_EQ(item->pan(), 0);
    EXPECT_EQ(item->volume(), 1000);
    EXPECT_TRUE(item->setSourceRect(nullptr));
    EXPECT_EQ(item->sourceRect(), (RECT{0, 0, 8, 6}));
    item->close();
    RECT r{1, 1, 2, 2};
    item->setSourceRect(&r);
    EXPECT_FALSE(item->setSourceRect(nullptr));
    EXPECT_EQ(item->sourceRect(), r);
}

TEST_F(PlayListTest, ScheduledStartPlaysOnceAndCancelStopsIt) {
    InterfacePtr<TestPlayer> player = movie(u"a.mbc");
    SharedRef<PlayItem> item = add(u"a.mbc");
    auto& m = static_cast<MovieItem&>(*item);
    ASSERT_TRUE(item->scheduleStart(1));
    waitFor([&] { return player->plays == 1 && m.startTimer() == 0; });
    EXPECT_EQ(player->plays, 1);
    EXPECT_EQ(m.startTimer(), 0u);
    ASSERT_TRUE(item->scheduleStart(100000));
    item->cancelStart();
    EXPECT_EQ(m.startTimer(), 0u);
    // A start whose time has already passed still happens.
    ASSERT_TRUE(item->scheduleStart(-40));
    waitFor([&] { return player->plays == 2; });
    EXPECT_EQ(player->plays, 2);
    item->seek(-5);
    EXPECT_EQ(player->lastSeek, 0u);
}

TEST_F(PlayListTest, RenderThreadDrawsWhileTheListAndItemsChange) {
    std::vector<InterfacePtr<TestPlayer>> players;
    for (const char16_t* name : {u"1.mbc", u"2.mbc", u"3.mbc"}) {
        players.push_back(movie(name, 4, 4));
        players.back()->addFrameSource();
        list_.onItemReady(cookieOf(add(name)), 0, false);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread render([&] {
        while (!stop) {
            compositor_.frame(list_.clearColour(), [&] { list_.forEachReverse([](PlayItem& item) { item.draw(); }); });
            ++frames;
        }
    });
    std::vector<uint32_t> pixels(16, 0xFF00FF00u);
    for (int i = 0; i < 200; ++i) {
        SharedRef<PlayItem> item = list_.findItem(1 + i % 3);
        RECT r{i % 7, 0, 8 + i % 5, 8};
        item->setDestRect(&r);
        item->setColour(0xFF000000u | uint32_t(i));
        item->scheduleStart(1);
        players[size_t(i % 3)]->frameSource()->deliver(reinterpret_cast<const uint8_t*>(pixels.data()), 64);
        list_.moveItemDown(1 + i % 3);
        list_.setBackground(i % 3, float(i % 10) / 10.0f);
    }
    while (frames < 3) std::this_thread::yield();
    stop = true;
    render.join();
    list_.clearList();
    for (auto& p : players) EXPECT_EQ(p->closes, 1);
}

TEST_F(PlayListTest, PictureFileBecomesALayerShownByItsOffsetAndStart) {
    writeBmp(dir_ / "green.bmp", 6, 4, 0x00FF00);
    testsupport::writeFile(dir_ / "junk.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
    EXPECT_FALSE(list_.createItem(u16(dir_ / "junk.png"), false));
    SharedRef<PlayItem> item = list_.createItem(u16(dir_ / "green.bmp"), false);
    ASSERT_TRUE(item);
    auto* image = dynamic_cast<ImageItem*>(item.get());
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(image->visible());
    EXPECT_EQ(item->destRect(), (RECT{0, 0, 6, 4}));
    EXPECT_FALSE(item->hasAudio());
    list_.appendItem(item);
    compositor_.frame(0xFF000000, [&] { EXPECT_TRUE(item->draw()); });
    EXPECT_EQ(compositor_.capture->at(2, 2), 0x00FF00u);
    EXPECT_EQ(compositor_.capture->at(7, 2), 0u);
    EXPECT_EQ(list_.recomputePlayLength(), 0u);  // only pictures: an empty time line

    item->setOffset(3000);
    item->stop();
    compositor_.frame(0xFF000000, [&] { EXPECT_FALSE(item->draw()); });
    ASSERT_TRUE(item->scheduleStart(100000));
    item->cancelStart();
    EXPECT_FALSE(image->visible());
    ASSERT_TRUE(item->scheduleStart(1));
    waitFor([&] { return image->visible(); });
    EXPECT_TRUE(image->visible());
    item->setOffset(0);
    item->stop();
    EXPECT_TRUE(image->visible());
}

TEST_F(PlayListTest, FailedMovieAttemptOfAPictureCountsItsLoad) {
    writeBmp(dir_ / "big.bmp", 700, 20, 0x808080);
    movie(u"a.mbc", 320, 240);
    list_.setUseMediaFoundation(true);
    list_.setPendingLoads(2);
    SharedRef<PlayItem> a = list_.createItem(u"a.mbc", true);
    SharedRef<PlayItem> picture = list_.createItem(u16(dir_ / "big.bmp"), false);
    ASSERT_TRUE(a && picture);
    list_.replaceList({a, picture});
    // Both engines tried the picture as a movie; only the DirectShow report counts.
    list_.onItemReady(uintptr_t(picture->id()), E_FAIL, true);
    list_.onItemReady(uintptr_t(picture->id()), E_FAIL, false);
    EXPECT_EQ(list_.pendingLoads(), 1);
    list_.onItemReady(cookieOf(a), 0, false);
    EXPECT_EQ(host_.resizes, (std::vector<std::pair<uint32_t, uint32_t>>{{700, 240}}));
}

}  // namespace
