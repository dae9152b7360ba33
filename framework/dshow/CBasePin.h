#pragma once
// A pin: connection with media-type negotiation, the connection type, the current
// segment, and the hooks a derived pin fills in (CheckMediaType, GetMediaType,
// CompleteConnect, BreakConnect, Active, Inactive). A pin's reference count is its
// filter's.
#include <atomic>
#include <string>

#include "framework/CriticalSection.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/FilterInterfaces.h"

class CBaseFilter;

class CBasePin : public IPin, public IQualityControl {
public:
    // lock is the filter's state lock.
    CBasePin(const char16_t* objectName, CBaseFilter* filter, CriticalSection* lock, HRESULT* phr,
             const char16_t* pinName, PIN_DIRECTION dir);
    virtual ~CBasePin();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IPin
    HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT QueryId(LPWSTR* Id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override = 0;
    HRESULT EndFlush() override = 0;
    // Remembers the segment; derived pins pass it on.
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IQualityControl
    HRESULT Notify(IBaseFilter* pSelf, Quality q) override;
    HRESULT SetSink(IQualityControl* piqc) override;

    // Hooks of a derived pin.
    // S_OK when the type is acceptable; any other value refuses it.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    // The iPosition-th preferred type: S_OK, VFW_S_NO_MORE_ITEMS past the end, E_INVALIDARG below 0.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    virtual HRESULT CheckConnect(IPin* pPin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // State changes of the filter, called for connected pins.
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME tStart);

    // Changes whenever the preferred types change (enumerators then report out of sync).
    virtual LONG GetMediaTypeVersion() { return m_TypeVersion.load(); }
    void IncrementTypeVersion() { ++m_TypeVersion; }

    bool IsConnected() { return m_Connected.load() != nullptr; }
    // The connected pin, without a new reference.
    IPin* GetConnected() { return m_Connected.load(); }
    bool IsStopped();
    CBaseFilter* Filter() { return m_pFilter; }
    const std::u16string& Name() const { return m_pName; }
    PIN_DIRECTION Direction() const { return m_dir; }
    const CMediaType& CurrentMediaType() { return m_mt; }
    REFERENCE_TIME CurrentStartTime() { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() { return m_tStop; }
    double CurrentRate() { return m_dRate; }
    // Drops the connection without the state check (the filter's own teardown).
    HRESULT DisconnectInternal();

protected:
    // Further interfaces of a derived pin; must AddRef what it hands out.
    virtual HRESULT queryOther(REFIID riid, void** ppv);

    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);

    std::u16string m_pName;
    std::atomic<IPin*> m_Connected{nullptr};  // holds a reference while connected
    PIN_DIRECTION m_dir;
    CriticalSection* m_pLock;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr;  // not held
    std::atomic<bool> m_bRunTimeError{false};
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = MAX_TIME;
    double m_dRate = 1.0;

private:
    std::atomic<LONG> m_TypeVersion{1};
};
