#include "media/H264Encoder.h"

#include "tests/common/H264Tools.h"
#include "tests/common/SyntheticScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace media;
using namespace testing_h264;

namespace {

// NAL unit types of an Annex B access unit, in order.
std::vector<int> NalTypes(const std::vector<std::uint8_t>& au) {
    std::vector<int> types;
    for (std::size_t i = 0; i + 3 < au.size(); ++i)
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            types.push_back(au[i + 3] & 0x1F);
            i += 3;
        }
    return types;
}

// The first byte after the header of the first NAL unit of this type (-1 when there is none).
int FirstPayloadByte(const std::vector<std::uint8_t>& au, int type) {
    for (std::size_t i = 0; i + 4 < au.size(); ++i)
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1 && (au[i + 3] & 0x1F) == type)
            return au[i + 4];
    return -1;
}

struct TEncoded {
    std::vector<std::vector<std::uint8_t>> units; // one access unit per picture
    std::vector<bool> idr;
    std::vector<std::uint8_t> Stream() const {
        std::vector<std::uint8_t> all;
        for (const auto& u : units)
            all.insert(all.end(), u.begin(), u.end());
        return all;
    }
};

// Encodes the pictures in order, forcing an IDR at the given indices; every picture must encode.
TEncoded EncodeAll(TH264Encoder& enc, const std::vector<TI420>& pictures,
                   const std::vector<int>& forced = {}) {
    TEncoded out;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const TI420& p = pictures[i];
        std::vector<std::uint8_t> au;
        bool idr = false;
        const bool force =
            std::find(forced.begin(), forced.end(), static_cast<int>(i)) != forced.end();
        EXPECT_TRUE(enc.Encode(p.y.data(), p.u.data(), p.v.data(), p.width, p.width / 2,
                               static_cast<std::int64_t>(i) * 100, force, au, idr))
            << "picture " << i;
        out.units.push_back(std::move(au));
        out.idr.push_back(idr);
    }
    return out;
}

std::vector<TI420> ScenePictures(int width, int height, int count,
                                 std::vector<std::vector<std::uint32_t>>* rgb = nullptr) {
    std::vector<TI420> pictures;
    for (int t = 0; t < count; ++t) {
        const auto px = testing_msvc1::ScenePixels(width, height, t);
        pictures.push_back(RgbToI420(px, width, height));
        if (rgb) rgb->push_back(px);
    }
    return pictures;
}

// Mean RGB PSNR of what ffmpeg decodes from the stream against the source pictures.
double DecodedPsnr(const TEncoded& encoded, const std::vector<std::vector<std::uint32_t>>& rgb,
                   int width, int height) {
    TTempDir dir;
    WriteFile(dir.Path() / "stream.h264", encoded.Stream());
    const auto decoded = DecodeWithFfmpeg(dir.Path() / "stream.h264", width, height);
    EXPECT_EQ(decoded.size(), rgb.size());
    if (decoded.size() != rgb.size()) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i)
        sum += RgbPsnr(rgb[i], I420ToRgb(decoded[i]));
    return sum / decoded.size();
}

} // namespace

TEST(H264EncoderTest, QualityMapRunsFromCoarsestToFinestWithoutGaps) {
    EXPECT_EQ(QuantiserForQuality(0), 51);
    EXPECT_EQ(QuantiserForQuality(kH264MaxQuality), 7);
    EXPECT_EQ(QuantiserForQuality(kH264DefaultQuality), 22);
    EXPECT_EQ(QuantiserForQuality(-100), 51);
    EXPECT_EQ(QuantiserForQuality(kH264MaxQuality + 1), 7);
    // Never coarser for a higher quality, and every quantiser between the ends is reachable.
    int previous = QuantiserForQuality(0);
    for (int q = 1; q <= kH264MaxQuality; ++q) {
        const int qp = QuantiserForQuality(q);
        ASSERT_TRUE(qp == previous || qp == previous - 1) << "quality " << q;
        previous = qp;
    }
}

TEST(H264EncoderTest, OpenRefusesSizesAndRatesOutOfRangeWithAReason) {
    const H264Settings bad[] = {
        {.width = 321, .height = 224},
        {.width = 322, .height = 225},
        {.width = 14, .height = 224},
        {.width = 322, .height = 4098},
        {.width = 0, .height = 0},
        {.width = -322, .height = 224},
        {.width = 322, .height = 224, .frameRate = 0},
        {.width = 322, .height = 224, .frameRate = std::nanf("")},
        {.width = 322, .height = 224, .threads = 3},
        {.width = 4096, .height = 2306},
        {.width = 2306, .height = 4096},
    };
    for (const H264Settings& s : bad) {
        TH264Encoder enc;
        std::string why;
        EXPECT_FALSE(enc.Open(s, why)) << s.width << " x " << s.height;
        EXPECT_FALSE(why.empty());
        EXPECT_FALSE(enc.IsOpen());
        std::vector<std::uint8_t> plane(64), au;
        bool idr = true;
        EXPECT_FALSE(enc.Encode(plane.data(), plane.data(), plane.data(), 4, 2, 0, false, au, idr));
        EXPECT_TRUE(au.empty());
        EXPECT_FALSE(idr);
    }
}

// The ends of the range open and encode: a single macroblock, one padded, the longest sides and
// the most pixels.
TEST(H264EncoderTest, EncodesEverySizeAtTheEndsOfTheRange) {
    const std::pair<int, int> sizes[] = {{16, 16},     {18, 18},     {4096, 16}, {16, 4096},
                                         {4096, 2304}, {2304, 4096}, {1366, 768}};
    for (const auto& [w, h] : sizes) {
        TH264Encoder enc;
        std::string why;
        ASSERT_TRUE(enc.Open({.width = w, .height = h}, why)) << w << " x " << h << ": " << why;
        const auto pictures = ScenePictures(w, h, 2);
        const TEncoded out = EncodeAll(enc, pictures);
        EXPECT_TRUE(out.idr[0] && !out.idr[1]) << w << " x " << h;
    }
}

class H264StreamTest : public ::testing::TestWithParam<int> {};

// An even size that is not a multiple of 16, at one and two threads: IDR first, P after, an IDR
// where forced, each IDR led by SPS and PPS; ffmpeg decodes every picture at exactly that size,
// close to the source, and reads High profile, BT.709 and limited range from the stream.
TEST_P(H264StreamTest, OddSizedStreamDecodesAtItsSizeWithItsColourSignal) {
    const int w = 322, h = 224;
    TH264Encoder enc;
    std::string why;
    ASSERT_TRUE(enc.Open({.width = w, .height = h, .threads = GetParam()}, why)) << why;
    std::vector<std::vector<std::uint32_t>> rgb;
    const auto pictures = ScenePictures(w, h, 7, &rgb);
    const TEncoded out = EncodeAll(enc, pictures, {4});

    EXPECT_EQ(out.idr, (std::vector<bool>{true, false, false, false, true, false, false}));
    for (std::size_t i = 0; i < out.units.size(); ++i) {
        const std::vector<int> types = NalTypes(out.units[i]);
        ASSERT_FALSE(types.empty()) << "picture " << i;
        if (out.idr[i]) {
            ASSERT_GE(types.size(), 3u);
            EXPECT_EQ(types[0], 7) << "SPS first in picture " << i;
            EXPECT_EQ(types[1], 8) << "PPS next in picture " << i;
            for (std::size_t n = 2; n < types.size(); ++n)
                EXPECT_EQ(types[n], 5) << "picture " << i;
        } else {
            for (int t : types)
                EXPECT_EQ(t, 1) << "picture " << i;
        }
    }

    // The PPS opens with pic_parameter_set_id 0 and seq_parameter_set_id 0 (one bit each), then
    // entropy_coding_mode_flag: 1 for CABAC.
    EXPECT_EQ(FirstPayloadByte(out.units[0], 8) & 0xE0, 0xE0);

    TTempDir dir;
    WriteFile(dir.Path() / "odd.h264", out.Stream());
    const std::string probe = ProbeStream(dir.Path() / "odd.h264");
    ASSERT_FALSE(probe.empty());
    EXPECT_EQ(ProbeValue(probe, "width"), "322");
    EXPECT_EQ(ProbeValue(probe, "height"), "224");
    EXPECT_EQ(ProbeValue(probe, "profile"), "High");
    EXPECT_EQ(ProbeValue(probe, "pix_fmt"), "yuv420p");
    EXPECT_EQ(ProbeValue(probe, "color_range"), "tv");
    EXPECT_EQ(ProbeValue(probe, "color_space"), "bt709");
    EXPECT_EQ(ProbeValue(probe, "color_transfer"), "bt709");
    EXPECT_EQ(ProbeValue(probe, "color_primaries"), "bt709");
    EXPECT_EQ(ProbeValue(probe, "nb_read_frames"), "7");
    EXPECT_GT(DecodedPsnr(out, rgb, w, h), 34.0);
}

INSTANTIATE_TEST_SUITE_P(Threads, H264StreamTest, ::testing::Values(1, 2));

// A screen that does not change still gives a coded picture for every grab.
TEST(H264EncoderTest, UnchangedPicturesAreStillEachCoded) {
    TH264Encoder enc;
    std::string why;
    ASSERT_TRUE(enc.Open({.width = 320, .height = 240}, why)) << why;
    const std::vector<TI420> same(6, ScenePictures(320, 240, 1)[0]);
    const TEncoded out = EncodeAll(enc, same);
    for (std::size_t i = 1; i < out.units.size(); ++i) {
        EXPECT_FALSE(out.idr[i]);
        EXPECT_EQ(NalTypes(out.units[i]), std::vector<int>{1}) << "picture " << i;
    }
}

// OpenH264's screen mode codes an IDR of its own when the whole screen changes; isIdr says so, so
// that a file marks it as a sync point.
TEST(H264EncoderTest, AnIdrAtAScreenChangeIsReportedAsOne) {
    const int w = 320, h = 240;
    TH264Encoder enc;
    std::string why;
    ASSERT_TRUE(enc.Open({.width = w, .height = h}, why)) << why;
    std::vector<TI420> pictures = ScenePictures(w, h, 3);
    auto other = testing_msvc1::ScenePixels(w, h, 3);
    for (auto& c : other)
        c = ~c & 0xFFFFFF; // another screen entirely
    pictures.push_back(RgbToI420(other, w, h));
    const TEncoded out = EncodeAll(enc, pictures);
    EXPECT_TRUE(out.idr.back());
    for (std::size_t i = 0; i < out.units.size(); ++i) {
        const std::vector<int> types = NalTypes(out.units[i]);
        const bool hasIdrSlice = std::find(types.begin(), types.end(), 5) != types.end();
        EXPECT_EQ(out.idr[i], hasIdrSlice) << "picture " << i;
        if (out.idr[i]) {
            EXPECT_EQ(types.front(), 7) << "picture " << i;
        }
    }
}

// The quality reaches the quantiser: a higher quality gives larger pictures closer to the source,
// and the default keeps screen text above 36 dB.
TEST(H264EncoderTest, HigherQualityGivesLargerAndCloserPictures) {
    const int w = 640, h = 360;
    std::vector<std::vector<std::uint32_t>> rgb;
    const auto pictures = ScenePictures(w, h, 4, &rgb);
    double lastPsnr = 0;
    std::size_t lastBytes = 0;
    for (const int quality : {3000, kH264DefaultQuality, 9000}) {
        TH264Encoder enc;
        std::string why;
        ASSERT_TRUE(enc.Open({.width = w, .height = h, .quality = quality}, why)) << why;
        const TEncoded out = EncodeAll(enc, pictures);
        const std::size_t bytes = out.Stream().size();
        const double psnr = DecodedPsnr(out, rgb, w, h);
        std::printf("quality %d (QP %d): %zu bytes for %zu pictures, %.2f dB\n", quality,
                    QuantiserForQuality(quality), bytes, pictures.size(), psnr);
        EXPECT_GT(bytes, lastBytes) << "quality " << quality;
        EXPECT_GT(psnr, lastPsnr) << "quality " << quality;
        if (quality == kH264DefaultQuality) {
            EXPECT_GE(psnr, 36.0);
        }
        lastBytes = bytes;
        lastPsnr = psnr;
    }
}
