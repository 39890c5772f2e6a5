#include "sound/SoundCapture.h"

#include "base/Thread.h"
#include "media/SoundFormat.h"
#include "sound/CaptureClient.h"
#include "sound/SoundDevices.h"

#include <algorithm>
#include <atomic>
#include <optional>

namespace sound {

using media::TSoundBlock;
using media::TSoundSource;
using media::TSoundTime;

namespace {

constexpr TSoundTime kMs = media::kSoundTicksPerSecond / 1000;
// How often a missing device is tried again and the default device looked at.
constexpr DWORD kRetryMs = 500;
constexpr TSoundTime kCheckEvery = kRetryMs * kMs;
// A loopback stream is polled: its event is unreliable before Windows 10 1703.
constexpr DWORD kPollMs = 10;
// An input stream sends packets even in silence: none for this long means the device is gone
// without saying so (Wine 8 stops sending when PulseAudio moves the stream to another source).
constexpr TSoundTime kQuietLimit = 2000 * kMs;
// Wine 8's first packet from the monitor of an idle PulseAudio sink comes about 2 s after the
// start.
constexpr TSoundTime kFirstPacketLimit = 5000 * kMs;
constexpr TSoundTime kLevelSpan = 100 * kMs;
// A level older than this is of a source that stopped sending: the meter shows nothing.
constexpr TSoundTime kLevelStale = 300 * kMs;
// A bound on the blocks waiting, beside the span, for devices that send tiny packets.
constexpr std::size_t kMaxKeptBlocks = 8192;

// Loopback that fails for any of these reasons may work later on the same device; any other
// failure means the system does not do loopback (Wine before 9.12: AUDCLNT_E_WRONG_ENDPOINT_TYPE).
bool LoopbackMayComeBack(HRESULT hr) {
    return hr == AUDCLNT_E_DEVICE_INVALIDATED || hr == AUDCLNT_E_DEVICE_IN_USE ||
           hr == AUDCLNT_E_SERVICE_NOT_RUNNING || hr == E_OUTOFMEMORY;
}

bool Wait(HANDLE stop, DWORD ms) {
    return WaitForSingleObject(stop, ms) == WAIT_OBJECT_0;
}

} // namespace

// One source: its capture thread and what the thread tells the others.
class TSoundCapture::TSource {
public:
    TSource(TSoundCapture& owner, TSoundSource id, std::wstring wanted)
        : owner_(owner), id_(id), wanted_(std::move(wanted)) {}
    ~TSource() { Stop(); }

    // Starts the thread; WaitTried waits for its first attempt to open a device.
    void Start();
    void WaitTried(DWORD ms) const;
    void Stop();

    TSourceState State() const {
        const std::lock_guard<std::mutex> lock(m_);
        return state_;
    }
    float Level() const;
    std::uint32_t MissingMilliseconds() const;
    std::wstring Name() const {
        const std::lock_guard<std::mutex> lock(m_);
        return name_;
    }
    bool Substituted() const {
        const std::lock_guard<std::mutex> lock(m_);
        return substituted_;
    }

private:
    class TCaptureThread : public base::TThread {
    public:
        explicit TCaptureThread(TSource& source) : source_(source) {}
        ~TCaptureThread() override { WaitFor(); }

    protected:
        void Execute() override { source_.Run(); }

    private:
        TSource& source_;
    };

    // The device the source should record from now, and how.
    struct TChoice {
        TEndpoint endpoint;
        bool loopback = false;
        bool substitute = false;
    };

    void Run();
    TChoice Choose(IMMDeviceEnumerator* enumerator) const;
    bool Open(IMMDeviceEnumerator* enumerator, TCaptureClient& client, TChoice& opened);
    void SetRunning(const TChoice& choice);
    void SetMissing(TSoundTime since);
    void Measure(const std::vector<TSoundBlock>& blocks);

    TSoundCapture& owner_;
    const TSoundSource id_;
    const std::wstring wanted_;
    base::TKernelHandle stop_, ready_, tried_;
    std::unique_ptr<TCaptureThread> thread_;
    // Only the capture thread's.
    bool loopbackRefused_ = false;
    std::deque<std::pair<TSoundTime, float>> recentPeaks_;

    mutable std::mutex m_;
    TSourceState state_ = TSourceState::Off;
    std::wstring name_;
    bool substituted_ = false;
    TSoundTime startTime_ = 0;
    TSoundTime missingSince_ = -1; // -1: not missing
    TSoundTime missingTotal_ = 0;
    std::atomic<float> level_{0};
    std::atomic<TSoundTime> levelTime_{0};
};

void TSoundCapture::TSource::Start() {
    Stop();
    {
        const std::lock_guard<std::mutex> lock(m_);
        state_ = TSourceState::Missing;
        startTime_ = ClockNow();
        missingSince_ = -1;
        missingTotal_ = 0;
    }
    level_ = 0;
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ready_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    tried_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_ || !ready_ || !tried_) {
        SetMissing(startTime_);
        return;
    }
    thread_ = std::make_unique<TCaptureThread>(*this);
    thread_->Start();
}

void TSoundCapture::TSource::WaitTried(DWORD ms) const {
    if (thread_) (void)WaitForSingleObject(tried_.get(), ms);
}

void TSoundCapture::TSource::Stop() {
    if (thread_) {
        SetEvent(stop_.get());
        thread_.reset(); // joins
    }
    const std::lock_guard<std::mutex> lock(m_);
    if (missingSince_ >= 0) missingTotal_ += ClockNow() - missingSince_;
    missingSince_ = -1;
    level_ = 0;
}

float TSoundCapture::TSource::Level() const {
    if (State() != TSourceState::Running || ClockNow() - levelTime_ > kLevelStale) return 0;
    return level_;
}

std::uint32_t TSoundCapture::TSource::MissingMilliseconds() const {
    const std::lock_guard<std::mutex> lock(m_);
    TSoundTime total = missingTotal_;
    if (missingSince_ >= 0) total += ClockNow() - missingSince_;
    return static_cast<std::uint32_t>(std::min<TSoundTime>(total / kMs, UINT32_MAX));
}

void TSoundCapture::TSource::SetRunning(const TChoice& choice) {
    const std::lock_guard<std::mutex> lock(m_);
    if (missingSince_ >= 0) missingTotal_ += ClockNow() - missingSince_;
    missingSince_ = -1;
    state_ = TSourceState::Running;
    name_ = choice.endpoint.name;
    substituted_ = choice.substitute;
}

void TSoundCapture::TSource::SetMissing(TSoundTime since) {
    const std::lock_guard<std::mutex> lock(m_);
    if (missingSince_ < 0) missingSince_ = since;
    state_ = TSourceState::Missing;
}

TSoundCapture::TSource::TChoice
TSoundCapture::TSource::Choose(IMMDeviceEnumerator* enumerator) const {
    TChoice c;
    if (id_ == TSoundSource::Microphone) {
        if (!wanted_.empty()) {
            for (TEndpoint& e : ActiveEndpoints(enumerator, eCapture)) {
                if (e.name == wanted_) {
                    c.endpoint = std::move(e);
                    return c;
                }
            }
            c.substitute = true;
        }
        c.endpoint = DefaultEndpoint(enumerator, eCapture);
        return c;
    }
    TEndpoint output = DefaultEndpoint(enumerator, eRender);
    if (!output) return c;
    if (!loopbackRefused_) {
        c.endpoint = std::move(output);
        c.loopback = true;
        return c;
    }
    std::vector<TEndpoint> inputs = ActiveEndpoints(enumerator, eCapture);
    std::vector<std::wstring> names, outputs;
    for (const TEndpoint& e : inputs)
        names.push_back(e.name);
    for (const TEndpoint& e : ActiveEndpoints(enumerator, eRender))
        outputs.push_back(e.name);
    if (const std::optional<std::size_t> i = MonitorOfOutput(names, output.name, outputs)) {
        c.endpoint = std::move(inputs[*i]);
        c.substitute = true;
    }
    return c;
}

bool TSoundCapture::TSource::Open(IMMDeviceEnumerator* enumerator, TCaptureClient& client,
                                  TChoice& opened) {
    for (;;) {
        TChoice c = Choose(enumerator);
        if (!c.endpoint) return false;
        const HRESULT hr =
            client.Open(c.endpoint.device.get(), c.loopback, c.loopback ? nullptr : ready_.get());
        if (SUCCEEDED(hr)) {
            opened = std::move(c);
            return true;
        }
        if (!c.loopback || LoopbackMayComeBack(hr)) return false;
        loopbackRefused_ = true; // and choose the output's monitor instead
    }
}

void TSoundCapture::TSource::Measure(const std::vector<TSoundBlock>& blocks) {
    for (const TSoundBlock& b : blocks) {
        const TSoundTime end = b.time + static_cast<TSoundTime>(b.frames) *
                                            media::kSoundTicksPerSecond /
                                            std::max<std::uint32_t>(b.format.rate, 1);
        recentPeaks_.emplace_back(end, PeakOf(b));
    }
    if (recentPeaks_.empty()) return;
    const TSoundTime newest = recentPeaks_.back().first;
    while (recentPeaks_.front().first < newest - kLevelSpan)
        recentPeaks_.pop_front();
    float peak = 0;
    for (const auto& p : recentPeaks_)
        peak = std::max(peak, p.second);
    level_ = peak;
    levelTime_ = ClockNow();
}

void TSoundCapture::TSource::Run() {
    const TComApartment com;
    // Kept for the whole capture and dropped last, after every device (see TDeviceEnumerator).
    std::optional<TDeviceEnumerator> enumerator;
    TCaptureClient client;
    TChoice current;
    bool first = true, marked = false, flowing = false;
    TSoundTime lastPacket = 0, nextCheck = 0;
    std::vector<TSoundBlock> blocks;
    for (;;) {
        if (!client.IsOpen()) {
            if (com.Usable() && (!enumerator || !*enumerator)) enumerator.emplace();
            if (enumerator && *enumerator && Open(enumerator->get(), client, current)) {
                SetRunning(current);
                flowing = false;
                lastPacket = ClockNow();
                nextCheck = lastPacket + kCheckEvery;
                recentPeaks_.clear();
            } else {
                SetMissing(first ? startTime_ : ClockNow());
            }
            if (first) SetEvent(tried_.get());
            first = false;
            if (!client.IsOpen()) {
                if (Wait(stop_.get(), kRetryMs)) break;
                continue;
            }
        }
        const HANDLE handles[] = {stop_.get(), ready_.get()};
        if (WaitForMultipleObjects(2, handles, FALSE, current.loopback ? kPollMs : 100) ==
            WAIT_OBJECT_0)
            break;
        blocks.clear();
        const HRESULT hr = client.Read(id_, blocks);
        const TSoundTime now = ClockNow();
        if (!blocks.empty()) {
            lastPacket = now;
            flowing = true;
            // After a re-open the blocks' times, not their count, say where they belong.
            if (marked) blocks.front().discontinuity = true;
            marked = false;
            Measure(blocks);
            owner_.Deliver(blocks);
        }
        // A loopback stream sends nothing while nothing plays, so only errors tell it is lost.
        const TSoundTime quiet = now - lastPacket;
        if (FAILED(hr) ||
            (!current.loopback && quiet > (flowing ? kQuietLimit : kFirstPacketLimit))) {
            client.Close();
            // Nothing came since the last packet: the device was missing from then on.
            SetMissing(lastPacket);
            marked = true;
            continue;
        }
        if (now >= nextCheck) {
            // Follow the default device as it changes, and a named microphone that came back.
            nextCheck = now + kCheckEvery;
            const TChoice wanted = Choose(enumerator->get());
            if (wanted.endpoint && (wanted.endpoint.id != current.endpoint.id ||
                                    wanted.loopback != current.loopback)) {
                client.Close();
                marked = true;
            }
        }
    }
    client.Close();
    current = {};
}

TSoundCapture::TSoundCapture(const TCaptureOptions& options) : options_(options) {
    if (options_.microphone)
        sources_[0] =
            std::make_unique<TSource>(*this, TSoundSource::Microphone, options_.microphoneDevice);
    if (options_.system)
        sources_[1] = std::make_unique<TSource>(*this, TSoundSource::System, std::wstring());
}

TSoundCapture::~TSoundCapture() {
    Stop();
}

void TSoundCapture::Start() {
    {
        const std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.clear();
    }
    for (auto& s : sources_)
        if (s) s->Start();
    // Opening takes tens of milliseconds on Windows; the bound is for a sound service that hangs.
    const DWORD until = GetTickCount() + 2000;
    for (auto& s : sources_)
        if (s) s->WaitTried(std::max<LONG>(static_cast<LONG>(until - GetTickCount()), 0));
}

void TSoundCapture::Stop() {
    for (auto& s : sources_)
        if (s) s->Stop();
}

void TSoundCapture::Deliver(std::vector<TSoundBlock>& blocks) {
    const std::lock_guard<std::mutex> lock(queueMutex_);
    for (TSoundBlock& b : blocks)
        queue_.push_back(std::move(b));
    while (queue_.size() > kMaxKeptBlocks ||
           (queue_.size() > 1 && queue_.back().time - queue_.front().time > kKeptSpan))
        queue_.pop_front();
}

void TSoundCapture::Take(std::vector<TSoundBlock>& blocks) {
    const std::lock_guard<std::mutex> lock(queueMutex_);
    for (TSoundBlock& b : queue_)
        blocks.push_back(std::move(b));
    queue_.clear();
}

TSourceState TSoundCapture::State(TSoundSource s) const {
    const auto& source = sources_[static_cast<std::size_t>(s)];
    return source ? source->State() : TSourceState::Off;
}

float TSoundCapture::Level(TSoundSource s) const {
    const auto& source = sources_[static_cast<std::size_t>(s)];
    return source ? source->Level() : 0;
}

std::uint32_t TSoundCapture::MissingMilliseconds(TSoundSource s) const {
    const auto& source = sources_[static_cast<std::size_t>(s)];
    return source ? source->MissingMilliseconds() : 0;
}

std::wstring TSoundCapture::SourceName(TSoundSource s) const {
    const auto& source = sources_[static_cast<std::size_t>(s)];
    return source ? source->Name() : std::wstring();
}

bool TSoundCapture::Substituted(TSoundSource s) const {
    const auto& source = sources_[static_cast<std::size_t>(s)];
    return source && source->Substituted();
}

} // namespace sound
