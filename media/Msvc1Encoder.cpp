#include "media/Msvc1Encoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdint>

#if !defined(__SSE2__)
#error "the Microsoft Video 1 encoder needs SSE2 (-msse2 on 32-bit x86)"
#endif
#include <emmintrin.h>

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

namespace media {

namespace {

// The block arithmetic runs in SSE2 registers: the 16 pixels of a block fit two registers of
// 16-bit lanes per channel, and pmaddwd forms their squared distances. Every step is integer
// arithmetic, so the choices are exactly those of a pixel-by-pixel loop.

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
    // (s + n / 2) / n as (s + n / 2) * recip[n] >> 16: exact for s <= 255 n and n <= 16, since
    // the error of the rounded-up reciprocal stays below 1 / n while (s + n / 2) < 65536 / n.
    std::uint32_t recip[17];
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
        recip[0] = 0;
        for (std::uint32_t n = 1; n <= 16; ++n)
            recip[n] = (65536 + n - 1) / n;
    }
};

const TTables kTables;

inline int RoundedMean(int sum, int n) {
    return static_cast<int>((static_cast<std::uint32_t>(sum + n / 2) * kTables.recip[n]) >> 16);
}

TQuantColour Quantise(int r, int g, int b) {
    const int r5 = kTables.to5[r], g5 = kTables.to5[g], b5 = kTables.to5[b];
    return {static_cast<std::uint16_t>((r5 << 10) | (g5 << 5) | b5),
            {kTables.to8[r5], kTables.to8[g5], kTables.to8[b5]}};
}

// The 16 pixels of a block, index = row * 4 + column, row 0 the lowest, one channel at a time.
struct TBlock {
    alignas(16) std::int16_t r[16];
    alignas(16) std::int16_t g[16];
    alignas(16) std::int16_t b[16];
};

inline __m128i Load(const std::int16_t* p) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

inline int HorizontalSum32(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}

// Sum of the 16 lanes of two registers of small non-negative 16-bit values.
inline int HorizontalSum16(__m128i a, __m128i b) {
    return HorizontalSum32(_mm_madd_epi16(_mm_add_epi16(a, b), _mm_set1_epi16(1)));
}

// Widens RGB555 words to the 8-bit channels a decoder shows, lane by lane.
inline void Widen555(__m128i w, __m128i& r, __m128i& g, __m128i& b) {
    const __m128i five = _mm_set1_epi16(31);
    const __m128i r5 = _mm_and_si128(_mm_srli_epi16(w, 10), five);
    const __m128i g5 = _mm_and_si128(_mm_srli_epi16(w, 5), five);
    const __m128i b5 = _mm_and_si128(w, five);
    r = _mm_or_si128(_mm_slli_epi16(r5, 3), _mm_srli_epi16(r5, 2));
    g = _mm_or_si128(_mm_slli_epi16(g5, 3), _mm_srli_epi16(g5, 2));
    b = _mm_or_si128(_mm_slli_epi16(b5, 3), _mm_srli_epi16(b5, 2));
}

// Squared distances of 8 pixels to 8 colours: pixels 0..3 in lo, 4..7 in hi.
inline void Distances8(__m128i r, __m128i g, __m128i b, __m128i cr, __m128i cg, __m128i cb,
                       __m128i& lo, __m128i& hi) {
    const __m128i dr = _mm_sub_epi16(r, cr), dg = _mm_sub_epi16(g, cg), db = _mm_sub_epi16(b, cb);
    const __m128i zero = _mm_setzero_si128();
    const __m128i rgLo = _mm_unpacklo_epi16(dr, dg), rgHi = _mm_unpackhi_epi16(dr, dg);
    const __m128i bLo = _mm_unpacklo_epi16(db, zero), bHi = _mm_unpackhi_epi16(db, zero);
    lo = _mm_add_epi32(_mm_madd_epi16(rgLo, rgLo), _mm_madd_epi16(bLo, bLo));
    hi = _mm_add_epi32(_mm_madd_epi16(rgHi, rgHi), _mm_madd_epi16(bHi, bHi));
}

// Summed squared distance of 8 pixels to 8 colours.
inline __m128i Error8(__m128i r, __m128i g, __m128i b, __m128i cr, __m128i cg, __m128i cb) {
    const __m128i dr = _mm_sub_epi16(r, cr), dg = _mm_sub_epi16(g, cg), db = _mm_sub_epi16(b, cb);
    return _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(dr, dr), _mm_madd_epi16(dg, dg)),
                         _mm_madd_epi16(db, db));
}

// Squared distances of the 16 pixels to one colour, four pixels per register.
struct TDistances {
    __m128i d[4];
};

TDistances Distances(const TBlock& blk, const TColour& c) {
    const __m128i cr = _mm_set1_epi16(static_cast<short>(c.r));
    const __m128i cg = _mm_set1_epi16(static_cast<short>(c.g));
    const __m128i cb = _mm_set1_epi16(static_cast<short>(c.b));
    TDistances t;
    Distances8(Load(blk.r), Load(blk.g), Load(blk.b), cr, cg, cb, t.d[0], t.d[1]);
    Distances8(Load(blk.r + 8), Load(blk.g + 8), Load(blk.b + 8), cr, cg, cb, t.d[2], t.d[3]);
    return t;
}

int ErrorTo(const TBlock& blk, const TColour& c) {
    const __m128i cr = _mm_set1_epi16(static_cast<short>(c.r));
    const __m128i cg = _mm_set1_epi16(static_cast<short>(c.g));
    const __m128i cb = _mm_set1_epi16(static_cast<short>(c.b));
    return HorizontalSum32(
        _mm_add_epi32(Error8(Load(blk.r), Load(blk.g), Load(blk.b), cr, cg, cb),
                      Error8(Load(blk.r + 8), Load(blk.g + 8), Load(blk.b + 8), cr, cg, cb)));
}

// One bit per pixel (bit i for pixel i) of four registers of 32-bit lane masks.
inline unsigned MaskBits(const __m128i m[4]) {
    return static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_packs_epi32(m[0], m[1]), _mm_packs_epi32(m[2], m[3]))));
}

// Loads the block at block column bx, block row by of a bottom-up DIB.
template <int Bpp>
void LoadBlock(const std::uint8_t* dib, std::size_t stride, int bx, int by, TBlock& blk) {
    const std::uint8_t* base = dib + static_cast<std::size_t>(by) * 4 * stride +
                               static_cast<std::size_t>(bx) * 4 * (Bpp / 8);
    if constexpr (Bpp == 32) {
        const __m128i low = _mm_set1_epi32(0xFF);
        for (int half = 0; half < 2; ++half) {
            const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                base + static_cast<std::size_t>(2 * half) * stride));
            const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                base + static_cast<std::size_t>(2 * half + 1) * stride));
            auto channel = [&](int shift) {
                return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, shift), low),
                                       _mm_and_si128(_mm_srli_epi32(p1, shift), low));
            };
            _mm_store_si128(reinterpret_cast<__m128i*>(blk.b + 8 * half), channel(0));
            _mm_store_si128(reinterpret_cast<__m128i*>(blk.g + 8 * half), channel(8));
            _mm_store_si128(reinterpret_cast<__m128i*>(blk.r + 8 * half), channel(16));
        }
    } else if constexpr (Bpp == 16) {
        for (int half = 0; half < 2; ++half) {
            const __m128i w =
                _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(
                                       base + static_cast<std::size_t>(2 * half) * stride)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(
                                       base + static_cast<std::size_t>(2 * half + 1) * stride)));
            __m128i r, g, b;
            Widen555(w, r, g, b);
            _mm_store_si128(reinterpret_cast<__m128i*>(blk.r + 8 * half), r);
            _mm_store_si128(reinterpret_cast<__m128i*>(blk.g + 8 * half), g);
            _mm_store_si128(reinterpret_cast<__m128i*>(blk.b + 8 * half), b);
        }
    } else {
        for (int row = 0; row < 4; ++row) {
            const std::uint8_t* p = base + static_cast<std::size_t>(row) * stride;
            for (int x = 0; x < 4; ++x) {
                const int i = row * 4 + x;
                blk.b[i] = p[3 * x];
                blk.g[i] = p[3 * x + 1];
                blk.r[i] = p[3 * x + 2];
            }
        }
    }
}

// Error of leaving the block as the decoder shows it now: the picture's 4 x 4 words at pic.
int SkipError(const TBlock& blk, const std::uint16_t* pic, int width) {
    __m128i sum = _mm_setzero_si128();
    for (int half = 0; half < 2; ++half) {
        const std::uint16_t* row = pic + static_cast<std::size_t>(2 * half) * width;
        const __m128i w =
            _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + width)));
        __m128i r, g, b;
        Widen555(w, r, g, b);
        sum = _mm_add_epi32(sum, Error8(Load(blk.r + 8 * half), Load(blk.g + 8 * half),
                                        Load(blk.b + 8 * half), r, g, b));
    }
    return HorizontalSum32(sum);
}

struct TFill {
    std::uint16_t word;
    int err;
};

TFill ChooseFill(const TBlock& blk) {
    const int sr = HorizontalSum16(Load(blk.r), Load(blk.r + 8));
    const int sg = HorizontalSum16(Load(blk.g), Load(blk.g + 8));
    const int sb = HorizontalSum16(Load(blk.b), Load(blk.b + 8));
    TQuantColour q = Quantise((sr + 8) / 16, (sg + 8) / 16, (sb + 8) / 16);
    // A fill word with red 1 would read as a skip code (0x84xx..0x87xx): use the nearer of
    // red 0 and red 2 instead.
    if ((q.word >> 10) == 1) {
        const int r5 = (sr + 8) / 16 < kTables.to8[1] ? 0 : 2;
        q.word = static_cast<std::uint16_t>((q.word & 0x03FF) | (r5 << 10));
        q.shown.r = kTables.to8[r5];
    }
    return {q.word, ErrorTo(blk, q.shown)};
}

// Two colours for a set of N pixels of a block; bit k of maskA set means the k-th pixel of the
// set shows a. Ordered so that the set's last pixel shows b.
struct TPair {
    std::uint16_t a, b;
    unsigned maskA;
    int err;
};

// Orders a pair so that the set's last pixel (bit n - 1) shows b.
void OrderPair(TPair& pair, int n) {
    if (pair.maskA & (1u << (n - 1))) {
        std::swap(pair.a, pair.b);
        pair.maskA = ~pair.maskA & ((1u << n) - 1);
    }
}

// The smallest value of a channel over the block and the first pixel holding it; the same for
// the largest.
struct TRange {
    int lo, hi, loAt, hiAt;
};

TRange Range16(const std::int16_t* ch) {
    const __m128i v0 = Load(ch), v1 = Load(ch + 8);
    __m128i mn = _mm_min_epi16(v0, v1), mx = _mm_max_epi16(v0, v1);
    mn = _mm_min_epi16(mn, _mm_shuffle_epi32(mn, _MM_SHUFFLE(1, 0, 3, 2)));
    mx = _mm_max_epi16(mx, _mm_shuffle_epi32(mx, _MM_SHUFFLE(1, 0, 3, 2)));
    mn = _mm_min_epi16(mn, _mm_shuffle_epi32(mn, _MM_SHUFFLE(2, 3, 0, 1)));
    mx = _mm_max_epi16(mx, _mm_shuffle_epi32(mx, _MM_SHUFFLE(2, 3, 0, 1)));
    mn = _mm_min_epi16(mn, _mm_shufflelo_epi16(mn, _MM_SHUFFLE(2, 3, 0, 1)));
    mx = _mm_max_epi16(mx, _mm_shufflelo_epi16(mx, _MM_SHUFFLE(2, 3, 0, 1)));
    const int lo = static_cast<std::int16_t>(_mm_cvtsi128_si32(mn));
    const int hi = static_cast<std::int16_t>(_mm_cvtsi128_si32(mx));
    const __m128i lov = _mm_set1_epi16(static_cast<short>(lo));
    const __m128i hiv = _mm_set1_epi16(static_cast<short>(hi));
    const unsigned atLo = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(v0, lov), _mm_cmpeq_epi16(v1, lov))));
    const unsigned atHi = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(v0, hiv), _mm_cmpeq_epi16(v1, hiv))));
    return {lo, hi, __builtin_ctz(atLo), __builtin_ctz(atHi)};
}

constexpr std::uint8_t kBitCount4[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

inline TColour PixelOf(const TBlock& blk, int i) {
    return {blk.r[i], blk.g[i], blk.b[i]};
}

TPair ChoosePair16(const TBlock& blk) {
    const TRange range[3] = {Range16(blk.r), Range16(blk.g), Range16(blk.b)};
    int axis = 0;
    for (int c = 1; c < 3; ++c)
        if (range[c].hi - range[c].lo > range[axis].hi - range[axis].lo) axis = c;

    TQuantColour qa, qb;
    if (range[axis].hi == range[axis].lo) {
        qa = qb = Quantise(blk.r[0], blk.g[0], blk.b[0]);
    } else {
        // Two rounds of two-means, seeded with the extremes of the widest channel.
        TColour c0 = PixelOf(blk, range[axis].loAt), c1 = PixelOf(blk, range[axis].hiAt);
        const int total[3] = {HorizontalSum16(Load(blk.r), Load(blk.r + 8)),
                              HorizontalSum16(Load(blk.g), Load(blk.g + 8)),
                              HorizontalSum16(Load(blk.b), Load(blk.b + 8))};
        for (int round = 0; round < 2; ++round) {
            const TDistances d0 = Distances(blk, c0), d1 = Distances(blk, c1);
            __m128i nearer1[4];
            for (int k = 0; k < 4; ++k)
                nearer1[k] = _mm_cmpgt_epi32(d0.d[k], d1.d[k]);
            const __m128i m0 = _mm_packs_epi32(nearer1[0], nearer1[1]);
            const __m128i m1 = _mm_packs_epi32(nearer1[2], nearer1[3]);
            const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(m0, m1)));
            const int n1 = kBitCount4[bits & 0xF] + kBitCount4[(bits >> 4) & 0xF] +
                           kBitCount4[(bits >> 8) & 0xF] + kBitCount4[bits >> 12];
            const int n0 = 16 - n1;
            auto sum1 = [&](const std::int16_t* ch) {
                return HorizontalSum16(_mm_and_si128(Load(ch), m0),
                                       _mm_and_si128(Load(ch + 8), m1));
            };
            const int s1[3] = {sum1(blk.r), sum1(blk.g), sum1(blk.b)};
            if (n0)
                c0 = {RoundedMean(total[0] - s1[0], n0), RoundedMean(total[1] - s1[1], n0),
                      RoundedMean(total[2] - s1[2], n0)};
            if (n1) c1 = {RoundedMean(s1[0], n1), RoundedMean(s1[1], n1), RoundedMean(s1[2], n1)};
        }
        qa = Quantise(c0.r, c0.g, c0.b);
        qb = Quantise(c1.r, c1.g, c1.b);
    }

    const TDistances da = Distances(blk, qa.shown), db = Distances(blk, qb.shown);
    __m128i showsB[4];
    __m128i err = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
        showsB[k] = _mm_cmpgt_epi32(da.d[k], db.d[k]);
        err = _mm_add_epi32(err, _mm_or_si128(_mm_and_si128(showsB[k], db.d[k]),
                                              _mm_andnot_si128(showsB[k], da.d[k])));
    }
    TPair pair{qa.word, qb.word, ~MaskBits(showsB) & 0xFFFFu, HorizontalSum32(err)};
    OrderPair(pair, 16);
    return pair;
}

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

// Within each group of four 16-bit lanes: lanes swapped in pairs, and the two pairs swapped.
inline __m128i SwapPairs(__m128i x) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, _MM_SHUFFLE(2, 3, 0, 1)),
                               _MM_SHUFFLE(2, 3, 0, 1));
}
inline __m128i SwapHalves(__m128i x) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, _MM_SHUFFLE(1, 0, 3, 2)),
                               _MM_SHUFFLE(1, 0, 3, 2));
}

// Per group of four lanes, the sums of its lanes in 32-bit lanes 0 and 2 (lanes 0..3, 4..7).
inline void GroupSums(__m128i x, int& first, int& second) {
    __m128i v = _mm_madd_epi16(x, _mm_set1_epi16(1));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    first = _mm_cvtsi128_si32(v);
    second = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
}

inline __m128i PerGroup(int first, int second) {
    const auto a = static_cast<short>(first), b = static_cast<short>(second);
    return _mm_set_epi16(b, b, b, b, a, a, a, a);
}

// The four 2x2 quadrants at once: quadrant q's pixels, in the order of kQuadrants[q], lie in
// lanes 4q .. 4q + 3 (quadrants 0 and 1 in the first register of a channel, 2 and 3 in the
// second), and every step of the two-colour choice runs on all four.
TEight ChooseEight(const TBlock& blk) {
    const std::int16_t* const source[3] = {blk.r, blk.g, blk.b};
    __m128i ch[3][2];
    alignas(16) std::int16_t px[3][16], lo[3][16], hi[3][16];
    unsigned atLo[3] = {0, 0, 0}, atHi[3] = {0, 0, 0};
    int total[3][4];
    for (int c = 0; c < 3; ++c) {
        for (int h = 0; h < 2; ++h) {
            // Rows 0 and 1 hold quadrants 0 and 1 as 32-bit pairs (0 1 | 2 3 | 4 5 | 6 7).
            const __m128i v = _mm_shuffle_epi32(Load(source[c] + 8 * h), _MM_SHUFFLE(3, 1, 2, 0));
            ch[c][h] = v;
            _mm_store_si128(reinterpret_cast<__m128i*>(px[c] + 8 * h), v);
            __m128i mn = _mm_min_epi16(v, SwapPairs(v)), mx = _mm_max_epi16(v, SwapPairs(v));
            mn = _mm_min_epi16(mn, SwapHalves(mn));
            mx = _mm_max_epi16(mx, SwapHalves(mx));
            _mm_store_si128(reinterpret_cast<__m128i*>(lo[c] + 8 * h), mn);
            _mm_store_si128(reinterpret_cast<__m128i*>(hi[c] + 8 * h), mx);
            const __m128i zero = _mm_setzero_si128();
            atLo[c] |= static_cast<unsigned>(
                           _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(v, mn), zero)))
                       << (8 * h);
            atHi[c] |= static_cast<unsigned>(
                           _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(v, mx), zero)))
                       << (8 * h);
            GroupSums(v, total[c][2 * h], total[c][2 * h + 1]);
        }
    }

    // Seeds: the first pixels holding the extremes of each quadrant's widest channel.
    bool flat[4];
    TColour c0[4], c1[4];
    for (int q = 0; q < 4; ++q) {
        const int at = 4 * q;
        int axis = 0;
        for (int c = 1; c < 3; ++c)
            if (hi[c][at] - lo[c][at] > hi[axis][at] - lo[axis][at]) axis = c;
        flat[q] = hi[axis][at] == lo[axis][at];
        const int k0 = at + __builtin_ctz((atLo[axis] >> at) & 0xF);
        const int k1 = at + __builtin_ctz((atHi[axis] >> at) & 0xF);
        c0[q] = {px[0][k0], px[1][k0], px[2][k0]};
        c1[q] = {px[0][k1], px[1][k1], px[2][k1]};
    }

    // Two rounds of two-means in every quadrant (the flat ones' results are not used).
    for (int round = 0; round < 2; ++round) {
        for (int h = 0; h < 2; ++h) {
            const int qa = 2 * h, qb = 2 * h + 1;
            __m128i d0lo, d0hi, d1lo, d1hi;
            Distances8(ch[0][h], ch[1][h], ch[2][h], PerGroup(c0[qa].r, c0[qb].r),
                       PerGroup(c0[qa].g, c0[qb].g), PerGroup(c0[qa].b, c0[qb].b), d0lo, d0hi);
            Distances8(ch[0][h], ch[1][h], ch[2][h], PerGroup(c1[qa].r, c1[qb].r),
                       PerGroup(c1[qa].g, c1[qb].g), PerGroup(c1[qa].b, c1[qb].b), d1lo, d1hi);
            const __m128i nearer1 =
                _mm_packs_epi32(_mm_cmpgt_epi32(d0lo, d1lo), _mm_cmpgt_epi32(d0hi, d1hi));
            const unsigned bits = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_packs_epi16(nearer1, _mm_setzero_si128())));
            const int n1[2] = {kBitCount4[bits & 0xF], kBitCount4[(bits >> 4) & 0xF]};
            int s1[3][2];
            for (int c = 0; c < 3; ++c)
                GroupSums(_mm_and_si128(ch[c][h], nearer1), s1[c][0], s1[c][1]);
            for (int g = 0; g < 2; ++g) {
                const int q = 2 * h + g, n0 = 4 - n1[g];
                if (n0)
                    c0[q] = {RoundedMean(total[0][q] - s1[0][g], n0),
                             RoundedMean(total[1][q] - s1[1][g], n0),
                             RoundedMean(total[2][q] - s1[2][g], n0)};
                if (n1[g])
                    c1[q] = {RoundedMean(s1[0][g], n1[g]), RoundedMean(s1[1][g], n1[g]),
                             RoundedMean(s1[2][g], n1[g])};
            }
        }
    }

    TQuantColour qa[4], qb[4];
    for (int q = 0; q < 4; ++q) {
        if (flat[q]) {
            qa[q] = qb[q] = Quantise(px[0][4 * q], px[1][4 * q], px[2][4 * q]);
        } else {
            qa[q] = Quantise(c0[q].r, c0[q].g, c0[q].b);
            qb[q] = Quantise(c1[q].r, c1[q].g, c1[q].b);
        }
    }

    TEight e{0, {}, 0};
    __m128i err = _mm_setzero_si128();
    for (int h = 0; h < 2; ++h) {
        const int q0 = 2 * h, q1 = 2 * h + 1;
        __m128i dalo, dahi, dblo, dbhi;
        Distances8(ch[0][h], ch[1][h], ch[2][h], PerGroup(qa[q0].shown.r, qa[q1].shown.r),
                   PerGroup(qa[q0].shown.g, qa[q1].shown.g),
                   PerGroup(qa[q0].shown.b, qa[q1].shown.b), dalo, dahi);
        Distances8(ch[0][h], ch[1][h], ch[2][h], PerGroup(qb[q0].shown.r, qb[q1].shown.r),
                   PerGroup(qb[q0].shown.g, qb[q1].shown.g),
                   PerGroup(qb[q0].shown.b, qb[q1].shown.b), dblo, dbhi);
        const __m128i bLo = _mm_cmpgt_epi32(dalo, dblo), bHi = _mm_cmpgt_epi32(dahi, dbhi);
        err =
            _mm_add_epi32(err, _mm_or_si128(_mm_and_si128(bLo, dblo), _mm_andnot_si128(bLo, dalo)));
        err =
            _mm_add_epi32(err, _mm_or_si128(_mm_and_si128(bHi, dbhi), _mm_andnot_si128(bHi, dahi)));
        const unsigned showsB = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_packs_epi16(_mm_packs_epi32(bLo, bHi), _mm_setzero_si128())));
        for (int g = 0; g < 2; ++g) {
            const int q = 2 * h + g;
            TPair p{qa[q].word, qb[q].word, ~(showsB >> (4 * g)) & 0xFu, 0};
            OrderPair(p, 4);
            for (int k = 0; k < 4; ++k)
                if (p.maskA & (1u << k))
                    e.flags |= static_cast<std::uint16_t>(1u << kQuadrants[q][k]);
            e.colours[2 * q] = p.a;
            e.colours[2 * q + 1] = p.b;
        }
    }
    e.err = HorizontalSum32(err);
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
                const int err = SkipError(blk, pic, width);
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
                    two = ChoosePair16(blk);
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

} // namespace media
