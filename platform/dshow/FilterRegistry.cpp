#include "platform/dshow/FilterRegistry.h"

#include <algorithm>

#include "framework/PathUtils.h"

FilterRegistry& FilterRegistry::instance() {
    static FilterRegistry registry;
    return registry;
}

bool FilterRegistry::registerFilter(const FilterRegistration& registration) {
    if (registration.clsid == GUID_NULL) return false;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const FilterRegistration& e) { return e.clsid == registration.clsid; });
        if (it != entries_.end())
            *it = registration;
        else
            entries_.push_back(registration);
    }
    return !registration.create || registerComClass(registration.clsid, registration.create);
}

bool FilterRegistry::unregisterFilter(REFCLSID clsid) {
    bool ownsClass = false;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const FilterRegistration& e) { return e.clsid == clsid; });
        if (it == entries_.end()) return false;
        ownsClass = static_cast<bool>(it->create);
        entries_.erase(it);
    }
    if (ownsClass) unregisterComClass(clsid);
    return true;
}

std::optional<FilterRegistration> FilterRegistry::find(REFCLSID clsid) const {
    std::lock_guard<std::mutex> g(mutex_);
    for (const FilterRegistration& e : entries_)
        if (e.clsid == clsid) return e;
    return std::nullopt;
}

std::vector<FilterRegistration> FilterRegistry::sortedLocked() const {
    std::vector<FilterRegistration> out = entries_;
    std::stable_sort(out.begin(), out.end(),
                     [](const FilterRegistration& a, const FilterRegistration& b) { return a.merit > b.merit; });
    return out;
}

std::vector<FilterRegistration> FilterRegistry::all() const {
    std::lock_guard<std::mutex> g(mutex_);
    return sortedLocked();
}

bool FilterRegistry::typeMatches(const RegisteredPinType& registered, const RegisteredPinType& wanted, bool exact) {
    auto same = [exact](const GUID& r, const GUID& w) {
        // The asker's GUID_NULL always means "any"; a registered GUID_NULL only when inexact.
        if (w == GUID_NULL) return true;
        if (!exact && r == GUID_NULL) return true;
        return r == w;
    };
    return same(registered.major, wanted.major) && same(registered.minor, wanted.minor);
}

namespace {

bool pinAnswers(const RegisteredPin& pin, const std::vector<RegisteredPinType>& wanted, bool exact) {
    if (wanted.empty()) return true;
    for (const RegisteredPinType& r : pin.types)
        for (const RegisteredPinType& w : wanted)
            if (FilterRegistry::typeMatches(r, w, exact)) return true;
    return false;
}

bool filterAnswers(const FilterRegistration& f, const FilterQuery& q) {
    if (f.merit < q.minimumMerit) return false;
    if (q.inputNeeded || !q.inputTypes.empty() || q.render) {
        bool found = false;
        for (const RegisteredPin& p : f.pins) {
            if (p.output) continue;
            if (q.render && !p.rendered) continue;
            if (pinAnswers(p, q.inputTypes, q.exactMatch)) {
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    if (q.outputNeeded || !q.outputTypes.empty()) {
        bool found = false;
        for (const RegisteredPin& p : f.pins) {
            if (p.output && pinAnswers(p, q.outputTypes, q.exactMatch)) {
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    return true;
}

bool endsWithNoCase(std::u16string_view text, std::u16string_view tail) {
    if (tail.empty() || tail.size() > text.size()) return false;
    return compareNoCase(text.substr(text.size() - tail.size()), tail) == 0;
}

bool checkMatches(const ByteCheck& c, const std::vector<uint8_t>& head) {
    if (c.offset < 0 || c.value.empty()) return false;
    size_t at = static_cast<size_t>(c.offset);
    if (at > head.size() || head.size() - at < c.value.size()) return false;
    for (size_t i = 0; i < c.value.size(); ++i) {
        uint8_t m = i < c.mask.size() ? c.mask[i] : 0xFF;
        if ((head[at + i] & m) != (c.value[i] & m)) return false;
    }
    return true;
}

}  // namespace

std::vector<FilterRegistration> FilterRegistry::matching(const FilterQuery& query) const {
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<FilterRegistration> out;
    for (FilterRegistration& f : sortedLocked())
        if (filterAnswers(f, query)) out.push_back(std::move(f));
    return out;
}

std::optional<CLSID> FilterRegistry::sourceFor(std::u16string_view fileName, const std::vector<uint8_t>& head) const {
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<FilterRegistration> sorted = sortedLocked();
    for (const FilterRegistration& f : sorted)
        for (const std::vector<ByteCheck>& entry : f.patterns)
            if (!entry.empty() &&
                std::all_of(entry.begin(), entry.end(), [&](const ByteCheck& c) { return checkMatches(c, head); }))
                return f.clsid;
    for (const FilterRegistration& f : sorted)
        for (const std::u16string& ext : f.extensions)
            if (endsWithNoCase(fileName, ext)) return f.clsid;
    return std::nullopt;
}

size_t FilterRegistry::patternSpan() const {
    std::lock_guard<std::mutex> g(mutex_);
    size_t span = 0;
    for (const FilterRegistration& f : entries_)
        for (const auto& entry : f.patterns)
            for (const ByteCheck& c : entry)
                if (c.offset >= 0 && c.offset < (1 << 20))
                    span = std::max(span, static_cast<size_t>(c.offset) + c.value.size());
    return span;
}
