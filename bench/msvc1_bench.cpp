// Encodes the synthetic screen scene with our Microsoft Video 1 encoder and reports size, speed
// and picture quality; optionally writes the source frames as raw BGRX for other encoders.
//
//   msvc1_bench [WIDTHxHEIGHT] [QUALITY] [RAW_OUT]
//   msvc1_bench --psnr WIDTHxHEIGHT DECODED.bgr0   (mean PSNR of decoded raw BGRX frames)
#include "media/Msvc1Encoder.h"
#include "tests/common/Msvc1Decode.h"
#include "tests/common/SyntheticScene.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 60;

std::vector<std::uint32_t> SceneFrame(int w, int h, int n) {
    // The text scrolls for 30 steps, then the screen holds still (someone reading).
    return testing_msvc1::ScenePixels(w, h, std::min(n, 30));
}

int ComparePsnr(int w, int h, const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return 1;
    std::vector<unsigned char> raw(static_cast<std::size_t>(w) * h * 4);
    double sum = 0;
    int n = 0;
    for (; n < kFrames && std::fread(raw.data(), 1, raw.size(), f) == raw.size(); ++n) {
        const auto scene = SceneFrame(w, h, n);
        double sse = 0;
        for (std::size_t i = 0; i < scene.size(); ++i)
            for (int c = 0; c < 3; ++c) {
                const int d = raw[4 * i + c] - static_cast<int>((scene[i] >> (8 * c)) & 0xFF);
                sse += d * d;
            }
        sum += sse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * 3 * scene.size() / sse);
    }
    std::fclose(f);
    std::printf("  %d frames, mean PSNR: %.2f dB\n", n, n ? sum / n : 0.0);
    return n == kFrames ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    int w = 640, h = 480, quality = 6550;
    if (argc == 4 && std::string(argv[1]) == "--psnr") {
        if (std::sscanf(argv[2], "%dx%d", &w, &h) != 2) return 2;
        return ComparePsnr(w, h, argv[3]);
    }
    if (argc > 1 && std::sscanf(argv[1], "%dx%d", &w, &h) != 2) return 2;
    if (argc > 2) quality = std::atoi(argv[2]);
    const char* rawOut = argc > 3 ? argv[3] : nullptr;

    // Key frame every 5 as the program's default.
    const int frames = kFrames, keyEvery = 5;
    std::vector<std::vector<std::uint32_t>> scene;
    for (int n = 0; n < frames; ++n)
        scene.push_back(SceneFrame(w, h, n));
    std::vector<std::vector<std::uint8_t>> dibs;
    for (const auto& px : scene)
        dibs.push_back(testing_msvc1::ToDib(px, w, h, 32));

    if (rawOut) {
        FILE* f = std::fopen(rawOut, "wb");
        if (!f) return 1;
        for (const auto& px : scene)
            for (std::uint32_t c : px) {
                const unsigned char bgrx[4] = {static_cast<unsigned char>(c & 0xFF),
                                               static_cast<unsigned char>((c >> 8) & 0xFF),
                                               static_cast<unsigned char>((c >> 16) & 0xFF), 0};
                std::fwrite(bgrx, 1, 4, f);
            }
        std::fclose(f);
    }

    media::TMsvc1Encoder enc;
    if (!enc.Begin(w, h, 32)) return 1;
    std::vector<std::uint8_t> out(media::Msvc1MaxFrameBytes(w, h));
    std::vector<std::uint16_t> picture;
    double ms = 0, msMoving = 0, psnr = 0;
    std::size_t bytes = 0, keyBytes = 0, deltaBytes = 0, stillDeltaBytes = 0;
    int keys = 0, stillDeltas = 0;
    for (int n = 0; n < frames; ++n) {
        const bool key = n % keyEvery == 0;
        const auto t0 = std::chrono::steady_clock::now();
        const std::size_t size = enc.Encode(dibs[n].data(), quality, key, out.data(), out.size());
        const double dt =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        ms += dt;
        if (n <= 30) msMoving += dt;
        if (!testing_msvc1::DecodeMsvc1(out.data(), size, w, h, picture).ok) {
            std::fprintf(stderr, "frame %d does not decode\n", n);
            return 1;
        }
        psnr += testing_msvc1::Psnr(scene[n], picture, w, h);
        bytes += size;
        if (key) {
            keyBytes += size;
            ++keys;
        } else {
            deltaBytes += size;
            if (n > 31) stillDeltaBytes += size, ++stillDeltas;
        }
    }
    const double raw32 = 4.0 * w * h;
    std::printf("scene %dx%d, %d frames, quality %d, key every %d\n", w, h, frames, quality,
                keyEvery);
    std::printf(
        "  bytes/frame: %.0f (uncompressed 32 bpp %.0f: %.1f times smaller; 24 bpp: %.1f)\n",
        double(bytes) / frames, raw32, raw32 * frames / bytes, raw32 * 0.75 * frames / bytes);
    std::printf("  key frames: %.0f bytes, delta frames: %.0f bytes, still deltas: %.0f bytes\n",
                double(keyBytes) / keys, double(deltaBytes) / (frames - keys),
                stillDeltas ? double(stillDeltaBytes) / stillDeltas : 0.0);
    std::printf("  encode: %.2f ms/frame (moving part %.2f ms/frame)\n", ms / frames,
                msMoving / 31);
    std::printf("  mean PSNR: %.2f dB\n", psnr / frames);
    return 0;
}
