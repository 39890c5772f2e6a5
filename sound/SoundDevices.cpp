#include "sound/SoundDevices.h"

// The property keys are defined (select-any) where initguid.h comes first.
#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

#include <algorithm>
#include <mutex>

namespace sound {

using base::TComRef;

TComApartment::TComApartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    uninitialize_ = SUCCEEDED(hr);
    usable_ = uninitialize_ || hr == RPC_E_CHANGED_MODE;
}

TComApartment::~TComApartment() {
    if (uninitialize_) CoUninitialize();
}

media::TSoundTime ClockNow() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    LARGE_INTEGER c{};
    QueryPerformanceCounter(&c);
    // In two steps, so that counts of fast counters do not overflow when multiplied.
    const LONGLONG whole = c.QuadPart / frequency, part = c.QuadPart % frequency;
    return whole * media::kSoundTicksPerSecond + part * media::kSoundTicksPerSecond / frequency;
}

namespace {

std::wstring IdOf(IMMDevice* device) {
    base::TTaskMemory<wchar_t> id;
    if (FAILED(device->GetId(id.put())) || !id) return {};
    return id.get();
}

std::wstring FriendlyNameOf(IMMDevice* device) {
    TComRef<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) return {};
    TPropVariant name;
    if (FAILED(store.get()->GetValue(PKEY_Device_FriendlyName, name.put()))) return {};
    if (name.get().vt != VT_LPWSTR || !name.get().pwszVal) return {};
    return name.get().pwszVal;
}

TEndpoint EndpointOf(TComRef<IMMDevice> device) {
    TEndpoint e;
    e.id = IdOf(device.get());
    e.name = FriendlyNameOf(device.get());
    e.device = std::move(device);
    return e;
}

bool StartsWith(const std::wstring& s, const std::wstring& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// "Speakers (Realtek High Definition Audio)" -> "Realtek High Definition Audio".
std::wstring CardOf(const std::wstring& name) {
    const std::size_t open = name.find(L'('), close = name.rfind(L')');
    if (open == std::wstring::npos || close == std::wstring::npos || close < open) return {};
    return name.substr(open + 1, close - open - 1);
}

std::mutex& EnumeratorLock() {
    static std::mutex m;
    return m;
}

} // namespace

TDeviceEnumerator::TDeviceEnumerator() {
    const std::lock_guard<std::mutex> lock(EnumeratorLock());
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(ref_.put()))))
        ref_.reset();
}

TDeviceEnumerator::~TDeviceEnumerator() {
    const std::lock_guard<std::mutex> lock(EnumeratorLock());
    ref_.reset();
}

TEndpoint DefaultEndpoint(IMMDeviceEnumerator* enumerator, EDataFlow flow) {
    TComRef<IMMDevice> device;
    if (!enumerator || FAILED(enumerator->GetDefaultAudioEndpoint(flow, eConsole, device.put())) ||
        !device)
        return {};
    return EndpointOf(std::move(device));
}

std::vector<TEndpoint> ActiveEndpoints(IMMDeviceEnumerator* enumerator, EDataFlow flow) {
    std::vector<TEndpoint> endpoints;
    TComRef<IMMDeviceCollection> collection;
    UINT count = 0;
    if (!enumerator ||
        FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, collection.put())) ||
        FAILED(collection.get()->GetCount(&count)))
        return endpoints;
    for (UINT i = 0; i < count; ++i) {
        TComRef<IMMDevice> device;
        if (SUCCEEDED(collection.get()->Item(i, device.put())) && device)
            endpoints.push_back(EndpointOf(std::move(device)));
    }
    return endpoints;
}

std::vector<std::wstring> CaptureDeviceNames() {
    const TComApartment com;
    std::vector<std::wstring> names;
    if (!com.Usable()) return names;
    const TDeviceEnumerator enumerator;
    for (TEndpoint& e : ActiveEndpoints(enumerator.get(), eCapture))
        names.push_back(std::move(e.name));
    return names;
}

std::optional<std::size_t> MonitorOfOutput(const std::vector<std::wstring>& captureNames,
                                           const std::wstring& outputName,
                                           const std::vector<std::wstring>& outputNames) {
    static const std::wstring kMonitor = L"Monitor of ";
    static const wchar_t* const kMixes[] = {L"Stereo Mix", L"What U Hear", L"Wave Out Mix"};
    // The first output listed that has a monitor, for an output that has none of its own.
    std::wstring standIn;
    for (const std::wstring& output : outputNames) {
        const auto has = [&](const std::wstring& n) { return n == kMonitor + output; };
        if (std::any_of(captureNames.begin(), captureNames.end(), has)) {
            standIn = output;
            break;
        }
    }
    std::optional<std::size_t> best;
    int bestScore = 0;
    for (std::size_t i = 0; i < captureNames.size(); ++i) {
        const std::wstring& name = captureNames[i];
        int score = 0;
        if (StartsWith(name, kMonitor)) {
            // A monitor of another output records the wrong sound: only the output's own.
            const std::wstring of = name.substr(kMonitor.size());
            if (of == outputName)
                score = 5;
            else if (!outputName.empty() && of.find(outputName) != std::wstring::npos)
                score = 4;
            else if (of == standIn)
                score = 3;
        } else {
            for (const wchar_t* mix : kMixes) {
                if (!StartsWith(name, mix)) continue;
                const std::wstring card = CardOf(name);
                score = !card.empty() && card == CardOf(outputName) ? 2 : 1;
            }
        }
        if (score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

} // namespace sound
