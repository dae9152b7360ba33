#pragma once
// A reference clock whose time moves only when a test says so, with the real advise
// machinery, so scheduling in a graph can be checked to the exact 100-ns unit.
#include <atomic>

#include "framework/ComObject.h"
#include "framework/dshow/FilterInterfaces.h"
#include "platform/dshow/AdviseScheduler.h"

class ManualClock : public ComObject<IReferenceClock> {
public:
    explicit ManualClock(REFERENCE_TIME start = 50 * UNITS)
        : now_(start), scheduler_([this] { return now_.load(); }, false) {}

    void set(REFERENCE_TIME t) {
        now_ = t;
        scheduler_.timeChanged();
    }
    void advance(REFERENCE_TIME d) { set(now_.load() + d); }
    REFERENCE_TIME now() const { return now_.load(); }
    size_t pendingAdvises() const { return scheduler_.pendingCount(); }

    HRESULT GetTime(REFERENCE_TIME* t) override {
        if (!t) return E_POINTER;
        *t = now_.load();
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT e, DWORD_PTR* cookie) override {
        if (!cookie || !e) return E_POINTER;
        *cookie = scheduler_.adviseTime(base + stream, e);
        return S_OK;
    }
    HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE s, DWORD_PTR* cookie) override {
        if (!cookie || !s) return E_POINTER;
        *cookie = scheduler_.advisePeriodic(start, period, s);
        return S_OK;
    }
    HRESULT Unadvise(DWORD_PTR cookie) override { return scheduler_.unadvise(cookie) ? S_OK : S_FALSE; }

private:
    std::atomic<REFERENCE_TIME> now_;
    AdviseScheduler scheduler_;
};
