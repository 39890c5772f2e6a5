#include "core/Msvc1Encoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdint>

// Bitstream of a 16-bit frame: the blocks of 4x4 pixels are coded left to right in rows of
// blocks, the lowest row first (the order of a bottom-up DIB). Each block starts with a
// little-endian 16-bit word:
//   0x8400..0x87FF  skip (word - 0x8400) blocks, this one included (1..1023; runs cross rows);
//   other >= 0x8000 the block is filled with that RGB555 colour (the top bit is ignored);
//   < 0x8000        a pixel mask, bit i for pixel i (row i / 4 of the block counted from its
//                   lowest row, column i % 4), followed by two colours A and B: a set bit
//                   shows A, a clear bit B. When A has its top bit set the block has eight
//                   colours: six more follow, and each 2x2 quadrant q (0 lower left, 1 lower
//                   right, 2 upper left, 3 upper right) has its own pair, colours 2q and 2q+1.
// Since the mask word must stay below 0x8000, pixel 15 always shows the second colour of its
// pair; the encoder orders every pair so.

namespace core {

namespace {

constexpr int kBlockBytesFill = 2;
constexpr int kBlockBytesTwo = 6;
constexpr int kBlockBytesEight = 18;
constexpr int kMaxSkipRun = 1023;

struct TColour {
    int r, g, b;
};

// A quantised colour: its RGB555 word and the 8-bit channels a decoder shows for it.
struct TQuantColour {
    std::uint16_t word;
    TColour shown;
};

struct TTables {
    std::uint8_t to5[256];
    std::uint8_t to8[32];
    TTables() {
        // Decoders widen 5-bit channels by repeating the top bits; the nearest level wins.
        for (int v = 0; v < 32; ++v)
            to8[v] = static_cast<std::uint8_t>((v << 3) | (v >> 2));
        for (int x = 0; x < 256; ++x) {
            int best = 0;
            for (int v = 1; v < 32; ++v)
                if (std::abs(x - to8[v]) < std::abs(x - to8[best])) best = v;
            to5[x] = static_cast<std::uint8_t>(best);
        }
    }
};

const TTables kTables;

TQuantColour Quantise(int r, int g, int b) {
    const int r5 = kTables.to5[r], g5 = kTables.to5[g], b5 = kTables.to5[b];
    return {static_cast<std::uint16_t>((r5 << 10) | (g5 << 5) | b5),
            {kTables.to8[r5], kTables.to8[g5], kTables.to8[b5]}};
}

TColour Shown(std::uint16_t word) {
    return {kTables.to8[(word >> 10) & 31], kTables.to8[(word >> 5) & 31], kTables.to8[word & 31]};
}

// The 16 pixels of a block, index = row * 4 + column, row 0 the lowest.
struct TBlock {
    int r[16], g[16], b[16];
};

inline int Dist(const TBlock& blk, int i, const TColour& c) {
    const int dr = blk.r[i] - c.r, dg = blk.g[i] - c.g, db = blk.b[i] - c.b;
    return dr * dr + dg * dg + db * db;
}

template <int Bpp>
void LoadBlock(const std::uint8_t* dib, std::size_t stride, int bx, int by, TBlock& blk) {
    for (int row = 0; row < 4; ++row) {
        const std::uint8_t* p = dib + (static_cast<std::size_t>(by) * 4 + row) * stride +
                                static_cast<std::size_t>(bx) * 4 * (Bpp / 8);
        for (int x = 0; x < 4; ++x) {
            const int i = row * 4 + x;
            if constexpr (Bpp == 16) {
                const int v = p[2 * x] | (p[2 * x + 1] << 8);
                blk.r[i] = kTables.to8[(v >> 10) & 31];
                blk.g[i] = kTables.to8[(v >> 5) & 31];
                blk.b[i] = kTables.to8[v & 31];
            } else {
                const std::uint8_t* q = p + x * (Bpp / 8);
                blk.b[i] = q[0];
                blk.g[i] = q[1];
                blk.r[i] = q[2];
            }
        }
    }
}

struct TFill {
    std::uint16_t word;
    int err;
};

TFill ChooseFill(const TBlock& blk) {
    int sr = 0, sg = 0, sb = 0;
    for (int i = 0; i < 16; ++i) {
        sr += blk.r[i];
        sg += blk.g[i];
        sb += blk.b[i];
    }
    TQuantColour q = Quantise((sr + 8) / 16, (sg + 8) / 16, (sb + 8) / 16);
    // A fill word with red 1 would read as a skip code (0x84xx..0x87xx): use the nearer of
    // red 0 and red 2 instead.
    if ((q.word >> 10) == 1) {
        const int r5 = (sr + 8) / 16 < kTables.to8[1] ? 0 : 2;
        q.word = static_cast<std::uint16_t>((q.word & 0x03FF) | (r5 << 10));
        q.shown.r = kTables.to8[r5];
    }
    int err = 0;
    for (int i = 0; i < 16; ++i)
        err += Dist(blk, i, q.shown);
    return {q.word, err};
}

// Two colours for a set of N pixels of a block; bit k of maskA set means the k-th pixel of the
// set shows a. Ordered so that the set's last pixel shows b.
struct TPair {
    std::uint16_t a, b;
    unsigned maskA;
    int err;
};

template <int N> TPair ChoosePair(const TBlock& blk, const std::array<int, N>& set) {
    int lo[3] = {256, 256, 256}, hi[3] = {-1, -1, -1}, loAt[3] = {0, 0, 0}, hiAt[3] = {0, 0, 0};
    for (int k = 0; k < N; ++k) {
        const int v[3] = {blk.r[set[k]], blk.g[set[k]], blk.b[set[k]]};
        for (int c = 0; c < 3; ++c) {
            if (v[c] < lo[c]) lo[c] = v[c], loAt[c] = k;
            if (v[c] > hi[c]) hi[c] = v[c], hiAt[c] = k;
        }
    }
    int axis = 0;
    for (int c = 1; c < 3; ++c)
        if (hi[c] - lo[c] > hi[axis] - lo[axis]) axis = c;

    TQuantColour qa, qb;
    if (hi[axis] == lo[axis]) {
        qa = qb = Quantise(blk.r[set[0]], blk.g[set[0]], blk.b[set[0]]);
    } else {
        // Two rounds of two-means, seeded with the extremes of the widest channel.
        const int i0 = set[loAt[axis]], i1 = set[hiAt[axis]];
        TColour c0{blk.r[i0], blk.g[i0], blk.b[i0]}, c1{blk.r[i1], blk.g[i1], blk.b[i1]};
        for (int round = 0; round < 2; ++round) {
            int n0 = 0, n1 = 0, s0[3] = {0, 0, 0}, s1[3] = {0, 0, 0};
            for (int k = 0; k < N; ++k) {
                const int i = set[k];
                if (Dist(blk, i, c1) < Dist(blk, i, c0)) {
                    ++n1, s1[0] += blk.r[i], s1[1] += blk.g[i], s1[2] += blk.b[i];
                } else {
                    ++n0, s0[0] += blk.r[i], s0[1] += blk.g[i], s0[2] += blk.b[i];
                }
            }
            if (n0) c0 = {(s0[0] + n0 / 2) / n0, (s0[1] + n0 / 2) / n0, (s0[2] + n0 / 2) / n0};
            if (n1) c1 = {(s1[0] + n1 / 2) / n1, (s1[1] + n1 / 2) / n1, (s1[2] + n1 / 2) / n1};
        }
        qa = Quantise(c0.r, c0.g, c0.b);
        qb = Quantise(c1.r, c1.g, c1.b);
    }

    TPair pair{qa.word, qb.word, 0, 0};
    for (int k = 0; k < N; ++k) {
        const int da = Dist(blk, set[k], qa.shown), db = Dist(blk, set[k], qb.shown);
        if (da <= db) {
            pair.maskA |= 1u << k;
            pair.err += da;
        } else {
            pair.err += db;
        }
    }
    if (pair.maskA & (1u << (N - 1))) {
        std::swap(pair.a, pair.b);
        pair.maskA = ~pair.maskA & ((1u << N) - 1);
    }
    return pair;
}

constexpr std::array<int, 16> kWholeBlock = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr std::array<std::array<int, 4>, 4> kQuadrants = {{
    {0, 1, 4, 5},
    {2, 3, 6, 7},
    {8, 9, 12, 13},
    {10, 11, 14, 15},
}};

struct TEight {
    std::uint16_t flags;
    std::uint16_t colours[8];
    int err;
};

TEight ChooseEight(const TBlock& blk) {
    TEight e{0, {}, 0};
    for (int q = 0; q < 4; ++q) {
        const TPair p = ChoosePair<4>(blk, kQuadrants[q]);
        for (int k = 0; k < 4; ++k)
            if (p.maskA & (1u << k)) e.flags |= static_cast<std::uint16_t>(1u << kQuadrants[q][k]);
        e.colours[2 * q] = p.a;
        e.colours[2 * q + 1] = p.b;
        e.err += p.err;
    }
    return e;
}

// Lagrange multiplier of the block decisions: squared error (summed over the 48 channel values
// of a block) that one more byte must buy. 0 at the highest quality, so that the block is then
// coded as exactly as the format allows.
std::int64_t Lambda(int quality) {
    const std::int64_t t = kMsvc1MaxQuality - quality;
    return 4000 * t * t / (static_cast<std::int64_t>(kMsvc1MaxQuality) * kMsvc1MaxQuality);
}

class TWriter {
public:
    explicit TWriter(std::uint8_t* out) : out_(out), p_(out) {}
    void Word(std::uint16_t w) {
        p_[0] = static_cast<std::uint8_t>(w & 0xFF);
        p_[1] = static_cast<std::uint8_t>(w >> 8);
        p_ += 2;
    }
    void Skip() { ++run_; }
    void FlushSkips() {
        while (run_ > 0) {
            const int n = std::min(run_, kMaxSkipRun);
            Word(static_cast<std::uint16_t>(0x8400 + n));
            run_ -= n;
        }
    }
    bool Skipping() const { return run_ > 0; }
    std::size_t Size() const { return static_cast<std::size_t>(p_ - out_); }

private:
    std::uint8_t* out_;
    std::uint8_t* p_;
    int run_ = 0;
};

enum class TMode { Skip, Fill, Two, Eight };

template <int Bpp>
void EncodeBlocks(const std::uint8_t* dib, int width, int height, std::int64_t lambda, bool key,
                  std::vector<std::uint16_t>& picture, TWriter& w,
                  TMsvc1Encoder::TBlockCounts& counts) {
    const std::size_t stride = DibRowBytes(width, Bpp);
    TBlock blk;
    for (int by = 0; by < height / 4; ++by) {
        for (int bx = 0; bx < width / 4; ++bx) {
            LoadBlock<Bpp>(dib, stride, bx, by, blk);
            std::uint16_t* pic = picture.data() + static_cast<std::size_t>(by) * 4 * width + bx * 4;

            TMode mode = TMode::Fill;
            std::int64_t best = 0;
            if (!key) {
                int err = 0;
                for (int row = 0; row < 4; ++row)
                    for (int x = 0; x < 4; ++x)
                        err += Dist(blk, row * 4 + x, Shown(pic[row * width + x]));
                mode = TMode::Skip;
                best = err + (w.Skipping() ? 0 : 2 * lambda);
            }
            // Every coded block costs at least its rate; stop looking once no richer block
            // could pay for its extra bytes. Ties go to the smaller block.
            TFill fill{};
            TPair two{};
            TEight eight{};
            if (key || best > kBlockBytesFill * lambda) {
                fill = ChooseFill(blk);
                const std::int64_t cost = fill.err + kBlockBytesFill * lambda;
                if (key || cost < best) mode = TMode::Fill, best = cost;
                if (best > kBlockBytesTwo * lambda) {
                    two = ChoosePair<16>(blk, kWholeBlock);
                    const std::int64_t costTwo = two.err + kBlockBytesTwo * lambda;
                    if (costTwo < best) mode = TMode::Two, best = costTwo;
                    if (best > kBlockBytesEight * lambda) {
                        eight = ChooseEight(blk);
                        const std::int64_t costEight = eight.err + kBlockBytesEight * lambda;
                        if (costEight < best) mode = TMode::Eight, best = costEight;
                    }
                }
            }

            if (mode == TMode::Skip) {
                w.Skip();
                ++counts.skipped;
                continue;
            }
            w.FlushSkips();
            std::uint16_t shown[16];
            switch (mode) {
            case TMode::Fill:
                w.Word(static_cast<std::uint16_t>(0x8000 | fill.word));
                std::fill(std::begin(shown), std::end(shown), fill.word);
                ++counts.oneColour;
                break;
            case TMode::Two:
                w.Word(static_cast<std::uint16_t>(two.maskA));
                w.Word(two.a);
                w.Word(two.b);
                for (int i = 0; i < 16; ++i)
                    shown[i] = (two.maskA >> i) & 1 ? two.a : two.b;
                ++counts.twoColour;
                break;
            default:
                w.Word(eight.flags);
                w.Word(static_cast<std::uint16_t>(eight.colours[0] | 0x8000));
                for (int c = 1; c < 8; ++c)
                    w.Word(eight.colours[c]);
                for (int i = 0; i < 16; ++i) {
                    const int q = (i >> 3) * 2 + ((i & 3) >> 1);
                    shown[i] = eight.colours[2 * q + ((eight.flags >> i) & 1 ? 0 : 1)];
                }
                ++counts.eightColour;
                break;
            }
            for (int row = 0; row < 4; ++row)
                std::copy(shown + row * 4, shown + row * 4 + 4, pic + row * width);
        }
    }
    w.FlushSkips();
}

} // namespace

std::size_t DibRowBytes(int width, int bitsPerPixel) {
    return ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

bool Msvc1AcceptsFrame(int width, int height, int bitsPerPixel) {
    return width > 0 && height > 0 && width % 4 == 0 && height % 4 == 0 &&
           (bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32);
}

std::size_t Msvc1MaxFrameBytes(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return static_cast<std::size_t>(width / 4) * (height / 4) * kBlockBytesEight;
}

bool TMsvc1Encoder::Begin(int width, int height, int bitsPerPixel) {
    End();
    if (!Msvc1AcceptsFrame(width, height, bitsPerPixel)) return false;
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    picture_.assign(static_cast<std::size_t>(width) * height, 0);
    return true;
}

void TMsvc1Encoder::End() {
    width_ = height_ = bitsPerPixel_ = 0;
    havePicture_ = false;
    picture_.clear();
    counts_ = {};
}

std::size_t TMsvc1Encoder::Encode(const std::uint8_t* dib, int quality, bool keyFrame,
                                  std::uint8_t* out, std::size_t capacity, bool* wasKeyFrame) {
    if (!Begun() || dib == nullptr || out == nullptr ||
        capacity < Msvc1MaxFrameBytes(width_, height_))
        return 0;
    const bool key = keyFrame || !havePicture_;
    const std::int64_t lambda = Lambda(std::clamp(quality, 0, kMsvc1MaxQuality));
    counts_ = {};
    TWriter w(out);
    switch (bitsPerPixel_) {
    case 16:
        EncodeBlocks<16>(dib, width_, height_, lambda, key, picture_, w, counts_);
        break;
    case 24:
        EncodeBlocks<24>(dib, width_, height_, lambda, key, picture_, w, counts_);
        break;
    default:
        EncodeBlocks<32>(dib, width_, height_, lambda, key, picture_, w, counts_);
        break;
    }
    havePicture_ = true;
    if (wasKeyFrame) *wasKeyFrame = key;
    return w.Size();
}

std::vector<std::uint8_t> TMsvc1Encoder::Encode(const std::uint8_t* dib, int quality, bool keyFrame,
                                                bool* wasKeyFrame) {
    std::vector<std::uint8_t> out(Msvc1MaxFrameBytes(width_, height_));
    out.resize(Encode(dib, quality, keyFrame, out.data(), out.size(), wasKeyFrame));
    return out;
}

} // namespace core
