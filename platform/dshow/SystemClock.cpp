#include "platform/dshow/SystemClock.h"

#include <chrono>

#include "framework/dshow/DshowErrors.h"

REFERENCE_TIME SystemClock::now() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
    // Never 0 or negative: advise requests at times <= 0 are refused.
    return ns.count() / 100 + UNITS;
}

SystemClock::SystemClock() : scheduler_(std::make_unique<AdviseScheduler>(&SystemClock::now, true)) {}

HRESULT SystemClock::GetTime(REFERENCE_TIME* pTime) {
    if (!pTime) return E_POINTER;
    *pTime = now();
    return S_OK;
}

HRESULT SystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie) return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hEvent) return E_INVALIDARG;
    // Guard the sum against overflow from hostile times.
    if (baseTime < 0 || streamTime > MAX_TIME - baseTime || baseTime + streamTime <= 0) return E_INVALIDARG;
    *pdwAdviseCookie = scheduler_->adviseTime(baseTime + streamTime, hEvent);
    return *pdwAdviseCookie ? S_OK : E_OUTOFMEMORY;
}

HRESULT SystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                                    DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie) return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hSemaphore || startTime <= 0 || periodTime <= 0) return E_INVALIDARG;
    *pdwAdviseCookie = scheduler_->advisePeriodic(startTime, periodTime, hSemaphore);
    return *pdwAdviseCookie ? S_OK : E_OUTOFMEMORY;
}

HRESULT SystemClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    return scheduler_->unadvise(dwAdviseCookie) ? S_OK : S_FALSE;
}
