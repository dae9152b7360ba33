#pragma once
// The graph's default reference clock: a monotonic high-resolution time in 100-ns units,
// independent of the process's millisecond time source (which tests may drive by hand).
#include <memory>

#include "framework/ComObject.h"
#include "framework/dshow/FilterInterfaces.h"
#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/AdviseScheduler.h"

class SystemClock : public ComObject<IReferenceClock> {
public:
    SystemClock();

    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                           DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    // The monotonic time every system clock reads.
    static REFERENCE_TIME now();

private:
    ~SystemClock() override = default;
    std::unique_ptr<AdviseScheduler> scheduler_;
};
