// quarnelby_bench: measures the capture engine and our Microsoft Video 1 and H.264 encoders on one
// screen region and appends one JSON object per figure (one per line) to a file.
//
//   quarnelby_bench --region WxH+X+Y --json FILE --dir DIR [--grab-frames N] [--record-ms MS]
//                   [--pacing-ms MS] [--codec-frames N] [--scene NAME]
//   quarnelby_bench --region WxH+X+Y --dir DIR --record-only MS   (records at the defaults)
//   quarnelby_bench --finish-mb MB --json FILE --dir DIR    (finishes an MP4 file of MB megabytes)
//   quarnelby_bench --sound-seconds S --json FILE --dir DIR (AAC and the sound timeline on S s)
//   quarnelby_bench --region WxH+X+Y --json FILE --dir DIR --sound-cost MS [--sound-outputs
//   mp4,avi]
//                   (CPU per recorded second at the defaults, both sound sources off and on)
//
// Figures: GrabFrame cost beside a bare BitBlt + GetDIBits loop (taken in turns) and a memcpy of a
// frame-sized block; recording throughput at a 1 ms capture interval for "No Compression" and every
// compressor in the catalogue, the built-in H.264 encoder among them; pacing at the default 100 ms
// interval uncompressed, with Microsoft Video 1 and with H.264; our encoders on frames of an
// uncompressed recording. DIR receives the recordings, among them codec_source.avi (the encoders'
// input, for other encoders), codec_ours.avi (our Video 1's output) and codec_h264.mp4 (our
// H.264's). Every figure names the scene shown (--scene, "moving" unless given); for a scene other
// than the moving one only the codec figures are measured, on an uncompressed recording of it.
// The sound figures: our AAC encoder alone and as an MP4 file's track, and the sound timeline
// mixing two sources, each on synthetic sound, in CPU time; the CPU time of the whole process per
// recorded second with the microphone and the computer's sound on against off (the sound server
// must be running and playing into both, see scripts/bench).
#include "media/AacEncoder.h"
#include "media/AacTrack.h"
#include "media/ColourConvert.h"
#include "media/H264Encoder.h"
#include "media/Mp4Recovery.h"
#include "media/Mp4Writer.h"
#include "media/Msvc1Encoder.h"
#include "media/FileSplit.h"
#include "media/SoundFormat.h"
#include "media/SoundTimeline.h"
#include "core/Text.h"
#include "engine/Catalogue.h"
#include "engine/RecordOutput.h"
#include "engine/msvc1drv.h"
#include "engine/scrcam.h"
#include "base/Handles.h"
#include "base/ScopeGuard.h"
#include "base/Thread.h"
#include "tests/common/Msvc1Decode.h"

#include <windows.h>
#include <shellapi.h>
#include <vfw.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

// --------------------------------------------------------------------------------------------
// Output

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// One JSON object built field by field.
class TFigure {
public:
    explicit TFigure(const std::string& kind) { Add("figure", kind); }
    TFigure& Add(const std::string& key, const std::string& value) {
        return Raw(key, Quoted(value));
    }
    TFigure& Add(const std::string& key, double value) {
        if (!std::isfinite(value)) return Raw(key, "null");
        char buf[64];
        std::snprintf(buf, sizeof(buf), "%.6g", value);
        return Raw(key, buf);
    }
    TFigure& Add(const std::string& key, long long value) {
        return Raw(key, std::to_string(value));
    }
    TFigure& Add(const std::string& key, int value) {
        return Add(key, static_cast<long long>(value));
    }
    TFigure& Add(const std::string& key, bool value) { return Raw(key, value ? "true" : "false"); }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    TFigure& Raw(const std::string& key, const std::string& value) {
        if (!body_.empty()) body_ += ", ";
        body_ += Quoted(key) + ": " + value;
        return *this;
    }
    std::string body_;
};

struct TOptions {
    core::Rect rect;
    std::wstring json;
    std::wstring dir;
    int grabFrames = 60;
    int recordMs = 3000;
    int pacingMs = 10000;
    int codecFrames = 30;
    std::string scene = "moving";
    // Only record at the defaults (100 ms, Microsoft Video 1) for this long, for the cost of a
    // recorded second measured from outside; no figures.
    int recordOnlyMs = 0;
    // Only time the finishing of an MP4 file of this many megabytes into a regular one.
    int finishMb = 0;
    // Only the AAC encoder's and the sound timeline's speed, on this many seconds of sound.
    int soundSeconds = 0;
    // Only the CPU per recorded second with sound and without, recording this long each time,
    // into the outputs named (mp4: H.264 in MP4; avi: Microsoft Video 1 in AVI).
    int soundCostMs = 0;
    std::string soundOutputs = "mp4,avi";
};

FILE* jsonFile = nullptr;
TOptions options;
int screenBitsPerPixel = 0;
// Keeps the copies observable, so that they are not optimised away.
volatile unsigned copySink = 0;

void Emit(TFigure& figure) {
    char region[32];
    std::snprintf(region, sizeof(region), "%dx%d", options.rect.width, options.rect.height);
    // The finishing's and the sound codecs' figures belong to no region.
    if (options.finishMb == 0 && options.soundSeconds == 0)
        figure.Add("region", std::string(region))
            .Add("bpp", screenBitsPerPixel)
            .Add("scene", options.scene);
    const std::string line = figure.Text();
    std::fprintf(jsonFile, "%s\n", line.c_str());
    std::fflush(jsonFile);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// --------------------------------------------------------------------------------------------
// Timing

double NowMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perMs;
}

// Nearest-rank percentile (0..100) of the samples.
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double Mean(const std::vector<double>& v) {
    if (v.empty()) return NAN;
    double s = 0;
    for (double x : v)
        s += x;
    return s / static_cast<double>(v.size());
}

// CPU time (user + kernel) of the whole process so far, in milliseconds. Wine counts it in clock
// ticks (10 ms), so a measurement needs a few hundred milliseconds of it.
double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return NAN;
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>((ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

void AddStats(TFigure& f, const std::vector<double>& ms) {
    f.Add("samples", static_cast<int>(ms.size()))
        .Add("median_ms", Percentile(ms, 50))
        .Add("p95_ms", Percentile(ms, 95))
        .Add("mean_ms", Mean(ms));
}

// --------------------------------------------------------------------------------------------
// AVI files

std::string FourccText(DWORD fcc) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fcc >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

struct TAviContents {
    bool opened = false;
    BITMAPINFOHEADER format{};
    std::vector<LONG> positions; // positions that hold a sample with data
    std::vector<LONG> sizes;
    std::vector<std::vector<std::uint8_t>> samples; // the first `keep` samples
};

TAviContents ReadAvi(const std::wstring& path, std::size_t keep = 0) {
    TAviContents r;
    AVIFileInit();
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0) {
            r.opened = true;
            const LONG start = AVIStreamStart(stream);
            const LONG end = start + AVIStreamLength(stream);
            LONG formatSize = sizeof(r.format);
            AVIStreamReadFormat(stream, start, &r.format, &formatSize);
            for (LONG pos = start; pos < end; ++pos) {
                LONG bytes = 0, samples = 0;
                if (AVIStreamRead(stream, pos, 1, nullptr, 0, &bytes, &samples) != 0 || bytes <= 0)
                    continue;
                r.positions.push_back(pos);
                r.sizes.push_back(bytes);
                if (r.samples.size() < keep) {
                    std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
                    AVIStreamRead(stream, pos, 1, data.data(), bytes, nullptr, nullptr);
                    r.samples.push_back(std::move(data));
                }
            }
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AVIFileExit();
    return r;
}

// A whole file in memory for the MP4 reader, which only reads.
class TFileInMemory : public media::RecoveryFile {
public:
    explicit TFileInMemory(const std::wstring& path) {
        if (FILE* f = _wfopen(path.c_str(), L"rb")) {
            char buf[1 << 16];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof(buf), f)) > 0;)
                bytes_.insert(bytes_.end(), buf, buf + n);
            std::fclose(f);
        }
    }
    std::uint64_t Size() override { return bytes_.size(); }
    bool Read(std::uint64_t offset, void* data, std::size_t size) override {
        if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
        std::memcpy(data, bytes_.data() + offset, size);
        return true;
    }
    bool Write(std::uint64_t, const void*, std::size_t) override { return false; }
    bool Resize(std::uint64_t) override { return false; }

private:
    std::vector<std::uint8_t> bytes_;
};

// The frames of a recording, AVI or MP4 by the file's extension: their positions (slots), sizes
// and how many are key frames. An MP4 file's sample times are its positions (one tick each).
struct TRecorded {
    bool opened = false;
    std::vector<long long> positions;
    std::vector<long long> sizes;
    long long keyFrames = 0;
    int formatBpp = 0;
    std::string formatFourcc;
};

bool IsMp4Name(const std::wstring& path) {
    return core::SameTextAscii(media::ExtensionOf(path), L".mp4");
}

TRecorded ReadRecording(const std::wstring& path) {
    TRecorded r;
    if (IsMp4Name(path)) {
        TFileInMemory file(path);
        std::string why;
        std::vector<media::Mp4Sample> samples;
        if (!media::ReadMp4(file, why, &samples)) return r;
        r.opened = true;
        r.formatFourcc = "avc1";
        for (const media::Mp4Sample& s : samples) {
            r.positions.push_back(static_cast<long long>(s.time));
            r.sizes.push_back(s.size);
            r.keyFrames += s.sync ? 1 : 0;
        }
        return r;
    }
    const TAviContents avi = ReadAvi(path);
    r.opened = avi.opened;
    r.formatBpp = avi.format.biBitCount;
    r.formatFourcc = avi.format.biCompression == BI_RGB ? std::string("BI_RGB")
                                                        : FourccText(avi.format.biCompression);
    r.positions.assign(avi.positions.begin(), avi.positions.end());
    r.sizes.assign(avi.sizes.begin(), avi.sizes.end());
    return r;
}

// Writes frames of one format at consecutive positions; returns whether every call succeeded.
bool WriteAvi(const std::wstring& path, const BITMAPINFOHEADER& format, DWORD handler,
              const std::vector<std::vector<std::uint8_t>>& frames,
              const std::vector<bool>& keyFrames) {
    DeleteFileW(path.c_str());
    AVIFileInit();
    bool ok = false;
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) == 0) {
        AVISTREAMINFOW info{};
        info.fccType = streamtypeVIDEO;
        info.fccHandler = handler;
        info.dwScale = 1;
        info.dwRate = 10;
        SetRect(&info.rcFrame, 0, 0, format.biWidth, format.biHeight);
        PAVISTREAM stream = nullptr;
        if (AVIFileCreateStreamW(file, &stream, &info) == 0) {
            BITMAPINFOHEADER fmt = format;
            ok = AVIStreamSetFormat(stream, 0, &fmt, sizeof(fmt)) == 0;
            for (std::size_t i = 0; ok && i < frames.size(); ++i)
                ok = AVIStreamWrite(stream, static_cast<LONG>(i), 1,
                                    const_cast<std::uint8_t*>(frames[i].data()),
                                    static_cast<LONG>(frames[i].size()),
                                    keyFrames[i] ? AVIIF_KEYFRAME : 0, nullptr, nullptr) == 0;
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AVIFileExit();
    return ok;
}

// --------------------------------------------------------------------------------------------
// Measurements

std::size_t FrameBytes(int w, int h, int bpp) {
    return media::DibRowBytes(w, bpp) * static_cast<std::size_t>(h);
}

void MeasureGrabs(engine::TScreenCam& cam) {
    const core::Rect& r = options.rect;
    const int n = options.grabFrames;
    const int bpp = static_cast<int>(cam.BitsPerPixel);

    // The engine's GrabFrame (cursor drawn in) and the platform's floor, BitBlt from the screen
    // and GetDIBits into one reused buffer, taken in turns so that both see the same load.
    std::vector<double> grab, bare;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, r.width, r.height);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = r.width;
    bi.bmiHeader.biHeight = r.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(bpp);
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> bits(FrameBytes(r.width, r.height, bpp));
    bool failed = false;
    for (int i = -1; i < n && !failed; ++i) {
        double t0 = NowMs();
        BITMAPINFOHEADER* frame = cam.GrabFrame(r.left, r.top, r.width, r.height);
        double dt = NowMs() - t0;
        failed = frame == nullptr;
        engine::TScreenCam::FreeFrame(frame);
        if (i >= 0) grab.push_back(dt);

        t0 = NowMs();
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, r.width, r.height, screen, r.left, r.top, SRCCOPY);
        SelectObject(mem, old);
        GetDIBits(mem, bmp, 0, static_cast<UINT>(r.height), bits.data(), &bi, DIB_RGB_COLORS);
        dt = NowMs() - t0;
        if (i >= 0) bare.push_back(dt);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    TFigure g("grab");
    if (failed) {
        g.Add("error", std::string("GrabFrame returned no frame"));
        Emit(g);
        return;
    }
    g.Add("frame_bytes", static_cast<long long>(FrameBytes(r.width, r.height, bpp)));
    AddStats(g, grab);
    Emit(g);
    TFigure b("bare_grab");
    AddStats(b, bare);
    Emit(b);

    // The memory-bandwidth floor: copying a frame-sized block between two buffers.
    std::vector<double> copy;
    {
        const std::size_t size = FrameBytes(r.width, r.height, bpp);
        std::vector<std::uint8_t> from(size, 0x5A), to(size, 0);
        unsigned checksum = 0;
        for (int i = -1; i < std::max(n, 50); ++i) {
            from[static_cast<std::size_t>(i + 1) % size] = static_cast<std::uint8_t>(i);
            const double t0 = NowMs();
            std::memcpy(to.data(), from.data(), size);
            const double dt = NowMs() - t0;
            checksum += to[static_cast<std::size_t>(i + 1) % size];
            if (i >= 0) copy.push_back(dt);
        }
        TFigure m("memcpy");
        AddStats(m, copy);
        copySink = checksum;
        Emit(m);
    }
}

// Records the region into the file for `ms` of wall time and waits for the worker's end.
bool Record(engine::TScreenCam& cam, const std::wstring& file, int ms) {
    DeleteFileW(file.c_str());
    cam.StartRecording(options.rect, file);
    if (!cam.RecordThread) return false;
    base::TThread::ServeUntil([] { return false; }, static_cast<DWORD>(ms));
    cam.StopRecording();
    return base::TThread::ServeUntil([&] { return cam.RecordThread == nullptr; }, 120000);
}

std::string CompressorName(const engine::TScreenCam& cam, int index) {
    if (index < 0) return "No Compression";
    return Utf8(cam.Compressors[static_cast<std::size_t>(index)].szDescription);
}

std::string CompressorFourcc(const engine::TScreenCam& cam, int index) {
    if (index < 0) return "DIB ";
    return FourccText(cam.Compressors[static_cast<std::size_t>(index)].fccHandler);
}

// Whether an earlier catalogue entry has the same four-character code (in any case) and
// description: ICOpen reaches the same driver through both.
bool RepeatsEarlierEntry(const engine::TScreenCam& cam, int index) {
    auto key = [&](int i) {
        std::string fcc = CompressorFourcc(cam, i);
        for (char& c : fcc)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return fcc + CompressorName(cam, i);
    };
    for (int i = 0; i < index; ++i)
        if (key(i) == key(index)) return true;
    return false;
}

void MeasureThroughput(engine::TScreenCam& cam) {
    for (int index = -1; index < cam.CompressorCount; ++index) {
        if (index >= 0 && RepeatsEarlierEntry(cam, index)) continue;
        cam.CompressorIndex = index;
        cam.CaptureInterval = 1;
        cam.PlaybackRate = 10;
        const std::wstring file =
            options.dir + (cam.RecordsMp4() ? L"\\throughput.mp4" : L"\\throughput.avi");
        TFigure f("record");
        f.Add("compressor", CompressorName(cam, index))
            .Add("fourcc", CompressorFourcc(cam, index))
            .Add("capture_interval_ms", 1)
            .Add("duration_ms", options.recordMs);
        if (!Record(cam, file, options.recordMs)) {
            f.Add("error", std::string("the recording did not end"));
            Emit(f);
            continue;
        }
        const TRecorded rec = ReadRecording(file);
        const std::size_t frames = rec.positions.size();
        long long bytes = 0;
        for (long long s : rec.sizes)
            bytes += s;
        // Positions are milliseconds at a 1 ms interval: the rate between the first and the last
        // frame written.
        const double span =
            frames > 1 ? static_cast<double>(rec.positions.back() - rec.positions.front()) : 0;
        f.Add("frames", static_cast<long long>(frames))
            .Add("frames_counted", static_cast<int>(cam.FramesWritten))
            .Add("fps", span > 0 ? (static_cast<double>(frames) - 1) * 1000.0 / span : NAN)
            .Add("bytes_per_frame", frames ? static_cast<double>(bytes) / frames : NAN)
            .Add("uncompressed_bytes_per_frame",
                 static_cast<long long>(
                     FrameBytes(options.rect.width, options.rect.height, cam.BitsPerPixel)))
            .Add("format_fourcc", rec.formatFourcc);
        if (rec.formatBpp) f.Add("format_bpp", rec.formatBpp);
        if (IsMp4Name(file)) f.Add("key_frames", rec.keyFrames);
        if (!rec.opened || frames == 0) f.Add("error", std::string("no frames in the file"));
        Emit(f);
        DeleteFileW(file.c_str());
    }
}

// Pacing at the default interval; leaves the uncompressed recording as pacing_DIB.avi. With
// `marks`, the same with the cursor highlight and click rings on (no presses come: the cost is
// the highlight's blend and the rings' bookkeeping in every frame).
void MeasurePacing(engine::TScreenCam& cam, int index, bool marks = false) {
    cam.HighlightCursor = marks;
    cam.ShowClicks = marks;
    const auto marksOff = base::ScopeExit([&cam] {
        cam.HighlightCursor = false;
        cam.ShowClicks = false;
    });
    cam.CompressorIndex = index;
    cam.CaptureInterval = 100;
    cam.PlaybackRate = 10;
    const std::wstring file = options.dir + (marks              ? L"\\pacing_marks.avi"
                                             : index < 0        ? L"\\pacing_DIB.avi"
                                             : cam.RecordsMp4() ? L"\\pacing_compressed.mp4"
                                                                : L"\\pacing_compressed.avi");
    TFigure f("pacing");
    f.Add("compressor", CompressorName(cam, index) + (marks ? ", cursor marks on" : ""))
        .Add("fourcc", CompressorFourcc(cam, index))
        .Add("capture_interval_ms", 100)
        .Add("duration_ms", options.pacingMs);
    if (!Record(cam, file, options.pacingMs)) {
        f.Add("error", std::string("the recording did not end"));
        Emit(f);
        return;
    }
    const TRecorded rec = ReadRecording(file);
    const int interval = 100;
    // Slots that began while recording: slot 0 at the start, one more every interval.
    const long long slots = static_cast<long long>(cam.ElapsedTime.load()) / interval + 1;
    long long longest = rec.positions.empty() ? 0 : rec.positions.front() + 1;
    for (std::size_t i = 1; i < rec.positions.size(); ++i)
        longest = std::max(longest, rec.positions[i] - rec.positions[i - 1]);
    long long bytes = 0;
    for (long long s : rec.sizes)
        bytes += s;
    const std::size_t frames = rec.positions.size();
    f.Add("frames", static_cast<long long>(frames))
        .Add("frames_counted", static_cast<int>(cam.FramesWritten))
        .Add("slots", slots)
        .Add("frames_per_slot", slots ? static_cast<double>(frames) / slots : NAN)
        .Add("longest_gap_slots", longest)
        .Add("longest_gap_ms", longest * interval)
        .Add("bytes_per_frame", frames ? static_cast<double>(bytes) / frames : NAN);
    if (IsMp4Name(file)) f.Add("key_frames", rec.keyFrames);
    if (!rec.opened || frames == 0) f.Add("error", std::string("no frames in the file"));
    Emit(f);
    if (index >= 0 || marks) DeleteFileW(file.c_str());
}

// Top-down 0x00RRGGBB pixels of a bottom-up 16 (RGB555) or 32-bit DIB.
std::vector<std::uint32_t> DibPixels(const std::uint8_t* dib, int w, int h, int bpp) {
    std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h);
    const std::size_t row = media::DibRowBytes(w, bpp);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = dib + static_cast<std::size_t>(h - 1 - y) * row;
        std::uint32_t* dst = px.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            if (bpp == 32 || bpp == 24) {
                const std::uint8_t* p = src + x * (bpp / 8);
                dst[x] = (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
            } else {
                const int v = src[2 * x] | (src[2 * x + 1] << 8);
                int r, g, b;
                testing_msvc1::Rgb555ToRgb(static_cast<std::uint16_t>(v), r, g, b);
                dst[x] = (static_cast<std::uint32_t>(r) << 16) |
                         (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b);
            }
        }
    }
    return px;
}

// Where TMp4Writer's bytes go: a file written front to back, its header filled in at the end.
class TMp4FileSink : public media::Mp4Sink {
public:
    explicit TMp4FileSink(const std::wstring& path) : file_(_wfopen(path.c_str(), L"wb")) {}
    ~TMp4FileSink() override { Close(); }
    bool Write(const void* data, std::size_t size) override {
        return file_ && std::fwrite(data, 1, size, file_) == size;
    }
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
        return file_ && _fseeki64(file_, static_cast<__int64>(offset), SEEK_SET) == 0 &&
               Write(data, size) && _fseeki64(file_, 0, SEEK_END) == 0;
    }
    bool Close() {
        const bool ok = file_ && std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }

private:
    FILE* file_;
};

// Our H.264 encoder at the default quality on the same frames, as a recording's MP4 output codes
// them: each frame converted to I420 and encoded (both timed), the first an IDR and then one every
// 10 s of the 10 frames a second; written to codec_h264.mp4 for ffmpeg to decode.
void MeasureH264(const std::vector<std::vector<std::uint8_t>>& source, int w, int h, int bpp) {
    TFigure f("codec");
    f.Add("encoder", std::string("ours h264"));
    constexpr int kRate = 10, kIdrEvery = 10 * kRate;
    media::TH264Encoder enc;
    std::string why;
    if (!enc.Open({.width = w,
                   .height = h,
                   .quality = media::kH264DefaultQuality,
                   .frameRate = static_cast<float>(kRate)},
                  why)) {
        f.Add("error", "the H.264 encoder refuses the frames: " + why);
        Emit(f);
        return;
    }
    const int cw = w / 2;
    std::vector<std::uint8_t> planes(static_cast<std::size_t>(w) * h * 3 / 2);
    std::uint8_t* y = planes.data();
    std::uint8_t* u = y + static_cast<std::size_t>(w) * h;
    std::uint8_t* v = u + static_cast<std::size_t>(cw) * (h / 2);
    TMp4FileSink sink(options.dir + L"\\codec_h264.mp4");
    media::TMp4Writer writer(sink);
    // The pictures as coded, for another encoder to start from the same 4:2:0 pictures.
    FILE* i420 = _wfopen((options.dir + L"\\codec_i420.yuv").c_str(), L"wb");
    bool i420Written = i420 != nullptr;
    std::vector<std::uint8_t> au;
    std::vector<double> convertMs, ms;
    long long bytes = 0, idrBytes = 0, idrs = 0, firstIdrBytes = 0;
    bool ok = true, firstIsIdr = false;
    int lastIdr = 0;
    for (std::size_t i = 0; ok && i < source.size(); ++i) {
        const int position = static_cast<int>(i);
        const bool forceIdr = i == 0 || position - lastIdr >= kIdrEvery;
        bool idr = false;
        const double t0 = NowMs();
        ok = media::DibToI420(source[i].data(), w, h, bpp, {y, u, v, w, cw, cw});
        const double t1 = NowMs();
        ok = ok &&
             enc.Encode(y, u, v, w, cw, std::int64_t{position} * 1000 / kRate, forceIdr, au, idr);
        const double t2 = NowMs();
        if (!ok) break;
        convertMs.push_back(t1 - t0);
        ms.push_back(t2 - t0);
        i420Written =
            i420Written && std::fwrite(planes.data(), 1, planes.size(), i420) == planes.size();
        if (i == 0) {
            firstIsIdr = idr;
            media::TBytesView sps, pps;
            for (const media::TBytesView nal : media::SplitAnnexB(au)) {
                if (media::NalType(nal) == 7) sps = nal;
                if (media::NalType(nal) == 8) pps = nal;
            }
            ok = writer.Begin(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), kRate,
                              sps, pps);
        }
        const long long stored = static_cast<long long>(writer.StoredSampleBytes(au));
        ok = ok && writer.AddSample(au, static_cast<std::uint64_t>(position), idr);
        bytes += stored;
        if (idr) {
            lastIdr = position;
            ++idrs;
            idrBytes += stored;
            if (i == 0) firstIdrBytes = stored;
        }
    }
    ok = ok && writer.Finish(1);
    if (i420) i420Written = std::fclose(i420) == 0 && i420Written;
    const bool written = sink.Close() && ok && i420Written;
    const double n = static_cast<double>(ms.size());
    const double pFrames = n - static_cast<double>(idrs);
    f.Add("frames", static_cast<long long>(ms.size()))
        .Add("source_bpp", bpp)
        .Add("quality", media::kH264DefaultQuality)
        .Add("qp", media::QuantiserForQuality(media::kH264DefaultQuality))
        .Add("idr_every_frames", kIdrEvery)
        .Add("first_is_idr", firstIsIdr)
        .Add("idr_frames", idrs)
        .Add("first_idr_bytes", firstIdrBytes)
        .Add("bytes_per_frame", n > 0 ? static_cast<double>(bytes) / n : NAN)
        .Add("uncompressed_bytes_per_frame", static_cast<long long>(FrameBytes(w, h, bpp)))
        .Add("encode_median_ms", Percentile(ms, 50))
        .Add("encode_mean_ms", Mean(ms))
        .Add("convert_mean_ms", Mean(convertMs))
        .Add("files_written", written);
    if (pFrames > 0) f.Add("p_bytes_per_frame", static_cast<double>(bytes - idrBytes) / pFrames);
    if (!ok || !written) f.Add("error", std::string("a frame could not be coded or written"));
    Emit(f);
}

// Our Microsoft Video 1 encoder at its defaults on the frames; its output goes to codec_ours.avi.
void MeasureMsvc1(const std::vector<std::vector<std::uint8_t>>& source, int w, int h, int bpp) {
    TFigure f("codec");
    f.Add("encoder", std::string("ours msvc1"));
    constexpr int kQuality = 6550, kKeyEvery = 5;
    media::TMsvc1Encoder enc;
    if (!enc.Begin(w, h, bpp)) {
        f.Add("error", std::string("the encoder refuses the frames"));
        Emit(f);
        return;
    }
    std::vector<std::uint8_t> out(media::Msvc1MaxFrameBytes(w, h));
    std::vector<std::vector<std::uint8_t>> encoded;
    std::vector<bool> keys;
    std::vector<double> ms, psnr;
    std::vector<std::uint16_t> picture;
    long long bytes = 0;
    bool decodes = true;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const bool key = i % kKeyEvery == 0;
        bool wasKey = false;
        const double t0 = NowMs();
        const std::size_t size =
            enc.Encode(source[i].data(), kQuality, key, out.data(), out.size(), &wasKey);
        ms.push_back(NowMs() - t0);
        bytes += static_cast<long long>(size);
        encoded.emplace_back(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size));
        keys.push_back(wasKey);
        if (!testing_msvc1::DecodeMsvc1(out.data(), size, w, h, picture).ok) decodes = false;
        psnr.push_back(testing_msvc1::Psnr(DibPixels(source[i].data(), w, h, bpp), picture, w, h));
    }
    BITMAPINFOHEADER cram{};
    cram.biSize = sizeof(cram);
    cram.biWidth = w;
    cram.biHeight = h;
    cram.biPlanes = 1;
    cram.biBitCount = 16;
    cram.biCompression = mmioFOURCC('C', 'R', 'A', 'M');
    cram.biSizeImage = static_cast<DWORD>(out.size());
    const bool oursWritten = WriteAvi(options.dir + L"\\codec_ours.avi", cram,
                                      mmioFOURCC('M', 'S', 'V', 'C'), encoded, keys);
    const double n = static_cast<double>(source.size());
    f.Add("frames", static_cast<long long>(source.size()))
        .Add("source_bpp", bpp)
        .Add("quality", kQuality)
        .Add("key_frame_every", kKeyEvery)
        .Add("bytes_per_frame", static_cast<double>(bytes) / n)
        .Add("uncompressed_bytes_per_frame", static_cast<long long>(FrameBytes(w, h, bpp)))
        .Add("encode_median_ms", Percentile(ms, 50))
        .Add("encode_mean_ms", Mean(ms))
        .Add("psnr_db", Mean(psnr))
        .Add("decodes", decodes)
        .Add("files_written", oursWritten);
    if (!decodes || !oursWritten)
        f.Add("error", std::string(decodes ? "an AVI file could not be written"
                                           : "a frame does not decode"));
    Emit(f);
}

// Our encoders on the first frames of the uncompressed pacing recording, which are also written
// densely to codec_source.avi for the other encoders.
void MeasureCodec() {
    TAviContents avi =
        ReadAvi(options.dir + L"\\pacing_DIB.avi", static_cast<std::size_t>(options.codecFrames));
    const int w = avi.format.biWidth, h = avi.format.biHeight, bpp = avi.format.biBitCount;
    const std::size_t frameBytes = FrameBytes(w, h, bpp);
    std::vector<std::vector<std::uint8_t>> source;
    for (auto& s : avi.samples)
        if (s.size() >= frameBytes) source.push_back(std::move(s));
    if (source.empty()) {
        TFigure f("codec");
        f.Add("encoder", std::string("ours msvc1"))
            .Add("error", std::string("no uncompressed frames to encode"));
        Emit(f);
        return;
    }
    BITMAPINFOHEADER sourceFormat = avi.format;
    sourceFormat.biSizeImage = static_cast<DWORD>(frameBytes);
    if (!WriteAvi(options.dir + L"\\codec_source.avi", sourceFormat, 0, source,
                  std::vector<bool>(source.size(), true))) {
        TFigure f("codec_source");
        f.Add("error", std::string("codec_source.avi could not be written"));
        Emit(f);
    }
    MeasureMsvc1(source, w, h, bpp);
    MeasureH264(source, w, h, bpp);
}

// The finishing of an MP4 file of about options.finishMb megabytes as a recording of 30 KB pictures
// at 10 a second writes it, a fragment a second (1 GiB: an hour): the time to make it a regular
// MP4 in place, right after it was written as at a Stop.
int MeasureFinish() {
    TFigure f("finish");
    const std::wstring path = options.dir + L"\\finish.mp4";
    constexpr std::size_t kSampleBytes = 30000;
    constexpr std::uint64_t kRate = 10;
    const std::vector<std::uint8_t> sps{0x67, 66, 0xC0, 30, 0xDA, 0x02, 0x80, 0xBF, 0xE5, 0x84};
    const std::vector<std::uint8_t> pps{0x68, 0xCE, 0x3C, 0x80};
    std::vector<std::uint8_t> slice(kSampleBytes - 4, 0x5A);
    std::uint64_t samples = 0;
    bool ok = false;
    {
        TMp4FileSink sink(path);
        media::TMp4Writer writer(sink);
        ok = writer.Begin(1920, 1080, kRate, sps, pps);
        const std::uint64_t target = static_cast<std::uint64_t>(options.finishMb) << 20;
        while (ok && writer.ClosedSize() + kSampleBytes < target) {
            const bool key = samples % 100 == 0;
            slice[0] = key ? 0x65 : 0x41;
            const media::TBytesView nal(slice);
            ok = writer.AddSample(std::span(&nal, 1), samples, key) &&
                 (samples % kRate != kRate - 1 || writer.Flush());
            ++samples;
        }
        ok = writer.Finish() && sink.Close() && ok;
    }
    base::TKernelHandle handle = base::FileHandle(CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!ok || !handle) {
        f.Add("error", std::string("the file could not be written"));
        Emit(f);
        return 1;
    }
    engine::TWin32RecoveryFile file(handle.get());
    const double t0 = NowMs();
    const media::RecoveryResult result = media::FinishMp4(file);
    const double ms = NowMs() - t0;
    f.Add("file_bytes", static_cast<long long>(file.Size()))
        .Add("samples", static_cast<long long>(samples))
        .Add("fragments", static_cast<long long>((samples + kRate - 1) / kRate))
        .Add("finish_ms", ms);
    handle.reset();
    DeleteFileW(path.c_str());
    const bool finished =
        result.outcome == media::RecoveryOutcome::Rebuilt && result.frames == samples;
    if (!finished) f.Add("error", "not finished: " + result.why);
    Emit(f);
    return finished ? 0 : 1;
}

// --------------------------------------------------------------------------------------------
// Sound

// A sink that keeps nothing: the track's cost without the disk's.
class TCountingSink : public media::Mp4Sink {
public:
    bool Write(const void*, std::size_t size) override {
        bytes_ += size;
        return true;
    }
    bool WriteAt(std::uint64_t, const void*, std::size_t) override { return true; }
    std::uint64_t Bytes() const { return bytes_; }

private:
    std::uint64_t bytes_ = 0;
};

// `frames` frames of 48 kHz stereo: a tone on each side and a quiet pseudo-random hiss, so that
// the encoder has more than two lines of a spectrum to code.
std::vector<std::int16_t> StereoSound(std::size_t frames) {
    std::vector<std::int16_t> out(frames * 2);
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / media::kAacSampleRate;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.02;
            const double tone = 0.2 * std::sin(2 * std::numbers::pi * (c ? 660.0 : 440.0) * t);
            out[2 * i + static_cast<std::size_t>(c)] =
                media::SaturatedSample(static_cast<float>(tone + hiss));
        }
    }
    return out;
}

// Fills the figure with the CPU and wall time of `run` over `seconds` of sound.
template <typename TRun> void TimeSound(TFigure& f, double seconds, TRun run) {
    const double cpu0 = ProcessCpuMs(), wall0 = NowMs();
    run();
    const double cpu = ProcessCpuMs() - cpu0, wall = NowMs() - wall0;
    f.Add("sound_seconds", seconds)
        .Add("cpu_ms", cpu)
        .Add("wall_ms", wall)
        .Add("cpu_ms_per_second", cpu / seconds)
        .Add("seconds_per_cpu_second", cpu > 0 ? seconds * 1000.0 / cpu : NAN)
        .Add("seconds_per_wall_second", seconds * 1000.0 / wall);
}

// Our AAC encoder on options.soundSeconds of 48 kHz stereo: alone, and as the MP4 track of a
// recording at 10 frames a second (sound handed over every 100 ms, a fragment every second).
int MeasureAac() {
    const std::size_t frames =
        static_cast<std::size_t>(options.soundSeconds) * media::kAacSampleRate;
    const std::vector<std::int16_t> sound = StereoSound(frames);
    const double seconds = options.soundSeconds;
    int rc = 0;
    {
        TFigure f("aac");
        f.Add("encoder", std::string("TAacEncoder"));
        media::TAacEncoder enc;
        std::string why;
        bool ok = enc.Open(why);
        long long bytes = 0;
        std::vector<std::uint8_t> unit;
        std::vector<std::vector<std::uint8_t>> last;
        TimeSound(f, seconds, [&] {
            std::size_t i = 0;
            for (; ok && i + media::kAacFrameSamples <= frames; i += media::kAacFrameSamples) {
                ok = enc.Encode(sound.data() + 2 * i, unit);
                bytes += static_cast<long long>(unit.size());
            }
            ok = ok && enc.Finish(sound.data() + 2 * i, frames - i, last);
        });
        for (const auto& u : last)
            bytes += static_cast<long long>(u.size());
        f.Add("access_units", static_cast<long long>(enc.Frames()))
            .Add("kbit_per_second", static_cast<double>(bytes) * 8 / seconds / 1000);
        if (!ok || enc.Frames() != media::AacFramesFor(frames))
            f.Add("error", "the encoder failed: " + why);
        rc |= ok ? 0 : 1;
        Emit(f);
    }
    {
        TFigure f("aac");
        f.Add("encoder", std::string("TAacTrack"));
        TCountingSink sink;
        media::TMp4Writer writer(sink);
        media::TAacTrack track(writer);
        std::string why;
        const std::vector<std::uint8_t> sps{0x67, 66, 0xC0, 30, 0xDA, 0x02, 0x80, 0xBF, 0xE5, 0x84};
        const std::vector<std::uint8_t> pps{0x68, 0xCE, 0x3C, 0x80};
        std::vector<std::uint8_t> slice(200, 0x5A);
        bool ok = track.Open(why) && writer.Begin(640, 480, 1000, sps, pps);
        constexpr std::size_t kStep = media::kAacSampleRate / 10; // 100 ms
        TimeSound(f, seconds, [&] {
            for (std::size_t i = 0, n = 0; ok && i < frames; i += kStep, ++n) {
                slice[0] = n % 100 == 0 ? 0x65 : 0x41;
                const media::TBytesView nal(slice);
                ok = writer.AddSample(std::span(&nal, 1), n * 100, n % 100 == 0) &&
                     track.Add(sound.data() + 2 * i, std::min(kStep, frames - i)) &&
                     (n % 10 != 9 || writer.Flush());
            }
            ok = ok && track.Finish() && writer.Finish(100);
        });
        f.Add("access_units", static_cast<long long>(writer.AudioSamples()))
            .Add("file_bytes", static_cast<long long>(sink.Bytes()));
        if (!ok) f.Add("error", "the track failed: " + why);
        rc |= ok ? 0 : 1;
        Emit(f);
    }
    return rc;
}

// The sound timeline with two sources as a recording has them: a microphone at 44.1 kHz mono
// 16-bit and the computer's sound at 48 kHz stereo float, each in 10 ms blocks on time, both
// sounding; the track taken every 100 ms half a second behind, as the engine's worker takes it.
int MeasureTimeline() {
    TFigure f("sound_timeline");
    f.Add("sources", std::string("44.1 kHz mono int16 + 48 kHz stereo float"));
    constexpr media::TSoundTime kStart = 1'000'000'000, kStep = media::kSoundTicksPerSecond / 100;
    // A second of 10 ms blocks of each source, played again and again with new times.
    std::vector<media::TSoundBlock> mic(100), system(100);
    for (int b = 0; b < 100; ++b) {
        mic[b].source = media::TSoundSource::Microphone;
        mic[b].format = {.rate = 44100, .channels = 1, .sample = media::TSampleFormat::Int16};
        mic[b].frames = 441;
        mic[b].data.resize(441 * 2);
        for (int i = 0; i < 441; ++i) {
            const std::int16_t v = media::SaturatedSample(static_cast<float>(
                0.2 * std::sin(2 * std::numbers::pi * 2000.0 * (b * 441 + i) / 44100)));
            std::memcpy(&mic[b].data[static_cast<std::size_t>(i) * 2], &v, 2);
        }
        system[b].source = media::TSoundSource::System;
        system[b].format = {.rate = 48000, .channels = 2, .sample = media::TSampleFormat::Float32};
        system[b].frames = 480;
        system[b].data.resize(480 * 8);
        for (int i = 0; i < 480; ++i) {
            const float v = static_cast<float>(
                0.2 * std::sin(2 * std::numbers::pi * 440.0 * (b * 480 + i) / 48000));
            const float pair[2] = {v, v};
            std::memcpy(&system[b].data[static_cast<std::size_t>(i) * 8], pair, 8);
        }
    }
    media::TSoundTimeline timeline(kStart);
    std::vector<std::int16_t> out;
    std::int64_t taken = 0;
    const int steps = options.soundSeconds * 100;
    const std::int64_t end = std::int64_t{options.soundSeconds} * media::TSoundTimeline::kRate;
    TimeSound(f, options.soundSeconds, [&] {
        for (int step = 0; step < steps; ++step) {
            const media::TSoundTime time = kStart + step * kStep;
            mic[static_cast<std::size_t>(step % 100)].time = time;
            system[static_cast<std::size_t>(step % 100)].time = time;
            timeline.Add(mic[static_cast<std::size_t>(step % 100)]);
            timeline.Add(system[static_cast<std::size_t>(step % 100)]);
            if (step % 10 == 9) {
                const std::int64_t until =
                    timeline.Position(time) - media::TSoundTimeline::kRate / 2;
                if (until > timeline.Taken()) timeline.Take(until, out);
                taken += static_cast<std::int64_t>(out.size() / 2);
                out.clear();
            }
        }
        timeline.Take(end, out);
        taken += static_cast<std::int64_t>(out.size() / 2);
    });
    // The mix of the two tones, 3 dB down: its level shows that both sources were mixed.
    std::int16_t peak = 0;
    for (std::int16_t v : out)
        peak = std::max<std::int16_t>(peak, static_cast<std::int16_t>(std::abs(v)));
    f.Add("frames_out", static_cast<long long>(taken)).Add("peak_of_last_take", peak / 32768.0);
    const bool ok = taken == end && timeline.Peak(media::TSoundSource::Microphone) > 0 &&
                    timeline.Peak(media::TSoundSource::System) > 0;
    if (!ok) f.Add("error", std::string("the timeline did not mix both sources to the end"));
    Emit(f);
    return ok ? 0 : 1;
}

// The CPU time of this process per recorded second at the defaults with sound allowed (100 ms,
// 10 frames a second), both sources off and then on, for each output asked for. The window leaves
// out the first two seconds (the capture opens its devices, the encoders start) and the end.
int MeasureSoundCost(engine::TScreenCam& cam, int h264, int msvc) {
    int rc = 0;
    for (const std::string& output : {std::string("mp4"), std::string("avi")}) {
        if (options.soundOutputs.find(output) == std::string::npos) continue;
        for (const bool sound : {false, true}) {
            TFigure f("sound_cost");
            const int index = output == "mp4" ? h264 : msvc;
            f.Add("output", output)
                .Add("compressor", CompressorName(cam, index))
                .Add("sound", sound)
                .Add("capture_interval_ms", 100)
                .Add("window_ms", options.soundCostMs);
            if (index < 0) {
                f.Add("error", std::string("the compressor is not in the catalogue"));
                Emit(f);
                rc = 1;
                continue;
            }
            cam.CompressorIndex = index;
            cam.CaptureInterval = 100;
            cam.PlaybackRate = 10;
            cam.RecordMicrophone = sound;
            cam.RecordSystemSound = sound;
            const std::wstring file =
                options.dir + L"\\sound_cost." + std::wstring(output.begin(), output.end());
            DeleteFileW(file.c_str());
            if (!cam.StartRecording(options.rect, file)) {
                f.Add("error", std::string("the recording did not start"));
                Emit(f);
                rc = 1;
                continue;
            }
            base::TThread::ServeUntil([] { return false; }, 2000);
            // Both sources capturing, and the loudest each was, sampled every 100 ms.
            int samples = 0, bothRunning = 0;
            float peaks[2] = {0, 0};
            const double cpu0 = ProcessCpuMs(), wall0 = NowMs();
            while (NowMs() - wall0 < options.soundCostMs) {
                base::TThread::ServeUntil([] { return false; }, 100);
                ++samples;
                bothRunning += cam.SoundStates[0] == 1 && cam.SoundStates[1] == 1;
                for (int i = 0; i < 2; ++i)
                    peaks[i] =
                        std::max(peaks[i], cam.SoundLevels[static_cast<std::size_t>(i)].load());
            }
            const double cpu = ProcessCpuMs() - cpu0, wall = NowMs() - wall0;
            cam.StopRecording();
            const bool ended =
                base::TThread::ServeUntil([&] { return cam.RecordThread == nullptr; }, 120000);
            f.Add("cpu_ms", cpu)
                .Add("cpu_ms_per_second", cpu * 1000.0 / wall)
                .Add("frames", static_cast<int>(cam.FramesWritten));
            if (sound)
                f.Add("both_running_share",
                      samples ? static_cast<double>(bothRunning) / samples : 0.0)
                    .Add("microphone_peak", static_cast<double>(peaks[0]))
                    .Add("system_peak", static_cast<double>(peaks[1]));
            if (!ended || cam.FramesWritten == 0)
                f.Add("error", std::string("the recording did not end or wrote nothing"));
            else if (sound && (bothRunning < samples || peaks[0] == 0 || peaks[1] == 0))
                f.Add("error", std::string("a sound source was missing or silent"));
            rc |= ended ? 0 : 1;
            Emit(f);
            DeleteFileW(file.c_str());
        }
    }
    cam.RecordMicrophone = false;
    cam.RecordSystemSound = false;
    return rc;
}

bool ParseArgs(int argc, wchar_t** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring key = argv[i], value = argv[i + 1];
        if (key == L"--region") {
            int w, h, x, y;
            if (swscanf(value.c_str(), L"%dx%d+%d+%d", &w, &h, &x, &y) != 4) return false;
            options.rect = {x, y, w, h};
        } else if (key == L"--json") {
            options.json = value;
        } else if (key == L"--dir") {
            options.dir = value;
        } else if (key == L"--grab-frames") {
            options.grabFrames = _wtoi(value.c_str());
        } else if (key == L"--record-ms") {
            options.recordMs = _wtoi(value.c_str());
        } else if (key == L"--pacing-ms") {
            options.pacingMs = _wtoi(value.c_str());
        } else if (key == L"--codec-frames") {
            options.codecFrames = _wtoi(value.c_str());
        } else if (key == L"--scene") {
            options.scene.assign(value.begin(), value.end());
        } else if (key == L"--record-only") {
            options.recordOnlyMs = _wtoi(value.c_str());
        } else if (key == L"--finish-mb") {
            options.finishMb = _wtoi(value.c_str());
        } else if (key == L"--sound-seconds") {
            options.soundSeconds = _wtoi(value.c_str());
        } else if (key == L"--sound-cost") {
            options.soundCostMs = _wtoi(value.c_str());
        } else if (key == L"--sound-outputs") {
            options.soundOutputs.assign(value.begin(), value.end());
        } else {
            return false;
        }
    }
    if (options.finishMb > 0 || options.soundSeconds > 0)
        return !options.json.empty() && !options.dir.empty();
    if (options.soundCostMs > 0)
        return options.rect.width > 0 && options.rect.height > 0 && !options.json.empty() &&
               !options.dir.empty();
    if (options.recordOnlyMs > 0)
        return options.rect.width > 0 && options.rect.height > 0 && !options.dir.empty();
    return options.rect.width > 0 && options.rect.height > 0 && !options.json.empty() &&
           !options.dir.empty() && options.grabFrames > 0 && options.recordMs > 0 &&
           options.pacingMs > 0 && options.codecFrames > 0;
}

int Run(int argc, wchar_t** argv) {
    if (!ParseArgs(argc, argv)) {
        std::fprintf(stderr, "usage: quarnelby_bench --region WxH+X+Y --json FILE --dir DIR "
                             "[--grab-frames N] [--record-ms MS] [--pacing-ms MS] "
                             "[--codec-frames N] [--scene NAME] | --finish-mb MB | "
                             "--sound-seconds S | --sound-cost MS [--sound-outputs mp4,avi]\n");
        return 2;
    }
    if (options.recordOnlyMs == 0) jsonFile = _wfopen(options.json.c_str(), L"ab");
    if (options.recordOnlyMs == 0 && !jsonFile) {
        std::fprintf(stderr, "cannot open the JSON file\n");
        return 1;
    }
    CreateDirectoryW(options.dir.c_str(), nullptr);
    if (options.finishMb > 0 || options.soundSeconds > 0) {
        const int rc = options.finishMb > 0 ? MeasureFinish() : MeasureAac() | MeasureTimeline();
        std::fclose(jsonFile);
        return rc;
    }

    engine::TScreenCam cam;
    // Nobody answers message boxes here: every message is logged and answered "No".
    cam.Services.ShowMessage = [](const std::wstring& text, const std::wstring& caption, UINT) {
        std::fprintf(stderr, "engine message: %s: %s\n", Utf8(caption).c_str(), Utf8(text).c_str());
        return IDNO;
    };
    screenBitsPerPixel = static_cast<int>(cam.BitsPerPixel);
    engine::InstallOwnMsvc1IfNeeded(cam.BitsPerPixel);
    cam.EnumCompressors();
    int msvc = -1;
    for (int i = 0; i < cam.CompressorCount && msvc < 0; ++i) {
        std::string fcc = CompressorFourcc(cam, i);
        for (char& c : fcc)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (fcc == "msvc") msvc = i;
    }
    int h264 = -1;
    for (int i = 0; i < cam.CompressorCount; ++i)
        if (engine::IsBuiltInH264(cam.Compressors[static_cast<std::size_t>(i)])) h264 = i;
    if (options.recordOnlyMs > 0) {
        cam.CompressorIndex = msvc;
        cam.CaptureInterval = 100;
        cam.PlaybackRate = 10;
        const std::wstring file = options.dir + L"\\cost.avi";
        // The waiting thread sleeps through the recording, as an idle message loop would,
        // so that the process's CPU time is the recording's.
        DeleteFileW(file.c_str());
        cam.StartRecording(options.rect, file);
        Sleep(static_cast<DWORD>(options.recordOnlyMs));
        cam.StopRecording();
        const bool ended =
            base::TThread::ServeUntil([&] { return cam.RecordThread == nullptr; }, 120000);
        std::printf("%d frames\n", cam.FramesWritten.load());
        DeleteFileW(file.c_str());
        return ended && msvc >= 0 ? 0 : 1;
    }
    if (options.soundCostMs > 0) {
        const int rc = MeasureSoundCost(cam, h264, msvc);
        std::fclose(jsonFile);
        return rc;
    }
    if (options.scene != "moving") {
        // Another scene: only what the encoders make of it.
        MeasurePacing(cam, -1);
        MeasureCodec();
        std::fclose(jsonFile);
        return 0;
    }
    {
        TFigure f("setup");
        f.Add("bits_per_pixel", static_cast<int>(cam.BitsPerPixel))
            .Add("screen", std::to_string(cam.ScreenWidth) + "x" + std::to_string(cam.ScreenHeight))
            .Add("compressors", static_cast<int>(cam.CompressorCount))
            .Add("own_msvc1_installed", engine::OwnMsvc1Installed());
        std::string names;
        int repeated = 0;
        for (int i = 0; i < cam.CompressorCount; ++i) {
            names += (i ? "; " : "") + CompressorFourcc(cam, i) + " " + CompressorName(cam, i);
            if (RepeatsEarlierEntry(cam, i)) ++repeated;
        }
        // Repeated entries (the system's "msvc" entry opens ours once it is installed) are
        // measured once.
        f.Add("catalogue", names).Add("repeated_entries", repeated);
        Emit(f);
    }

    MeasureGrabs(cam);
    MeasureThroughput(cam);
    MeasurePacing(cam, -1);
    MeasurePacing(cam, -1, true);
    if (msvc >= 0) MeasurePacing(cam, msvc);
    if (h264 >= 0) MeasurePacing(cam, h264);
    MeasureCodec();

    std::fclose(jsonFile);
    return 0;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 2;
    try {
        const int rc = Run(argc, argv);
        LocalFree(argv);
        return rc;
    } catch (...) {
        std::fprintf(stderr, "quarnelby_bench: unexpected failure\n");
        return 1;
    }
}
