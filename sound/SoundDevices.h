// SoundDevices: the WASAPI endpoints and COM around them: the capture devices by name, the default
// devices, the capture device that monitors the output, and the clock the packets are stamped by.
#pragma once

#include "base/Handles.h"
#include "media/SoundBlock.h"

#include <windows.h>
#include <mmdeviceapi.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sound {

// COM for the calling thread, multithreaded, from construction to destruction. A thread whose
// COM is already single-threaded (a window's thread) keeps it: the device objects work there too.
class TComApartment {
public:
    TComApartment();
    ~TComApartment();
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    bool Usable() const { return usable_; }

private:
    bool usable_ = false;
    bool uninitialize_ = false;
};

// A PROPVARIANT, cleared at the end.
class TPropVariant {
public:
    TPropVariant() { PropVariantInit(&value_); }
    ~TPropVariant() { PropVariantClear(&value_); }
    TPropVariant(const TPropVariant&) = delete;
    TPropVariant& operator=(const TPropVariant&) = delete;
    PROPVARIANT* put() {
        PropVariantClear(&value_);
        return &value_;
    }
    const PROPVARIANT& get() const { return value_; }

private:
    PROPVARIANT value_;
};

// The performance counter now in 100-ns units: the clock the capture clients stamp packets by.
media::TSoundTime ClockNow();

// One audio endpoint: the device object, its identifier (which stays the same while the device
// comes and goes) and its friendly name.
struct TEndpoint {
    base::TComRef<IMMDevice> device;
    std::wstring id;
    std::wstring name;
    explicit operator bool() const { return static_cast<bool>(device); }
};

// The device enumerator, made and released under one lock for the process. Wine 8 has one
// enumerator object for the process and frees it together with every device object it made when
// its last reference goes (a device still held then is freed under its holder; its registry keys
// are closed). So whoever uses devices keeps an enumerator meanwhile, and no two threads make or
// drop the last one at once. Empty when the system has no audio service (COM must be usable).
class TDeviceEnumerator {
public:
    TDeviceEnumerator();
    ~TDeviceEnumerator();
    TDeviceEnumerator(const TDeviceEnumerator&) = delete;
    TDeviceEnumerator& operator=(const TDeviceEnumerator&) = delete;
    IMMDeviceEnumerator* get() const { return ref_.get(); }
    explicit operator bool() const { return static_cast<bool>(ref_); }

private:
    base::TComRef<IMMDeviceEnumerator> ref_;
};

// The system's default device of the direction (the console role), or nothing.
TEndpoint DefaultEndpoint(IMMDeviceEnumerator* enumerator, EDataFlow flow);
// The active devices of the direction in the system's order.
std::vector<TEndpoint> ActiveEndpoints(IMMDeviceEnumerator* enumerator, EDataFlow flow);

// The friendly names of the active capture devices in the system's order; none when the system
// has no sound. Callable on any thread.
std::vector<std::wstring> CaptureDeviceNames();

// Which capture device (by friendly name) records what the default output plays: PulseAudio's
// "Monitor of <output>" (as Wine lists it), or a driver's mix input on Windows ("Stereo Mix
// (<card>)", preferring the output's card). Wine 8 lists PulseAudio's default output as a device
// of its own ("PulseAudio") with no monitor of that name: the monitor of the first output listed
// (outputNames, the active outputs in the system's order) then stands in. Nothing when none fits.
std::optional<std::size_t> MonitorOfOutput(const std::vector<std::wstring>& captureNames,
                                           const std::wstring& outputName,
                                           const std::vector<std::wstring>& outputNames);

} // namespace sound
