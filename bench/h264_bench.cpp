// The H.264 encoder on the synthetic screen scene: bytes per picture, RGB PSNR of what ffmpeg
// decodes against the source, and milliseconds per picture (wall clock, and CPU time over all
// threads).
//   h264_bench [--frames N] [--quality Q] [--step S]
//       1280x720 and 1920x1080 at one and two threads (defaults: 30 pictures, quality 6550, and
//       scene time step 1: the text scrolls 3 pixels and the pointer moves 23 per picture)
//   h264_bench --sweep [--frames N] [--step S]
//       1280x720, one thread, a row per quantiser the quality scale reaches
// The conversion column is the PSNR of the source's own I420 (what 4:2:0 alone loses).
#include "media/H264Encoder.h"
#include "tests/common/H264Tools.h"
#include "tests/common/SyntheticScene.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace media;
using namespace testing_h264;

namespace {

struct TFigures {
    double idrBytes = 0, pBytes = 0, psnr = 0, msPerPicture = 0, cpuMsPerPicture = 0;
    bool ok = false;
};

TFigures Measure(const std::vector<std::vector<std::uint32_t>>& rgb,
                 const std::vector<TI420>& pictures, int quality, int threads) {
    TFigures f;
    const int w = pictures[0].width, h = pictures[0].height;
    TH264Encoder enc;
    std::string why;
    if (!enc.Open(
            {.width = w, .height = h, .quality = quality, .frameRate = 10, .threads = threads},
            why)) {
        std::fprintf(stderr, "Open: %s\n", why.c_str());
        return f;
    }
    std::vector<std::uint8_t> stream, au;
    double seconds = 0, cpuSeconds = 0;
    int pCount = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const TI420& p = pictures[i];
        bool idr = false;
        const auto t0 = std::chrono::steady_clock::now();
        const std::clock_t c0 = std::clock(); // the process's CPU time, every thread's
        const bool ok = enc.Encode(p.y.data(), p.u.data(), p.v.data(), w, w / 2,
                                   static_cast<std::int64_t>(i) * 100, false, au, idr);
        cpuSeconds += static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!ok) return f;
        if (idr)
            f.idrBytes += au.size();
        else {
            f.pBytes += au.size();
            ++pCount;
        }
        stream.insert(stream.end(), au.begin(), au.end());
    }
    f.pBytes /= std::max(1, pCount);
    f.msPerPicture = 1000 * seconds / pictures.size();
    f.cpuMsPerPicture = 1000 * cpuSeconds / pictures.size();

    TTempDir dir;
    WriteFile(dir.Path() / "bench.h264", stream);
    const auto decoded = DecodeWithFfmpeg(dir.Path() / "bench.h264", w, h);
    if (decoded.size() != pictures.size()) return f;
    for (std::size_t i = 0; i < decoded.size(); ++i)
        f.psnr += RgbPsnr(rgb[i], I420ToRgb(decoded[i]));
    f.psnr /= decoded.size();
    f.ok = true;
    return f;
}

// Returns the mean PSNR of the pictures' own I420 against their RGB.
double Scene(int w, int h, int frames, int step, std::vector<std::vector<std::uint32_t>>& rgb,
             std::vector<TI420>& pictures) {
    rgb.clear();
    pictures.clear();
    double psnr = 0;
    for (int i = 0; i < frames; ++i) {
        rgb.push_back(testing_msvc1::ScenePixels(w, h, i * step));
        pictures.push_back(RgbToI420(rgb.back(), w, h));
        psnr += RgbPsnr(rgb.back(), I420ToRgb(pictures.back()));
    }
    return psnr / frames;
}

} // namespace

int main(int argc, char** argv) {
    bool sweep = false;
    int frames = 30, quality = kH264DefaultQuality, step = 1;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (std::strcmp(argv[i], "--sweep") == 0)
            sweep = true;
        else if (std::strcmp(argv[i], "--frames") == 0 && value)
            frames = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--quality") == 0 && value)
            quality = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--step") == 0 && value)
            step = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: h264_bench [--sweep] [--frames N] [--quality Q] [--step S]\n");
            return 2;
        }
    }
    std::vector<std::vector<std::uint32_t>> rgb;
    std::vector<TI420> pictures;

    if (sweep) {
        const double conversion = Scene(1280, 720, frames, step, rgb, pictures);
        std::printf("1280x720, %d pictures, scene step %d, one thread; conversion alone %.2f dB\n",
                    frames, step, conversion);
        std::printf("quality  QP  IDR bytes  P bytes/picture  RGB PSNR dB  ms/picture\n");
        int lastQp = -1;
        for (int q = 0; q <= kH264MaxQuality; ++q) {
            const int qp = QuantiserForQuality(q);
            if (qp == lastQp) continue;
            lastQp = qp;
            const TFigures f = Measure(rgb, pictures, q, 1);
            std::printf("%7d  %2d  %9.0f  %15.0f  %11.2f  %10.2f\n", q, qp, f.idrBytes, f.pBytes,
                        f.psnr, f.msPerPicture);
        }
        return 0;
    }

    std::printf("%d pictures of the synthetic scene (step %d), quality %d (QP %d)\n", frames, step,
                quality, QuantiserForQuality(quality));
    std::printf("size       threads  IDR bytes  P bytes/picture  RGB PSNR dB  conversion dB  "
                "ms/picture  CPU ms/picture\n");
    for (const auto& [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        const double conversion = Scene(w, h, frames, step, rgb, pictures);
        for (int threads = 1; threads <= 2; ++threads) {
            const TFigures f = Measure(rgb, pictures, quality, threads);
            if (!f.ok) {
                std::printf("%4dx%-4d  %7d  failed\n", w, h, threads);
                return 1;
            }
            std::printf("%4dx%-4d  %7d  %9.0f  %15.0f  %11.2f  %13.2f  %10.2f  %14.2f\n", w, h,
                        threads, f.idrBytes, f.pBytes, f.psnr, conversion, f.msPerPicture,
                        f.cpuMsPerPicture);
        }
    }
    return 0;
}
