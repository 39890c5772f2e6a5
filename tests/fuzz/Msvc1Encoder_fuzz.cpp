// Our Video 1 encoder fed any size, depth and pixels: it refuses what it cannot take, and what it
// writes decodes, to the frame's size, into the picture it says a decoder shows.
#include "FuzzInput.h"
#include "Msvc1Decode.h"
#include "media/Msvc1Encoder.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::TInput in(data, size);
    // Sizes from -4 to 67: every remainder of 4, strides of every padding, refused sizes too.
    const int width = static_cast<int>(in.Take(1) % 72) - 4;
    const int height = static_cast<int>(in.Take(1) % 72) - 4;
    const int depths[] = {16, 24, 32, 8, 15};
    const int bits = depths[in.Take(1) % 5];
    const int quality = static_cast<int>(in.Take(2)) - 20000; // clamped to 0..10000
    const std::uint32_t keys = in.Take(1);

    media::TMsvc1Encoder encoder;
    const bool begun = encoder.Begin(width, height, bits);
    FUZZ_CHECK(begun == media::Msvc1AcceptsFrame(width, height, bits));
    if (!begun) return 0;
    // Two frames of the input's pixels, the second from further on, so that blocks may be skipped.
    const std::size_t frameBytes =
        media::DibRowBytes(width, bits) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> dib(frameBytes);
    std::vector<std::uint16_t> picture(static_cast<std::size_t>(width) * height, 0);
    for (int frame = 0; frame < 2; ++frame) {
        for (std::size_t i = 0; i < frameBytes; ++i)
            dib[i] = in.RestSize() ? in.Rest()[(i + frame * 7) % in.RestSize()] : 0;
        const std::vector<std::uint8_t> out =
            encoder.Encode(dib.data(), quality, (keys >> frame) & 1);
        FUZZ_CHECK(!out.empty() && out.size() <= media::Msvc1MaxFrameBytes(width, height));
        const auto decoded =
            testing_msvc1::DecodeMsvc1(out.data(), out.size(), width, height, picture);
        FUZZ_CHECK(decoded.ok && decoded.bytesUsed == out.size());
        FUZZ_CHECK(decoded.kinds.size() == picture.size() / 16);
        FUZZ_CHECK(picture == encoder.Picture());
    }
    return 0;
}
