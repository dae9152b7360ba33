#include <gtest/gtest.h>

#include "framework/ComObject.h"
#include "framework/Guid.h"
#include "framework/InterfacePtr.h"
#include "framework/RefObject.h"
#include "framework/WideString.h"

namespace {

struct IAlpha : IUnknown {
    static constexpr GUID iid = guidOf("{11111111-2222-3333-4444-555555555555}");
    virtual int alpha() = 0;
};
struct IBeta : IUnknown {
    static constexpr GUID iid = guidOf("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}");
    virtual int beta() = 0;
};
struct IGamma : IUnknown {
    static constexpr GUID iid = guidOf("{0BADF00D-0000-0000-0000-000000000001}");
};

class Both : public ComObject<IAlpha, IBeta> {
public:
    static inline int destroyed = 0;
    ~Both() override { ++destroyed; }
    int alpha() override { return 1; }
    int beta() override { return 2; }
};

TEST(ComObject, QueryAnswersEachInterfaceAndCountsReferences) {
    InterfacePtr<IAlpha> a(new Both);
    InterfacePtr<IBeta> b = a.as<IBeta>();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->beta(), 2);
    InterfacePtr<IUnknown> u = a.as<IUnknown>();
    ASSERT_TRUE(u);
    // IUnknown identity is the same through either interface.
    EXPECT_EQ(u.get(), b.as<IUnknown>().get());
    InterfacePtr<IGamma> g;
    EXPECT_EQ(a.as(g), E_NOINTERFACE);
    EXPECT_FALSE(g);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(a->QueryInterface(IGamma::iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(a->QueryInterface(IAlpha::iid, nullptr), E_POINTER);
    a.reset();
    b.reset();
    EXPECT_EQ(Both::destroyed, 0);
    u.reset();
    EXPECT_EQ(Both::destroyed, 1);
}

struct Layer : RefObject {
    bool queryIdentifier(uint32_t id, void** out) override {
        if (id == 0x4020052 || id == 0x4020053) {
            *out = this;
            addRef();
            return true;
        }
        return RefObject::queryIdentifier(id, out);
    }
};

TEST(RefObject, NumericIdentifierQuery) {
    InterfacePtr<Layer> layer(new Layer);
    void* out = nullptr;
    for (uint32_t id : {1u, 0x4020052u, 0x4020053u}) {
        EXPECT_TRUE(layer->queryIdentifier(id, &out)) << id;
        EXPECT_EQ(out, layer.get());
        static_cast<Layer*>(out)->release();
    }
    EXPECT_FALSE(layer->queryIdentifier(0x4020054, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(layer->referenceCount(), 1u);
}

TEST(Guid, TextFormRoundTripsAndOrders) {
    constexpr GUID g = guidOf("{448F762D-03F7-4DBB-87FD-C76C83C443E9}");
    EXPECT_EQ(g.Data1, 0x448F762Du);
    EXPECT_EQ(g.Data4[7], 0xE9);
    EXPECT_EQ(guidToString(g), "{448F762D-03F7-4DBB-87FD-C76C83C443E9}");
    EXPECT_EQ(guidFromString("448f762d-03f7-4dbb-87fd-c76c83c443e9"), g);
    EXPECT_FALSE(guidFromString("{448F762D-03F7-4DBB-87FD-C76C83C443E}"));
    EXPECT_FALSE(guidFromString("{448F762D-03F7-4DBB-87FDXC76C83C443E9}"));
    EXPECT_FALSE(guidFromString("{G48F762D-03F7-4DBB-87FD-C76C83C443E9}"));
    EXPECT_LT(GUID_NULL, g);
    EXPECT_EQ(guidFromFourcc(makeFourcc('Y', 'V', '1', '2')), guidOf("{32315659-0000-0010-8000-00AA00389B71}"));
}

TEST(WideString, Utf8RoundTripIncludingSurrogatesAndBadInput) {
    std::u16string jp = u"終了します。よろしいですか？";
    EXPECT_EQ(fromUtf8(toUtf8(jp)), jp);
    std::u16string astral = u"a\U0001F600b";
    EXPECT_EQ(toUtf8(astral),
              "a\xF0\x9F\x98\x80"
              "b");
    EXPECT_EQ(fromUtf8(toUtf8(astral)), astral);
    EXPECT_EQ(fromUtf8("\xC3"), u"\uFFFD");              // truncated
    EXPECT_EQ(fromUtf8("\xC0\x80x"), u"\uFFFD\uFFFDx");  // overlong
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
