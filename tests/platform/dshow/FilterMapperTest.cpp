// The mapper as graph-building code uses it: EnumMatchingFilters by input type and
// minimum merit, in falling merit order, monikers whose property bag answers
// "FriendlyName" and "CLSID" and that create the filter; registration by REGFILTER2.
#include <gtest/gtest.h>

#include "SyntheticFilters.h"
#include "framework/ComUser.h"
#include "framework/WideString.h"
#include "platform/dshow/FilterMapper.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PipelineClasses.h"

using namespace synthetic;

namespace {

constexpr CLSID kPreferred = guidOf("{6A3E4001-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kNormal = guidOf("{6A3E4002-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kDoNotUse = guidOf("{6A3E4003-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kAudioOnly = guidOf("{6A3E4004-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kViaMapper = guidOf("{6A3E4005-1F0C-4E0B-9E51-3C7D2A8B9F01}");

FilterRegistration entry(const CLSID& clsid, const char16_t* name, DWORD merit, const GUID& major, const GUID& sub) {
    FilterRegistration r;
    r.clsid = clsid;
    r.name = name;
    r.merit = merit;
    r.create = [clsid](REFIID riid, void** out) {
        auto* f = new RecordingSink(MEDIATYPE_Video, kSubtypeA, clsid);
        f->AddRef();
        HRESULT hr = f->QueryInterface(riid, out);
        f->Release();
        return hr;
    };
    r.pins = {{false, true, {{major, sub}}}, {true, false, {{MEDIATYPE_Video, kSubtypeB}}}};
    return r;
}

class FilterMapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerComClass(CLSID_FilterMapper2, &createComObject<FilterMapper>);  // not the system filters
        auto& r = FilterRegistry::instance();
        // Registered out of merit order on purpose.
        ASSERT_TRUE(r.registerFilter(entry(kNormal, u"Normal Filter", MERIT_NORMAL, MEDIATYPE_Video, kSubtypeA)));
        ASSERT_TRUE(r.registerFilter(entry(kDoNotUse, u"Hidden Filter", MERIT_DO_NOT_USE, MEDIATYPE_Video, kSubtypeA)));
        ASSERT_TRUE(
            r.registerFilter(entry(kPreferred, u"Preferred Filter", MERIT_PREFERRED, MEDIATYPE_Video, GUID_NULL)));
        ASSERT_TRUE(r.registerFilter(entry(kAudioOnly, u"Audio Filter", MERIT_PREFERRED, MEDIATYPE_Audio, GUID_NULL)));
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, mapper.put())));
    }
    void TearDown() override {
        for (const CLSID& c : {kPreferred, kNormal, kDoNotUse, kAudioOnly, kViaMapper})
            FilterRegistry::instance().unregisterFilter(c);
    }

    // Friendly names of the filters that take (major, sub) input at or above the merit.
    std::vector<std::u16string> names(const GUID& major, const GUID& sub, DWORD merit, BOOL exact = FALSE) {
        GUID types[2] = {major, sub};
        InterfacePtr<IEnumMoniker> e;
        EXPECT_EQ(mapper->EnumMatchingFilters(e.put(), 0, exact, merit, TRUE, 1, types, nullptr, nullptr, FALSE, TRUE,
                                              0, nullptr, nullptr, nullptr),
                  S_OK);
        std::vector<std::u16string> out;
        IMoniker* m = nullptr;
        ULONG got = 0;
        while (e && e->Next(1, &m, &got) == S_OK) {
            InterfacePtr<IMoniker> moniker = InterfacePtr<IMoniker>::adopt(m);
            InterfacePtr<IPropertyBag> bag;
            EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.putVoid()), S_OK);
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_BSTR;
            EXPECT_EQ(bag->Read(u"FriendlyName", &v, nullptr), S_OK);
            out.emplace_back(v.bstrVal, SysStringLen(v.bstrVal));
            VariantClear(&v);
        }
        return out;
    }

    InterfacePtr<IFilterMapper2> mapper;
};

TEST_F(FilterMapperTest, MatchesByTypeAndMeritInMeritOrder) {
    using V = std::vector<std::u16string>;
    EXPECT_EQ(names(MEDIATYPE_Video, kSubtypeA, 0x200001), (V{u"Preferred Filter", u"Normal Filter"}));
    EXPECT_EQ(names(MEDIATYPE_Video, kSubtypeA, 0), (V{u"Preferred Filter", u"Normal Filter", u"Hidden Filter"}));
    EXPECT_EQ(names(MEDIATYPE_Video, kSubtypeC, 0x200001), (V{u"Preferred Filter"}))
        << "a registered GUID_NULL subtype takes any subtype";
    EXPECT_EQ(names(MEDIATYPE_Video, kSubtypeC, 0x200001, TRUE), V{}) << "but not in an exact match";
    EXPECT_EQ(names(MEDIATYPE_Audio, GUID_NULL, MERIT_NORMAL), (V{u"Audio Filter"}));
    EXPECT_EQ(names(MEDIATYPE_Text, GUID_NULL, 0), V{});
}

TEST_F(FilterMapperTest, MonikersDescribeAndCreateTheirFilter) {
    GUID types[2] = {MEDIATYPE_Video, kSubtypeA};
    InterfacePtr<IEnumMoniker> e;
    ASSERT_EQ(mapper->EnumMatchingFilters(e.put(), 0, FALSE, MERIT_NORMAL, TRUE, 1, types, nullptr, nullptr, FALSE,
                                          TRUE, 0, nullptr, nullptr, nullptr),
              S_OK);
    IMoniker* raw[3] = {};
    ULONG got = 0;
    EXPECT_EQ(e->Next(3, raw, &got), S_FALSE) << "only two filters qualify";
    ASSERT_EQ(got, 2u);
    InterfacePtr<IMoniker> first = InterfacePtr<IMoniker>::adopt(raw[0]);
    InterfacePtr<IMoniker> second = InterfacePtr<IMoniker>::adopt(raw[1]);

    InterfacePtr<IPropertyBag> bag;
    ASSERT_EQ(second->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.putVoid()), S_OK);
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(bag->Read(u"CLSID", &v, nullptr), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(toUtf8(v.bstrVal), guidToString(kNormal));
    VariantClear(&v);
    v.vt = VT_I4;
    EXPECT_FALSE(SUCCEEDED(bag->Read(u"FriendlyName", &v, nullptr))) << "a name is not a number";
    VariantInit(&v);
    EXPECT_EQ(bag->Read(u"Merit", &v, nullptr), E_INVALIDARG);
    EXPECT_EQ(bag->Write(u"FriendlyName", &v), E_ACCESSDENIED);

    InterfacePtr<IBaseFilter> filter;
    ASSERT_EQ(second->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.putVoid()), S_OK);
    CLSID clsid{};
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, kNormal);

    // Enumerators restart and copy their position.
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(1), S_OK);
    InterfacePtr<IEnumMoniker> copy;
    ASSERT_EQ(e->Clone(copy.put()), S_OK);
    IMoniker* one = nullptr;
    ASSERT_EQ(copy->Next(1, &one, nullptr), S_OK);
    InterfacePtr<IMoniker> held = InterfacePtr<IMoniker>::adopt(one);
    EXPECT_EQ(copy->Next(1, &one, nullptr), S_FALSE);
    EXPECT_EQ(e->Skip(5), S_FALSE);
}

TEST_F(FilterMapperTest, RegisterFilterAddsPinTypesAndRejectsBadRecords) {
    const GUID major = MEDIATYPE_Video, sub = kSubtypeC;
    REGPINTYPES type{&major, &sub};
    REGFILTERPINS2 pins[2] = {{0, 1, 1, &type, 0, nullptr, nullptr},
                              {REG_PINFLAG_B_OUTPUT, 1, 0, nullptr, 0, nullptr, nullptr}};
    REGFILTER2 rf{2, MERIT_NORMAL + 1, 2, pins};
    InterfacePtr<IMoniker> moniker;
    ASSERT_EQ(mapper->RegisterFilter(kViaMapper, u"Mapped Filter", moniker.put(), nullptr, nullptr, &rf), S_OK);
    ASSERT_TRUE(moniker);
    EXPECT_EQ(names(MEDIATYPE_Video, kSubtypeC, MERIT_NORMAL, TRUE), (std::vector<std::u16string>{u"Mapped Filter"}));
    // Registered through the mapper only: no creation function came with it.
    InterfacePtr<IBaseFilter> filter;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.putVoid()), REGDB_E_CLASSNOTREG);

    REGFILTER2 version1{1, MERIT_NORMAL, 0, nullptr};
    EXPECT_EQ(mapper->RegisterFilter(kViaMapper, u"Bad", nullptr, nullptr, nullptr, &version1), E_INVALIDARG);
    REGFILTERPINS2 noTypes[1] = {{0, 1, 2, nullptr, 0, nullptr, nullptr}};
    REGFILTER2 broken{2, MERIT_NORMAL, 1, noTypes};
    EXPECT_EQ(mapper->RegisterFilter(kViaMapper, u"Bad", nullptr, nullptr, nullptr, &broken), E_INVALIDARG);
    EXPECT_EQ(mapper->UnregisterFilter(nullptr, nullptr, kViaMapper), S_OK);
    EXPECT_FALSE(SUCCEEDED(mapper->UnregisterFilter(nullptr, nullptr, kViaMapper)));

    InterfacePtr<IEnumMoniker> e;
    EXPECT_EQ(mapper->EnumMatchingFilters(e.put(), 0, FALSE, 0, TRUE, 2, nullptr, nullptr, nullptr, FALSE, FALSE, 0,
                                          nullptr, nullptr, nullptr),
              E_POINTER);
}

TEST(FilterRegistryTest, SourcesByPatternBeforeExtension) {
    auto& r = FilterRegistry::instance();
    FilterRegistration byExt;
    byExt.clsid = kNormal;
    byExt.name = u"By Extension";
    byExt.extensions = {u".abc"};
    FilterRegistration byBytes;
    byBytes.clsid = kPreferred;
    byBytes.name = u"By Bytes";
    byBytes.merit = MERIT_UNLIKELY;
    byBytes.patterns = {{ByteCheck{0, {}, {'R', 'I'}}, ByteCheck{8, {}, {'W'}}}};
    ASSERT_TRUE(r.registerFilter(byExt));
    ASSERT_TRUE(r.registerFilter(byBytes));
    std::vector<uint8_t> riffWave = {'R', 'I', 0, 0, 0, 0, 0, 0, 'W'};
    std::vector<uint8_t> shortRiff = {'R', 'I', 0};
    EXPECT_EQ(r.sourceFor(u"x.abc", riffWave), kPreferred) << "every check of an entry must match";
    EXPECT_EQ(r.sourceFor(u"x.ABC", shortRiff), kNormal) << "a check past the end of the head fails";
    EXPECT_EQ(r.sourceFor(u"abc", shortRiff), std::nullopt);
    EXPECT_EQ(r.sourceFor(u"", {}), std::nullopt);
    EXPECT_EQ(r.patternSpan(), 9u);
    r.unregisterFilter(kNormal);
    r.unregisterFilter(kPreferred);
    EXPECT_FALSE(r.registerFilter(FilterRegistration{}));
}

}  // namespace
