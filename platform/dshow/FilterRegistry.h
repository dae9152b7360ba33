#pragma once
// The process-wide list of filter classes the pipeline can create by itself: what the
// mapper enumerates, what intelligent connect inserts and what RenderFile picks as the
// source of a file. Registering a class also makes it creatable with CoCreateInstance.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/ComUser.h"
#include "framework/dshow/DshowTypes.h"

struct RegisteredPinType {
    GUID major = GUID_NULL;  // GUID_NULL: any
    GUID minor = GUID_NULL;
};

struct RegisteredPin {
    bool output = false;
    bool rendered = false;  // the filter renders what arrives on this input
    std::vector<RegisteredPinType> types;
};

// Bytes at an offset of the file, compared under a mask (an empty mask compares all bits).
struct ByteCheck {
    int64_t offset = 0;
    std::vector<uint8_t> mask;
    std::vector<uint8_t> value;
};

struct FilterRegistration {
    CLSID clsid = GUID_NULL;
    std::u16string name;
    DWORD merit = MERIT_NORMAL;
    // When set, the class becomes creatable through CoCreateInstance with it (and stops
    // being so when unregistered); otherwise the class must be creatable already.
    ClassCreateFunction create;
    std::vector<RegisteredPin> pins;
    // Source filters: extensions with their dot (".mbc", compared without case) and byte
    // patterns (any entry matches when all its checks match) of the files they read.
    std::vector<std::u16string> extensions;
    std::vector<std::vector<ByteCheck>> patterns;
};

// What a mapper query asks; see IFilterMapper2::EnumMatchingFilters.
struct FilterQuery {
    bool exactMatch = false;
    DWORD minimumMerit = 0;
    bool inputNeeded = false;
    std::vector<RegisteredPinType> inputTypes;
    bool render = false;
    bool outputNeeded = false;
    std::vector<RegisteredPinType> outputTypes;
};

class FilterRegistry {
public:
    static FilterRegistry& instance();

    // Adds or replaces a class; false for a null class identifier.
    bool registerFilter(const FilterRegistration& registration);
    bool unregisterFilter(REFCLSID clsid);
    std::optional<FilterRegistration> find(REFCLSID clsid) const;
    // Every class that answers the query, highest merit first (ties in registration order).
    std::vector<FilterRegistration> matching(const FilterQuery& query) const;
    // Every class, highest merit first.
    std::vector<FilterRegistration> all() const;

    // The source class for a file: first by the file's leading bytes, then by extension.
    std::optional<CLSID> sourceFor(std::u16string_view fileName, const std::vector<uint8_t>& head) const;
    // How many leading bytes the registered patterns look at.
    size_t patternSpan() const;

    static bool typeMatches(const RegisteredPinType& registered, const RegisteredPinType& wanted, bool exact);

private:
    FilterRegistry() = default;
    std::vector<FilterRegistration> sortedLocked() const;

    mutable std::mutex mutex_;
    std::vector<FilterRegistration> entries_;
};
