// CaptureClient: one shared-mode WASAPI capture stream (a device's input, or loopback of an
// output), read packet by packet into sound blocks stamped with their capture time.
#pragma once

#include "base/Handles.h"
#include "media/SoundBlock.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <optional>
#include <vector>

namespace sound {

class TCaptureClient {
public:
    TCaptureClient() = default;
    ~TCaptureClient() { Close(); }
    TCaptureClient(const TCaptureClient&) = delete;
    TCaptureClient& operator=(const TCaptureClient&) = delete;

    // Opens and starts a stream on the device: loopback records what an output device plays.
    // With an event the client signals it for every packet; without one the caller polls. Asks
    // for 48 kHz stereo float converted by the system where it offers that, else takes the
    // device's own mix format. S_OK, or the failing call's result.
    HRESULT Open(IMMDevice* device, bool loopback, HANDLE samplesReady);
    void Close();
    bool IsOpen() const { return static_cast<bool>(capture_); }
    const media::TSoundFormat& Format() const { return format_; }

    // Appends every packet waiting as a block of the source. S_OK, or the error that ended the
    // reading (AUDCLNT_E_DEVICE_INVALIDATED when the device is gone).
    HRESULT Read(media::TSoundSource source, std::vector<media::TSoundBlock>& blocks);

private:
    HRESULT Initialize(IMMDevice* device, DWORD flags, bool converted);

    base::TComRef<IAudioClient> client_;
    base::TComRef<IAudioCaptureClient> capture_;
    media::TSoundFormat format_;
};

// The sound format of a device's wave format; nothing for one a block cannot carry (8-bit,
// 20 bits in 24 and the like, compressed).
std::optional<media::TSoundFormat> SoundFormatOf(const WAVEFORMATEX& wave);

} // namespace sound
