// The colour conversion fed any size, depth and pixels: it refuses what it cannot take, reads no
// byte outside the frame, writes every sample in range, and its two paths agree.
#include "FuzzInput.h"
#include "media/ColourConvert.h"
#include "media/Msvc1Encoder.h"

#include <algorithm>
#include <vector>

namespace {

struct TPlanes {
    TPlanes(int width, int height)
        : cw((width + 1) / 2), y(static_cast<std::size_t>(width) * height),
          u(static_cast<std::size_t>(cw) * ((height + 1) / 2)), v(u.size()) {
        planes = {y.data(), u.data(), v.data(), width, cw, cw};
    }
    int cw;
    std::vector<std::uint8_t> y, u, v;
    media::TI420Planes planes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::TInput in(data, size);
    // Sizes from -2 to 69: odd and even, strides of every padding, refused sizes too.
    const int width = static_cast<int>(in.Take(1) % 72) - 2;
    const int height = static_cast<int>(in.Take(1) % 72) - 2;
    const int depths[] = {32, 24, 16, 8};
    const int bits = depths[in.Take(1) % 4];
    const bool accepted = width > 0 && height > 0 && bits != 8;
    const std::size_t frameBytes =
        accepted ? media::DibRowBytes(width, bits) * static_cast<std::size_t>(height) : 0;
    // Exactly the frame's bytes, so that the sanitizer sees a read past its end.
    std::vector<std::uint8_t> dib(frameBytes);
    for (std::size_t i = 0; i < frameBytes; ++i)
        dib[i] = in.RestSize() ? in.Rest()[i % in.RestSize()] : 0;
    TPlanes fast(std::max(width, 1), std::max(height, 1)),
        plain(std::max(width, 1), std::max(height, 1));
    FUZZ_CHECK(media::DibToI420(dib.data(), width, height, bits, fast.planes) == accepted);
    if (!accepted) return 0;
    FUZZ_CHECK(media::DibToI420(dib.data(), width, height, bits, plain.planes,
                                media::TConvertPath::Plain));
    FUZZ_CHECK(fast.y == plain.y && fast.u == plain.u && fast.v == plain.v);
    for (const std::uint8_t s : fast.y)
        FUZZ_CHECK(s >= 16 && s <= 235);
    for (const std::uint8_t s : fast.u)
        FUZZ_CHECK(s >= 16 && s <= 240);
    return 0;
}
