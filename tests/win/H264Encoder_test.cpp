// The H.264 encoder as the Windows build links it (OpenH264's Windows SIMD and threads), its
// stream decoded by OpenH264's own decoder from the same library.
#include "core/H264Encoder.h"

#include "tests/common/I420Reference.h"
#include "tests/common/SyntheticScene.h"

#include <gtest/gtest.h>
#include <wels/codec_api.h>

#include <vector>

using namespace core;
using namespace testing_h264;

namespace {

TI420 CopyPicture(unsigned char* const planes[3], const SBufferInfo& info) {
    const SSysMEMBuffer& b = info.UsrData.sSystemBuffer;
    TI420 pic;
    pic.width = b.iWidth;
    pic.height = b.iHeight;
    for (int r = 0; r < b.iHeight; ++r)
        pic.y.insert(pic.y.end(), planes[0] + r * b.iStride[0],
                     planes[0] + r * b.iStride[0] + b.iWidth);
    for (int r = 0; r < b.iHeight / 2; ++r) {
        pic.u.insert(pic.u.end(), planes[1] + r * b.iStride[1],
                     planes[1] + r * b.iStride[1] + b.iWidth / 2);
        pic.v.insert(pic.v.end(), planes[2] + r * b.iStride[1],
                     planes[2] + r * b.iStride[1] + b.iWidth / 2);
    }
    return pic;
}

// Every picture OpenH264's decoder gives for the access units, in display order. For High
// profile it holds each picture back until the next one comes (it plans for reordering whatever
// the stream says), so the last is flushed out.
std::vector<TI420> DecodeUnits(const std::vector<std::vector<std::uint8_t>>& units) {
    std::vector<TI420> pictures;
    ISVCDecoder* dec = nullptr;
    if (WelsCreateDecoder(&dec) != 0) return pictures;
    SDecodingParam param{};
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
    if (dec->Initialize(&param) == 0) {
        for (const auto& au : units) {
            unsigned char* planes[3] = {};
            SBufferInfo info{};
            if (dec->DecodeFrameNoDelay(au.data(), static_cast<int>(au.size()), planes, &info) != 0)
                break;
            if (info.iBufferStatus == 1) pictures.push_back(CopyPicture(planes, info));
        }
        for (std::size_t left = units.size(); left > 0; --left) {
            unsigned char* planes[3] = {};
            SBufferInfo info{};
            if (dec->FlushFrame(planes, &info) != 0 || info.iBufferStatus != 1) break;
            pictures.push_back(CopyPicture(planes, info));
        }
        dec->Uninitialize();
    }
    WelsDestroyDecoder(dec);
    return pictures;
}

} // namespace

TEST(H264EncoderWin, OneAndTwoThreadsCodeTheSceneAndDecodeAtItsSize) {
    const int w = 322, h = 224;
    for (const int threads : {1, 2}) {
        TH264Encoder enc;
        std::string why;
        ASSERT_TRUE(enc.Open({.width = w, .height = h, .threads = threads}, why)) << why;
        std::vector<std::vector<std::uint32_t>> rgb;
        std::vector<std::vector<std::uint8_t>> units;
        for (int t = 0; t < 6; ++t) {
            rgb.push_back(testing_msvc1::ScenePixels(w, h, t));
            const TI420 src = RgbToI420(rgb.back(), w, h);
            std::vector<std::uint8_t> au;
            bool idr = false;
            ASSERT_TRUE(enc.Encode(src.y.data(), src.u.data(), src.v.data(), w, w / 2, t * 100,
                                   t == 3, au, idr));
            EXPECT_EQ(idr, t == 0 || t == 3) << threads << " threads, picture " << t;
            units.push_back(std::move(au));
        }
        const std::vector<TI420> decoded = DecodeUnits(units);
        ASSERT_EQ(decoded.size(), rgb.size()) << threads << " threads";
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            ASSERT_EQ(decoded[i].width, w) << threads << " threads, picture " << i;
            ASSERT_EQ(decoded[i].height, h);
            EXPECT_GT(RgbPsnr(rgb[i], I420ToRgb(decoded[i])), 34.0)
                << threads << " threads, picture " << i;
        }
    }
}
