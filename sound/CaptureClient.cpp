#include "sound/CaptureClient.h"

#include "sound/SoundDevices.h"

#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <utility>

namespace sound {

using media::TSampleFormat;
using media::TSoundFormat;

namespace {

// The shared buffer: long enough that a capture thread held up for a moment loses nothing.
constexpr REFERENCE_TIME kBufferDuration = 2'000'000; // 200 ms

// The wave-format subtypes are GUIDs {0000000N-0000-0010-8000-00aa00389b71}: N = 1 PCM, 3 float
// (KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT, spelt out so no GUID library is linked).
constexpr unsigned long kSubtypePcm = 1, kSubtypeFloat = 3;
GUID Subtype(unsigned long tag) {
    return {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}
bool IsSubtype(const GUID& g, unsigned long tag) {
    return IsEqualGUID(g, Subtype(tag));
}

void FreeWaveFormat(WAVEFORMATEX* w) {
    CoTaskMemFree(w);
}
using TWaveFormat = base::TUniqueHandle<WAVEFORMATEX*, &FreeWaveFormat>;

WAVEFORMATEXTENSIBLE StereoFloat48k() {
    WAVEFORMATEXTENSIBLE w{};
    w.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    w.Format.nChannels = 2;
    w.Format.nSamplesPerSec = 48000;
    w.Format.wBitsPerSample = 32;
    w.Format.nBlockAlign = 2 * 4;
    w.Format.nAvgBytesPerSec = 48000 * 2 * 4;
    w.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    w.Samples.wValidBitsPerSample = 32;
    w.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    w.SubFormat = Subtype(kSubtypeFloat);
    return w;
}

} // namespace

std::optional<TSoundFormat> SoundFormatOf(const WAVEFORMATEX& wave) {
    if (wave.nChannels == 0 || wave.nSamplesPerSec == 0) return std::nullopt;
    TSoundFormat f;
    f.rate = wave.nSamplesPerSec;
    f.channels = wave.nChannels;
    bool isFloat = wave.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    bool isPcm = wave.wFormatTag == WAVE_FORMAT_PCM;
    if (wave.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
        wave.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
        const auto& ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wave);
        isFloat = IsSubtype(ext.SubFormat, kSubtypeFloat);
        isPcm = IsSubtype(ext.SubFormat, kSubtypePcm);
        // Fewer valid bits are the container's high bits: read as the whole container.
        if (ext.Samples.wValidBitsPerSample > wave.wBitsPerSample) return std::nullopt;
        f.channelMask = ext.dwChannelMask;
    }
    if (isFloat && wave.wBitsPerSample == 32)
        f.sample = TSampleFormat::Float32;
    else if (isPcm && wave.wBitsPerSample == 16)
        f.sample = TSampleFormat::Int16;
    else if (isPcm && wave.wBitsPerSample == 24)
        f.sample = TSampleFormat::Int24;
    else if (isPcm && wave.wBitsPerSample == 32)
        f.sample = TSampleFormat::Int32;
    else
        return std::nullopt;
    // A block of another alignment would be read out of step.
    if (wave.nBlockAlign != f.BytesPerFrame()) return std::nullopt;
    return f;
}

HRESULT TCaptureClient::Initialize(IMMDevice* device, DWORD flags, bool converted) {
    client_.reset();
    capture_.reset();
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(client_.put()));
    if (FAILED(hr)) return hr;
    TWaveFormat mix;
    WAVEFORMATEXTENSIBLE wanted = StereoFloat48k();
    const WAVEFORMATEX* format = &wanted.Format;
    if (converted) {
        flags |= AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    } else {
        hr = client_.get()->GetMixFormat(mix.put());
        if (FAILED(hr)) return hr;
        format = mix.get();
    }
    const std::optional<TSoundFormat> sound = SoundFormatOf(*format);
    if (!sound) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    hr = client_.get()->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kBufferDuration, 0, format,
                                   nullptr);
    if (FAILED(hr)) return hr;
    format_ = *sound;
    return S_OK;
}

HRESULT TCaptureClient::Open(IMMDevice* device, bool loopback, HANDLE samplesReady) {
    Close();
    const DWORD flags = (loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0) |
                        (samplesReady ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0);
    // Systems before Windows 10 know no conversion flags and refuse them: take the mix format.
    HRESULT hr = Initialize(device, flags, true);
    if (FAILED(hr) && hr != AUDCLNT_E_DEVICE_INVALIDATED) hr = Initialize(device, flags, false);
    if (SUCCEEDED(hr) && samplesReady) hr = client_.get()->SetEventHandle(samplesReady);
    if (SUCCEEDED(hr))
        hr = client_.get()->GetService(__uuidof(IAudioCaptureClient),
                                       reinterpret_cast<void**>(capture_.put()));
    if (SUCCEEDED(hr)) hr = client_.get()->Start();
    if (FAILED(hr)) {
        capture_.reset();
        client_.reset();
    }
    return hr;
}

void TCaptureClient::Close() {
    if (capture_) (void)client_.get()->Stop();
    capture_.reset();
    client_.reset();
}

HRESULT TCaptureClient::Read(media::TSoundSource source, std::vector<media::TSoundBlock>& blocks) {
    if (!capture_) return E_UNEXPECTED;
    IAudioCaptureClient* capture = capture_.get();
    for (;;) {
        UINT32 waiting = 0;
        HRESULT hr = capture->GetNextPacketSize(&waiting);
        if (FAILED(hr)) return hr;
        if (waiting == 0) return S_OK;
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 qpc = 0;
        hr = capture->GetBuffer(&data, &frames, &flags, nullptr, &qpc);
        if (hr == AUDCLNT_S_BUFFER_EMPTY) return S_OK;
        if (FAILED(hr)) return hr;
        media::TSoundBlock b;
        b.source = source;
        b.format = format_;
        b.frames = frames;
        b.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
        b.discontinuity = (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
        // Some drivers give no position: the packet then ended about now.
        if (qpc != 0 && !(flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR))
            b.time = static_cast<media::TSoundTime>(qpc);
        else
            b.time = ClockNow() - static_cast<media::TSoundTime>(frames) *
                                      media::kSoundTicksPerSecond / format_.rate;
        if (!b.silent && data && frames > 0)
            b.data.assign(data, data + static_cast<std::size_t>(frames) * format_.BytesPerFrame());
        hr = capture->ReleaseBuffer(frames);
        blocks.push_back(std::move(b));
        if (FAILED(hr)) return hr;
    }
}

} // namespace sound
