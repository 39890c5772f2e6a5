// H.264 encoder for screen recordings: OpenH264 in its screen-content mode at a constant
// quantiser, I420 pictures in, one Annex B access unit out per picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ISVCEncoder; // OpenH264's encoder; its headers stay inside H264Encoder.cpp

namespace media {

// The program's Quality scale (as for the other compressors): 0 smallest files, 10000 best.
constexpr int kH264MaxQuality = 10000;
constexpr int kH264DefaultQuality = 6550;

// Pictures the encoder takes: even sides (4:2:0 crops only in 2-pixel units) of 16..4096, and
// at most 4096 x 2304 pixels in all (OpenH264 takes no larger picture: the most H.264 level 5.1
// allows).
constexpr int kH264MinSide = 16;
constexpr int kH264MaxSide = 4096;
constexpr int kH264MaxPixels = 4096 * 2304;

// The H.264 quantiser (QP) for a quality, clamped to 0..10000:
//     QP = 51 - round(quality * 44 / 10000)
// so quality 0 gives QP 51 (the coarsest), 10000 gives QP 7, and about every 227 quality steps
// are one QP step (12 % in quantiser step size). Every picture is coded at exactly this QP. The
// default 6550 gives QP 22: on the synthetic screen scene at 1280x720 (scrolling text, tool bar,
// moving pointer) that is 39.7 dB RGB PSNR, where 4:2:0 alone allows 41.6 dB, with a 116 KB IDR
// and about 3 KB per P picture; 36 dB is first lost below QP 30 there.
int QuantiserForQuality(int quality);

struct H264Settings {
    int width = 0;  // even, kH264MinSide..kH264MaxSide, width * height <= kH264MaxPixels
    int height = 0; // even, kH264MinSide..kH264MaxSide
    int quality = kH264DefaultQuality; // 0..10000, clamped
    float frameRate = 10.0f;           // pictures per second, > 0 (OpenH264 clamps it to 1..60)
    // 1 or 2; two code each picture as two slices. One is the default: beside the grabbing
    // thread on two cores, a second one saved 15 % of the time at 1920x1080 and nothing at
    // 1280x720, for 2 % more bytes and more CPU time in all.
    int threads = 1;
};

// Encodes one sequence. Every picture given gives one coded picture (no frame skipping); the
// first is an IDR, later ones are P pictures unless an IDR is forced. OpenH264's screen mode also
// codes an IDR of its own at a large scene change (a new window filling the picture); this cannot
// be turned off in OpenH264 2.3.1, so callers take the picture type from isIdr. Every IDR carries
// the SPS and PPS in front of it. The stream is High profile with CABAC, and its SPS signals
// BT.709 primaries, transfer and matrix with limited ("video") range; a size that is not a
// multiple of 16 is cropped in the SPS, so decoders show exactly width x height.
// Not thread-safe; one thread at a time may call it.
class TH264Encoder {
public:
    TH264Encoder() = default;
    ~TH264Encoder();
    TH264Encoder(const TH264Encoder&) = delete;
    TH264Encoder& operator=(const TH264Encoder&) = delete;

    // Starts a sequence (closing any earlier one). Returns false with a reason in why when the
    // settings are out of range or OpenH264 refuses them.
    bool Open(const H264Settings& settings, std::string& why);
    void Close();
    bool IsOpen() const { return encoder_ != nullptr; }

    // Encodes one I420 picture of the opened size (y: width x height, u and v: width/2 x
    // height/2, rows strideY and strideUV bytes apart) into annexB (replaced): the picture's NAL
    // units, each after a 00 00 00 01 start code. forceIdr asks for an IDR. timestampMs is the
    // picture's time in milliseconds. Returns false when not open or when OpenH264 fails.
    bool Encode(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int strideY,
                int strideUV, std::int64_t timestampMs, bool forceIdr,
                std::vector<std::uint8_t>& annexB, bool& isIdr);

    const H264Settings& Settings() const { return settings_; }

private:
    static void OnTrace(void* context, int level, const char* message);

    ISVCEncoder* encoder_ = nullptr;
    H264Settings settings_;
    std::string lastError_; // OpenH264's first error message, for Open's reason
};

} // namespace media
