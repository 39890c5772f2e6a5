#include "engine/RecordingSound.h"

#include "sound/SoundDevices.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace engine {

namespace {

// How long the end waits for the sources to deliver the sound up to the picture's end.
constexpr DWORD kFinishWaitMs = 400;

const wchar_t* SourceText(media::TSoundSource source) {
    return source == media::TSoundSource::Microphone ? L"The microphone"
                                                     : L"The computer's sound";
}

} // namespace

TRecordingSound::TRecordingSound(const sound::TCaptureOptions& options) : capture_(options) {
    capture_.Start();
}

TRecordingSound::~TRecordingSound() {
    capture_.Stop();
}

void TRecordingSound::MarkStart() {
    std::lock_guard<std::mutex> lock(lock_);
    timeline_.emplace(sound::ClockNow());
    // What came before the start is not the recording's.
    capture_.Take(blocks_);
    blocks_.clear();
}

void TRecordingSound::MarkPause() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!timeline_ || paused_) return;
    Gather();
    timeline_->Pause(sound::ClockNow());
    paused_ = true;
}

void TRecordingSound::MarkResume() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!timeline_ || !paused_) return;
    Gather();
    timeline_->Resume(sound::ClockNow());
    paused_ = false;
}

void TRecordingSound::Gather() {
    blocks_.clear();
    capture_.Take(blocks_);
    if (!timeline_) return;
    for (const media::TSoundBlock& block : blocks_)
        timeline_->Add(block);
    blocks_.clear();
}

void TRecordingSound::Take(std::int64_t until, std::vector<std::int16_t>& out, bool exactly) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!timeline_ || finished_) return;
    Gather();
    const std::int64_t ready = timeline_->Position(sound::ClockNow()) - kHoldBackFrames;
    const std::int64_t end = exactly ? until : std::min(until, ready);
    if (end > timeline_->Taken()) timeline_->Take(end, out);
}

void TRecordingSound::Finish(std::int64_t until, std::vector<std::int16_t>& out) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!timeline_ || finished_) return;
    }
    // The last packets are on their way: give them a moment, as long as the clock has not yet
    // gone past the end by that much.
    const DWORD waitStart = GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            const std::int64_t now = timeline_->Position(sound::ClockNow());
            if (paused_ || now - until >= FrameAt(100)) break;
        }
        if (GetTickCount() - waitStart >= kFinishWaitMs) break;
        Sleep(20);
    }
    capture_.Stop();
    std::lock_guard<std::mutex> lock(lock_);
    Gather();
    if (until > timeline_->Taken()) timeline_->Take(until, out);
    finished_ = true;
}

sound::TSourceState TRecordingSound::State(media::TSoundSource source) const {
    return capture_.State(source);
}

float TRecordingSound::Level(media::TSoundSource source) const {
    return capture_.Level(source);
}

std::wstring TRecordingSound::MissingReport(std::int64_t recordedMs) const {
    std::wstring report;
    for (const media::TSoundSource source :
         {media::TSoundSource::Microphone, media::TSoundSource::System}) {
        if (capture_.State(source) == sound::TSourceState::Off) continue;
        // The capture starts a moment before the recording: no more than all of it was missing.
        const std::int64_t ms = std::min<std::int64_t>(capture_.MissingMilliseconds(source),
                                                       recordedMs);
        if (ms <= 0) continue;
        wchar_t line[200];
        if (ms >= recordedMs)
            std::swprintf(line, std::size(line),
                          L"%ls was not recorded: no sound device could be opened for it.\n",
                          SourceText(source));
        else
            std::swprintf(line, std::size(line),
                          L"%ls was missing for %u.%u s of the recording's %u.%u s.\n",
                          SourceText(source), static_cast<unsigned>(ms / 1000),
                          static_cast<unsigned>(ms % 1000 / 100),
                          static_cast<unsigned>(recordedMs / 1000),
                          static_cast<unsigned>(recordedMs % 1000 / 100));
        report += line;
    }
    return report;
}

} // namespace engine
