// Microsoft Video 1 ("MSVC"/"CRAM", 16-bit) frame encoder: 4x4 blocks, skips against the decoder's
// picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

// Highest and default quality on the compression manager's 0..10000 scale.
constexpr int kMsvc1MaxQuality = 10000;
constexpr int kMsvc1DefaultQuality = 7500;

// Bytes in one row of a bottom-up device-independent bitmap (rows padded to 4 bytes).
std::size_t DibRowBytes(int width, int bitsPerPixel);

// Whether frames of this size and depth can be encoded: width and height positive multiples
// of 4, 16 (RGB555), 24 (BGR) or 32 (BGRX) bits per pixel.
bool Msvc1AcceptsFrame(int width, int height, int bitsPerPixel);

// Most bytes one encoded frame can take: every block an eight-colour block.
std::size_t Msvc1MaxFrameBytes(int width, int height);

// Encodes a sequence of frames. The encoder keeps the picture a decoder shows after each frame,
// so that a block is skipped only when what is already on screen is close enough to the source.
class TMsvc1Encoder {
public:
    struct TBlockCounts {
        int skipped = 0;
        int oneColour = 0;
        int twoColour = 0;
        int eightColour = 0;
    };

    // Prepares for frames of this size and depth. Returns false, and forgets any earlier
    // sequence, when Msvc1AcceptsFrame refuses them. The next frame is a key frame.
    bool Begin(int width, int height, int bitsPerPixel);
    void End();
    bool Begun() const { return width_ > 0; }

    // Encodes one frame (a bottom-up DIB of the begun format) into out. quality is clamped to
    // 0..10000; keyFrame asks for a frame without skips (the first frame after Begin is always
    // one). Returns the encoded size, or 0 when not begun or capacity is below
    // Msvc1MaxFrameBytes. wasKeyFrame receives whether the frame holds no skip.
    std::size_t Encode(const std::uint8_t* dib, int quality, bool keyFrame, std::uint8_t* out,
                       std::size_t capacity, bool* wasKeyFrame = nullptr);
    std::vector<std::uint8_t> Encode(const std::uint8_t* dib, int quality, bool keyFrame,
                                     bool* wasKeyFrame = nullptr);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitsPerPixel() const { return bitsPerPixel_; }
    // What a decoder shows after the last frame: RGB555 per pixel, bottom-up rows.
    const std::vector<std::uint16_t>& Picture() const { return picture_; }
    // How the blocks of the last frame were coded.
    const TBlockCounts& LastCounts() const { return counts_; }

private:
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    bool havePicture_ = false;
    std::vector<std::uint16_t> picture_;
    TBlockCounts counts_;
};

} // namespace media
