#include "engine/msvc1drv.h"

#include "media/Msvc1Encoder.h"
#include "tests/common/Msvc1Decode.h"
#include "tests/common/SyntheticScene.h"

#include <gtest/gtest.h>

#include <vfw.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace testing_msvc1;

namespace {

constexpr DWORD kMsvc = mmioFOURCC('M', 'S', 'V', 'C');

struct TAviFileRelease {
    void operator()(IAVIFile* f) const { AVIFileRelease(f); }
};
struct TAviStreamRelease {
    void operator()(IAVIStream* s) const { AVIStreamRelease(s); }
};
struct TGetFrameClose {
    void operator()(IGetFrame* g) const { AVIStreamGetFrameClose(g); }
};
struct THicClose {
    void operator()(HIC__* h) const { ICClose(h); }
};
using TAviFile = std::unique_ptr<IAVIFile, TAviFileRelease>;
using TAviStream = std::unique_ptr<IAVIStream, TAviStreamRelease>;
using TGetFrame = std::unique_ptr<IGetFrame, TGetFrameClose>;
using THic = std::unique_ptr<HIC__, THicClose>;

BITMAPINFOHEADER RgbHeader(int width, int height, int bitsPerPixel) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitsPerPixel);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(media::DibRowBytes(width, bitsPerPixel) * height);
    return h;
}

std::wstring TempPath(const std::wstring& name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"quarnelby-msvc1-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           name;
}

// Path of a Windows file as the Linux programs see it (Wine's own export).
std::string UnixPath(const std::wstring& path) {
    using TGetUnixName = char*(CDECL*)(LPCWSTR);
    const auto get = reinterpret_cast<TGetUnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (get == nullptr) return {};
    char* unix = get(path.c_str());
    if (unix == nullptr) return {};
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

std::string ReadText(const std::wstring& path) {
    std::ifstream f(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Runs a shell command line on the Linux side. Wine starts Unix programs from CreateProcessW but
// gives no process handle to wait on, so the script leaves its exit code in a file when done.
// Returns the exit code, or -1 when it could not start or did not finish in time.
int RunUnixShell(const std::string& script, DWORD timeoutMs) {
    const std::wstring done = TempPath(L"done.txt");
    DeleteFileW(done.c_str());
    const std::string doneUnix = UnixPath(done);
    const std::string full = "( " + script + " ); echo $? > '" + doneUnix + ".tmp'; mv '" +
                             doneUnix + ".tmp' '" + doneUnix + "'";
    std::wstring cmd = L"/bin/sh -c \"";
    for (char c : full) {
        if (c == '"' || c == '\\') cmd += L'\\';
        cmd += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    cmd += L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) {
            const int code = std::atoi(ReadText(done).c_str());
            DeleteFileW(done.c_str());
            return code;
        }
        Sleep(50);
    }
    return -1;
}

// Top-down 0x00RRGGBB pixels of a packed DIB as AVIStreamGetFrame returns it.
std::vector<std::uint32_t> DibToPixels(const BITMAPINFOHEADER* h) {
    const int w = h->biWidth, height = std::abs(h->biHeight);
    const auto* bits = reinterpret_cast<const std::uint8_t*>(h) + h->biSize +
                       h->biClrUsed * sizeof(RGBQUAD) +
                       (h->biCompression == BI_BITFIELDS ? 3 * sizeof(DWORD) : 0);
    DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (h->biCompression == BI_BITFIELDS)
        std::memcpy(masks, reinterpret_cast<const std::uint8_t*>(h) + h->biSize, sizeof(masks));
    const std::size_t stride = media::DibRowBytes(w, h->biBitCount);
    std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bits + stride * (h->biHeight > 0 ? height - 1 - y : y);
        for (int x = 0; x < w; ++x) {
            int r = 0, g = 0, b = 0;
            if (h->biBitCount == 16) {
                const DWORD v = row[2 * x] | (row[2 * x + 1] << 8);
                const bool is565 = masks[1] == 0x07E0;
                const int r5 = is565 ? (v >> 11) & 31 : (v >> 10) & 31;
                const int g6 =
                    is565 ? (v >> 5) & 63 : ((v >> 5) & 31) << 1 | (((v >> 5) & 31) >> 4);
                const int b5 = v & 31;
                r = (r5 << 3) | (r5 >> 2);
                g = (g6 << 2) | (g6 >> 4);
                b = (b5 << 3) | (b5 >> 2);
            } else {
                const std::uint8_t* p = row + x * (h->biBitCount / 8);
                b = p[0], g = p[1], r = p[2];
            }
            px[static_cast<std::size_t>(y) * w + x] = (r << 16) | (g << 8) | b;
        }
    }
    return px;
}

double PsnrTopDown(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    double sse = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16}) {
            const int d =
                static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF);
            sse += d * d;
        }
    if (sse == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * 3 * a.size() / sse);
}

// The scene of frame n: it moves for 15 steps, then holds still.
int SceneTime(int n) {
    return n < 15 ? n : 14;
}
constexpr int kFrames = 20;

class Msvc1DriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        AVIFileInit();
        ASSERT_TRUE(engine::InstallOwnMsvc1IfNeeded(32));
    }
    static void TearDownTestSuite() { AVIFileExit(); }

    // Writes the scene through AVIFile: compressed with "MSVC" as a recording does, or as
    // plain frames.
    static bool WriteAvi(const std::wstring& path, int w, int h, bool compress, int step = 1) {
        DeleteFileW(path.c_str());
        IAVIFile* rawFile = nullptr;
        if (AVIFileOpenW(&rawFile, path.c_str(), OF_CREATE | OF_WRITE, nullptr) != 0) return false;
        TAviFile file(rawFile);
        BITMAPINFOHEADER format = RgbHeader(w, h, 32);
        AVISTREAMINFOW info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 10;
        info.dwSuggestedBufferSize = format.biSizeImage;
        info.rcFrame = {0, 0, w, h};
        IAVIStream* rawStream = nullptr;
        if (AVIFileCreateStreamW(file.get(), &rawStream, &info) != 0) return false;
        TAviStream stream(rawStream), compressed;
        IAVIStream* target = stream.get();
        if (compress) {
            AVICOMPRESSOPTIONS options{};
            options.fccType = streamtypeVIDEO;
            options.fccHandler = kMsvc;
            options.dwKeyFrameEvery = 5;
            options.dwQuality = 6550;
            options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
            IAVIStream* rawCompressed = nullptr;
            if (AVIMakeCompressedStream(&rawCompressed, stream.get(), &options, nullptr) != 0)
                return false;
            compressed.reset(rawCompressed);
            target = compressed.get();
        }
        if (AVIStreamSetFormat(target, 0, &format, sizeof(format)) != 0) return false;
        for (int n = 0; n < kFrames; ++n) {
            auto dib = SceneDib(w, h, SceneTime(n), 32);
            if (AVIStreamWrite(target, n * step, 1, dib.data(), static_cast<LONG>(dib.size()), 0,
                               nullptr, nullptr) != 0)
                return false;
        }
        return true;
    }

    // Decodes every frame through AVIFile and the system's decompressors.
    static std::vector<std::vector<std::uint32_t>> ReadAvi(const std::wstring& path,
                                                           const BITMAPINFOHEADER* want) {
        std::vector<std::vector<std::uint32_t>> frames;
        IAVIFile* rawFile = nullptr;
        if (AVIFileOpenW(&rawFile, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) != 0)
            return frames;
        TAviFile file(rawFile);
        IAVIStream* rawStream = nullptr;
        if (AVIFileGetStream(file.get(), &rawStream, streamtypeVIDEO, 0) != 0) return frames;
        TAviStream stream(rawStream);
        TGetFrame get(AVIStreamGetFrameOpen(stream.get(), const_cast<BITMAPINFOHEADER*>(want)));
        if (!get) return frames;
        for (LONG n = 0; n < AVIStreamLength(stream.get()); ++n) {
            const auto* dib = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(get.get(), n));
            if (dib == nullptr) break;
            frames.push_back(DibToPixels(dib));
        }
        return frames;
    }
};

TEST_F(Msvc1DriverTest, InstalledUnderWineAtEveryDepthItEncodesAndListed) {
    // Wine's own "msvc" cannot compress, so ours is needed at 16, 24 and 32 bits per pixel.
    EXPECT_TRUE(engine::InstallOwnMsvc1IfNeeded(32));
    EXPECT_TRUE(engine::InstallOwnMsvc1IfNeeded(32)); // again: still installed, no error
    EXPECT_TRUE(engine::OwnMsvc1Installed());

    bool listed = false;
    for (DWORD i = 0; i < 64 && !listed; ++i) {
        ICINFO info{};
        info.dwSize = sizeof(info);
        if (!ICInfo(ICTYPE_VIDEO, i, &info)) continue;
        THic hic(ICOpen(info.fccType, info.fccHandler, ICMODE_QUERY));
        if (!hic) continue;
        ICINFO own{};
        ICGetInfo(hic.get(), &own, sizeof(own));
        listed = std::wstring(own.szDescription).find(L"quarnelby") != std::wstring::npos;
    }
    EXPECT_TRUE(listed);

    ASSERT_TRUE(engine::RemoveOwnMsvc1());
    EXPECT_FALSE(engine::OwnMsvc1Installed());
    EXPECT_FALSE(engine::RemoveOwnMsvc1());
    EXPECT_FALSE(engine::InstallOwnMsvc1IfNeeded(8)); // ours does not encode 8-bit frames
    EXPECT_TRUE(engine::InstallOwnMsvc1IfNeeded(16));
    ASSERT_TRUE(engine::RemoveOwnMsvc1());
    EXPECT_TRUE(engine::InstallOwnMsvc1IfNeeded(24));
    ASSERT_TRUE(engine::RemoveOwnMsvc1());
    EXPECT_TRUE(engine::InstallOwnMsvc1IfNeeded(32));
}

TEST_F(Msvc1DriverTest, AnswersAsACompressorOnly) {
    THic hic(ICOpen(ICTYPE_VIDEO, kMsvc, ICMODE_QUERY));
    ASSERT_TRUE(hic);
    DWORD dwICValue = 0; // used by the ICGetDefault... macros
    ICINFO info{};
    ASSERT_EQ(ICGetInfo(hic.get(), &info, sizeof(info)), static_cast<LRESULT>(sizeof(info)));
    EXPECT_EQ(info.fccHandler, kMsvc);
    EXPECT_EQ(std::wstring(info.szName), L"MSVC");
    EXPECT_EQ(std::wstring(info.szDescription), L"Microsoft Video 1 (Zo/quarnelby's own encoder)");
    EXPECT_TRUE(info.dwFlags & VIDCF_TEMPORAL);

    for (int bpp : {16, 24, 32}) {
        BITMAPINFOHEADER in = RgbHeader(320, 200, bpp);
        EXPECT_EQ(ICCompressQuery(hic.get(), &in, nullptr), ICERR_OK) << bpp;
    }
    BITMAPINFOHEADER odd = RgbHeader(322, 200, 32), eight = RgbHeader(320, 200, 8),
                     topDown = RgbHeader(320, 200, 32);
    topDown.biHeight = -200;
    EXPECT_NE(ICCompressQuery(hic.get(), &odd, nullptr), ICERR_OK);
    EXPECT_NE(ICCompressQuery(hic.get(), &eight, nullptr), ICERR_OK);
    EXPECT_NE(ICCompressQuery(hic.get(), &topDown, nullptr), ICERR_OK);

    BITMAPINFOHEADER in = RgbHeader(320, 200, 32), out{};
    EXPECT_EQ(ICCompressGetFormatSize(hic.get(), &in), static_cast<LRESULT>(sizeof(out)));
    ASSERT_EQ(ICCompressGetFormat(hic.get(), &in, &out), ICERR_OK);
    EXPECT_EQ(out.biCompression, mmioFOURCC('C', 'R', 'A', 'M'));
    EXPECT_EQ(out.biBitCount, 16);
    EXPECT_EQ(out.biWidth, 320);
    EXPECT_EQ(out.biHeight, 200);
    EXPECT_EQ(ICCompressQuery(hic.get(), &in, &out), ICERR_OK);
    BITMAPINFOHEADER otherSize = out;
    otherSize.biWidth = 316;
    EXPECT_NE(ICCompressQuery(hic.get(), &in, &otherSize), ICERR_OK);
    EXPECT_EQ(ICCompressGetSize(hic.get(), &in, &out), static_cast<LRESULT>(80 * 50 * 18));

    EXPECT_EQ(ICGetDefaultQuality(hic.get()), 7500u);
    EXPECT_EQ(ICGetDefaultKeyFrameRate(hic.get()), 15u);
    EXPECT_EQ(ICGetStateSize(hic.get()), 0u);
    DWORD quality = 0;
    ASSERT_EQ(ICSendMessage(hic.get(), ICM_GETQUALITY, reinterpret_cast<DWORD_PTR>(&quality), 0),
              ICERR_OK);
    EXPECT_EQ(quality, 7500u);
    // The quality of a frames-info message (formats not known yet) becomes the default for
    // frames that ask for ICQUALITY_DEFAULT.
    ICCOMPRESSFRAMES frames{};
    frames.lQuality = 3000;
    frames.lKeyRate = 5;
    ASSERT_EQ(ICSendMessage(hic.get(), ICM_COMPRESS_FRAMES_INFO,
                            reinterpret_cast<DWORD_PTR>(&frames), sizeof(frames)),
              ICERR_OK);
    ASSERT_EQ(ICSendMessage(hic.get(), ICM_GETQUALITY, reinterpret_cast<DWORD_PTR>(&quality), 0),
              ICERR_OK);
    EXPECT_EQ(quality, 3000u);
    EXPECT_FALSE(ICQueryAbout(hic.get()));
    EXPECT_FALSE(ICQueryConfigure(hic.get()));
    EXPECT_NE(ICDecompressQuery(hic.get(), &out, nullptr), ICERR_OK);
}

TEST_F(Msvc1DriverTest, CompressesFramesThroughICCompress) {
    const int w = 160, h = 120;
    THic hic(ICOpen(ICTYPE_VIDEO, kMsvc, ICMODE_COMPRESS));
    ASSERT_TRUE(hic);
    BITMAPINFOHEADER in = RgbHeader(w, h, 24), out{};
    ASSERT_EQ(ICCompressGetFormat(hic.get(), &in, &out), ICERR_OK);
    ASSERT_EQ(ICCompressBegin(hic.get(), &in, &out), ICERR_OK);
    std::vector<std::uint8_t> buffer(ICCompressGetSize(hic.get(), &in, &out));
    std::vector<std::uint16_t> picture;

    struct TCall {
        int t;
        bool askKey;
        bool expectKey;
    };
    for (const TCall call : {TCall{0, true, true}, TCall{1, false, false}, TCall{1, false, false},
                             TCall{2, true, true}}) {
        auto dib = SceneDib(w, h, call.t, 24);
        DWORD ckid = 0, flags = 0xFFFF;
        BITMAPINFOHEADER frameOut = out;
        ASSERT_EQ(ICCompress(hic.get(), call.askKey ? ICCOMPRESS_KEYFRAME : 0, &frameOut,
                             buffer.data(), &in, dib.data(), &ckid, &flags, 0, 0, 6550, nullptr,
                             nullptr),
                  ICERR_OK);
        EXPECT_EQ(flags == AVIIF_KEYFRAME, call.expectKey);
        ASSERT_GT(frameOut.biSizeImage, 0u);
        ASSERT_LE(frameOut.biSizeImage, buffer.size());
        const auto d = DecodeMsvc1(buffer.data(), frameOut.biSizeImage, w, h, picture);
        ASSERT_TRUE(d.ok);
        EXPECT_GE(Psnr(ScenePixels(w, h, call.t), picture, w, h), 30.0);
    }
    EXPECT_EQ(ICCompressEnd(hic.get()), ICERR_OK);
}

class Msvc1RecordingTest : public Msvc1DriverTest,
                           public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(Msvc1RecordingTest, FileDecodesInAvifileAndFfmpegWithGoodQuality) {
    const auto [w, h] = GetParam();
    const std::wstring tag = std::to_wstring(w) + L"x" + std::to_wstring(h);
    const std::wstring compressedPath = TempPath(tag + L"-msvc.avi");
    const std::wstring plainPath = TempPath(tag + L"-plain.avi");
    ASSERT_TRUE(WriteAvi(compressedPath, w, h, true));
    ASSERT_TRUE(WriteAvi(plainPath, w, h, false));

    // The stream: 16-bit Microsoft Video 1, key frames every 5, still frames tiny.
    {
        IAVIFile* rawFile = nullptr;
        ASSERT_EQ(AVIFileOpenW(&rawFile, compressedPath.c_str(), OF_READ, nullptr), 0);
        TAviFile file(rawFile);
        IAVIStream* rawStream = nullptr;
        ASSERT_EQ(AVIFileGetStream(file.get(), &rawStream, streamtypeVIDEO, 0), 0);
        TAviStream stream(rawStream);
        EXPECT_EQ(AVIStreamLength(stream.get()), kFrames);
        BITMAPINFOHEADER format{};
        LONG formatSize = sizeof(format);
        ASSERT_EQ(AVIStreamReadFormat(stream.get(), 0, &format, &formatSize), 0);
        EXPECT_EQ(format.biCompression, mmioFOURCC('C', 'R', 'A', 'M'));
        EXPECT_EQ(format.biBitCount, 16);
        const LONG stillLimit = 2 * ((w / 4) * (h / 4) / 1023 + 1);
        for (LONG n = 0; n < kFrames; ++n) {
            EXPECT_EQ(AVIStreamIsKeyFrame(stream.get(), n) != FALSE, n % 5 == 0) << n;
            LONG bytes = 0;
            ASSERT_EQ(AVIStreamRead(stream.get(), n, 1, nullptr, 0, &bytes, nullptr), 0);
            if (n >= 15 && n % 5 != 0) {
                EXPECT_LE(bytes, stillLimit) << n;
            } else {
                EXPECT_GT(bytes, stillLimit) << n;
            }
            EXPECT_LT(bytes, w * h * 2) << n;
        }
    }

    // Wine's own decoder, frame by frame, against the plain file.
    const auto plain = ReadAvi(plainPath, nullptr);
    ASSERT_EQ(plain.size(), static_cast<std::size_t>(kFrames));
    EXPECT_EQ(plain[7], ScenePixels(w, h, 7));
    BITMAPINFOHEADER want = RgbHeader(w, h, 16);
    // Installed, ours answers for "MSVC" and, since Wine matches handlers case-insensitively,
    // for the system's "msvc" too: take it out while reading.
    ASSERT_TRUE(engine::RemoveOwnMsvc1());
    const auto decoded = ReadAvi(compressedPath, &want);
    ASSERT_TRUE(engine::InstallOwnMsvc1IfNeeded(32));
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(kFrames));
    double sum = 0;
    for (int n = 0; n < kFrames; ++n) {
        const double psnr = PsnrTopDown(decoded[n], plain[n]);
        EXPECT_GE(psnr, 28.0) << n;
        sum += psnr;
    }
    EXPECT_GE(sum / kFrames, 30.0);

    // ffmpeg's msvideo1 decoder: no complaint, every frame, the same quality.
    const std::string src = UnixPath(compressedPath);
    const std::wstring rgbPath = TempPath(tag + L"-ffmpeg.rgb"),
                       errPath = TempPath(tag + L"-err.txt"),
                       probePath = TempPath(tag + L"-probe.txt");
    ASSERT_FALSE(src.empty());
    const int rc =
        RunUnixShell("ffmpeg -nostdin -v error -i '" + src + "' -f rawvideo -pix_fmt rgb24 -y '" +
                         UnixPath(rgbPath) + "' 2> '" + UnixPath(errPath) +
                         "' && ffprobe -v error -select_streams v:0 -show_entries "
                         "stream=codec_name -of csv=p=0 '" +
                         src + "' > '" + UnixPath(probePath) + "'",
                     60000);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadText(errPath), "");
    EXPECT_EQ(ReadText(probePath), "msvideo1\n");
    const std::string rgb = ReadText(rgbPath);
    ASSERT_EQ(rgb.size(), static_cast<std::size_t>(kFrames) * w * h * 3);
    sum = 0;
    for (int n = 0; n < kFrames; ++n) {
        std::vector<std::uint32_t> frame(static_cast<std::size_t>(w) * h);
        for (std::size_t i = 0; i < frame.size(); ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) +
                            (static_cast<std::size_t>(n) * frame.size() + i) * 3;
            frame[i] = (p[0] << 16) | (p[1] << 8) | p[2];
        }
        sum += PsnrTopDown(frame, plain[n]);
    }
    EXPECT_GE(sum / kFrames, 30.0);

    for (const auto& path : {compressedPath, plainPath, rgbPath, errPath, probePath})
        DeleteFileW(path.c_str());
}

TEST_F(Msvc1DriverTest, FramesWrittenWithGapsStillDecodeInFfmpeg) {
    // A recording whose grabs take longer than a slot leaves positions empty.
    const std::wstring path = TempPath(L"gaps.avi"), errPath = TempPath(L"gaps-err.txt"),
                       probePath = TempPath(L"gaps-probe.txt");
    ASSERT_TRUE(WriteAvi(path, 320, 240, true, 3));
    const std::string src = UnixPath(path);
    const int rc = RunUnixShell(
        "ffmpeg -nostdin -v error -i '" + src + "' -f null - 2> '" + UnixPath(errPath) +
            "' && ffprobe -v error -select_streams v:0 -show_entries packet=pts,flags -of "
            "csv=p=0 '" +
            src + "' > '" + UnixPath(probePath) + "'",
        60000);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadText(errPath), "");
    // Every written frame is a packet at its position; key frames stay at least 5 apart.
    const std::string probe = ReadText(probePath);
    int packets = 0, keys = 0;
    for (std::size_t at = 0; (at = probe.find('\n', at)) != std::string::npos; ++at)
        ++packets;
    for (std::size_t at = 0; (at = probe.find(",K", at)) != std::string::npos; ++at)
        ++keys;
    EXPECT_EQ(packets, kFrames);
    EXPECT_EQ(keys, kFrames / 2);
    EXPECT_EQ(probe.substr(0, 5), "0,K_\n");
    for (const auto& p : {path, errPath, probePath})
        DeleteFileW(p.c_str());
}

INSTANTIATE_TEST_SUITE_P(Sizes, Msvc1RecordingTest,
                         ::testing::Values(std::make_pair(320, 240), std::make_pair(640, 480)));

} // namespace
