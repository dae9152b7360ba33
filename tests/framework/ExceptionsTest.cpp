#include <gtest/gtest.h>

#include <string>

#include "framework/Exceptions.h"
#include "framework/InterfacePtr.h"
#include "framework/RefObject.h"
#include "framework/SharedRef.h"

namespace {

std::u16string text(const IException& e) {
    return e.message();
}

TEST(Exceptions, DirectxExceptionTakesCategoryNameWhenNoText) {
    directx_exception e(5, static_cast<int32_t>(0x80004001), nullptr);
    EXPECT_EQ(text(e), u"Direct3DInitializeException");
    EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x80004001u);
    EXPECT_EQ(e.extra(), 0);

    EXPECT_EQ(text(directx_exception(42, static_cast<int32_t>(0x80004005))), u"UnknownInitializeError");
    EXPECT_EQ(text(directx_exception(-1, 0)), u"UnknownInitializeError");
    EXPECT_EQ(text(directx_exception(0, 0)), u"DirectXInitializeException");
    EXPECT_EQ(text(directx_exception(17, 0)), u"MediaFoundationException");
    EXPECT_EQ(text(directx_exception(18, 0)), u"UnknownInitializeError");
}

TEST(Exceptions, GivenTextWinsAndLongTextIsCutTo127Units) {
    directx_exception named(13, static_cast<int32_t>(0x88760827), u"D3DERR_DRIVERINTERNALERROR");
    EXPECT_EQ(text(named), u"D3DERR_DRIVERINTERNALERROR");

    std::u16string longText(200, u'x');
    directx_exception cut(2, 0, longText.c_str());
    EXPECT_EQ(text(cut), std::u16string(127, u'x'));
    // The rest of the fixed record is zero.
    for (int i = 127; i < IException::kMessageUnits; ++i) EXPECT_EQ(cut.message()[i], u'\0');
}

TEST(Exceptions, HolderExceptionsCarryFixedTextsAndReason) {
    smart_ptr_exception s(2);
    EXPECT_EQ(text(s), u"smart ptr exception");
    EXPECT_EQ(s.code(), 2);
    interface_ptr_exception i(1);
    EXPECT_EQ(text(i), u"interface ptr exception");
    EXPECT_EQ(i.code(), 1);
}

TEST(Exceptions, CaughtByBaseWithWholeRecordCopied) {
    try {
        throw directx_exception(9, -5);
    } catch (const IException& e) {
        EXPECT_EQ(text(e), u"MediaFoundationInitializeException");
        EXPECT_EQ(e.code(), -5);
    }
}

struct Counted {
    static inline int alive = 0;
    int value = 7;
    Counted() { ++alive; }
    virtual ~Counted() { --alive; }
};
struct DerivedCounted : Counted {
    int more = 9;
};

TEST(SharedRef, EmptyIsCheckedBeforeIndex) {
    SharedRef<Counted> empty;
    empty.setIndex(5);
    try {
        (void)empty->value;
        FAIL() << "no exception";
    } catch (const smart_ptr_exception& e) {
        EXPECT_EQ(e.code(), 1);
    }
}

TEST(SharedRef, IndexOutOfRangeRaisesCode2) {
    SharedRef<Counted> one(new Counted);
    EXPECT_EQ(one->value, 7);
    one.setIndex(1);
    try {
        (void)one->value;
        FAIL() << "no exception";
    } catch (const smart_ptr_exception& e) {
        EXPECT_EQ(e.code(), 2);
    }
    one.setIndex(-1);
    EXPECT_THROW((void)*one, smart_ptr_exception);
    EXPECT_EQ(one.get(), nullptr);
}

TEST(SharedRef, LastReferenceDestroysObjectsAndArrays) {
    ASSERT_EQ(Counted::alive, 0);
    {
        SharedRef<Counted> a(new Counted);
        SharedRef<Counted> b = a;
        EXPECT_EQ(a.useCount(), 2);
        a.reset();
        EXPECT_EQ(Counted::alive, 1);
        auto arr = SharedRef<Counted>::makeArray(3);
        EXPECT_EQ(Counted::alive, 4);
        arr.setIndex(2);
        arr->value = 3;
        EXPECT_EQ(arr[2].value, 3);
        EXPECT_THROW((void)arr[3], smart_ptr_exception);
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(SharedRef, BaseViewOfDerivedObjects) {
    SharedRef<DerivedCounted> d = SharedRef<DerivedCounted>::makeArray(2);
    d.setIndex(1);
    d->value = 11;
    SharedRef<Counted> base = d;
    EXPECT_EQ(base->value, 11);
    EXPECT_EQ(base.useCount(), 2);
    d.reset();
    base.reset();
    EXPECT_EQ(Counted::alive, 0);
}

struct Thing : RefObject {
    static inline int destroyed = 0;
    ~Thing() override { ++destroyed; }
    void touch() {}
};

TEST(InterfacePtr, EmptyHolderRaisesOnAccessAndReleasesWhatItHolds) {
    InterfacePtr<Thing> empty;
    EXPECT_THROW(empty->touch(), interface_ptr_exception);
    {
        InterfacePtr<Thing> a(new Thing);
        InterfacePtr<Thing> b = a;
        EXPECT_EQ(a->referenceCount(), 2u);
    }
    EXPECT_EQ(Thing::destroyed, 1);
}

}  // namespace
