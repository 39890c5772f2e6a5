#include "media/ColourConvert.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace media {

namespace {

// BT.709 (Kr 0.2126, Kb 0.0722) scaled to limited range, times 2^15. Each set of chroma weights
// sums to 0 so that grey gives exactly 128, and the luma weights to 219/255, so that white gives
// exactly 235 and the results never leave the ranges.
constexpr int kYR = 5983, kYG = 20127, kYB = 2032;
constexpr int kCbR = -3298, kCbG = -11094, kCbB = 14392;
constexpr int kCrR = 14392, kCrG = -13072, kCrB = -1320;
// Offsets and rounding: luma of one pixel, chroma of the sum of four.
constexpr int kYBias = (16 << 15) + (1 << 14);
constexpr int kCBias = (128 << 17) + (1 << 16);

struct TRgb {
    int r, g, b;
};

// 5-bit channels widened as decoders widen them: the top bits repeat in the low ones.
inline int Widen5(int v) {
    return v << 3 | v >> 2;
}

template <int Bits> inline TRgb PixelAt(const std::uint8_t* row, int x) {
    if constexpr (Bits == 16) {
        const int w = row[2 * x] | row[2 * x + 1] << 8;
        return {Widen5(w >> 10 & 31), Widen5(w >> 5 & 31), Widen5(w & 31)};
    } else {
        const std::uint8_t* p = row + x * (Bits / 8);
        return {p[2], p[1], p[0]};
    }
}

inline std::uint8_t Luma(TRgb p) {
    return static_cast<std::uint8_t>((kYR * p.r + kYG * p.g + kYB * p.b + kYBias) >> 15);
}

// Cb and Cr of four pixels' channel sums.
inline void Chroma(TRgb s, std::uint8_t* u, std::uint8_t* v) {
    *u = static_cast<std::uint8_t>((kCbR * s.r + kCbG * s.g + kCbB * s.b + kCBias) >> 17);
    *v = static_cast<std::uint8_t>((kCrR * s.r + kCrG * s.g + kCrB * s.b + kCBias) >> 17);
}

// One pixel at a time from column x on, for a pair of rows (the same row twice for an odd last
// one, whose luma is then written once).
template <int Bits>
void RowPairPlain(const std::uint8_t* top, const std::uint8_t* bottom, int x, int width,
                  std::uint8_t* yTop, std::uint8_t* yBottom, std::uint8_t* u, std::uint8_t* v) {
    for (int i = x; i < width; ++i) {
        yTop[i] = Luma(PixelAt<Bits>(top, i));
        if (yBottom) yBottom[i] = Luma(PixelAt<Bits>(bottom, i));
    }
    for (int c = x / 2; c < (width + 1) / 2; ++c) {
        const int left = 2 * c, right = left + 1 < width ? left + 1 : left;
        const TRgb a = PixelAt<Bits>(top, left), b = PixelAt<Bits>(top, right);
        const TRgb d = PixelAt<Bits>(bottom, left), e = PixelAt<Bits>(bottom, right);
        Chroma({a.r + b.r + d.r + e.r, a.g + b.g + d.g + e.g, a.b + b.b + d.b + e.b}, u + c, v + c);
    }
}

#ifdef __SSE2__

// Sixteen pixels as eight registers of two pixels each: 16-bit lanes B, G, R, and one whose value
// does not matter (its weight is 0).
template <int Bits> inline void Load16(const std::uint8_t* p, __m128i out[8]) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (Bits == 32) {
        for (int i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            out[2 * i] = _mm_unpacklo_epi8(v, zero);
            out[2 * i + 1] = _mm_unpackhi_epi8(v, zero);
        }
    } else if constexpr (Bits == 24) {
        for (int i = 0; i < 4; ++i) {
            // Four pixels are 12 bytes; the last four are loaded from 4 bytes earlier so that no
            // byte past the 48 is read.
            __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + (i < 3 ? 12 * i : 32)));
            if (i == 3) v = _mm_srli_si128(v, 4);
            const __m128i a = _mm_unpacklo_epi8(v, zero); // B0 G0 R0 B1 G1 R1 B2 G2
            const __m128i b = _mm_unpackhi_epi8(v, zero); // R2 B3 G3 R3 ...
            out[2 * i] = _mm_unpacklo_epi64(a, _mm_srli_si128(a, 6));
            const __m128i c = _mm_or_si128(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4));
            out[2 * i + 1] = _mm_unpacklo_epi64(c, _mm_srli_si128(c, 6));
        }
    } else {
        const __m128i five = _mm_set1_epi16(31);
        for (int i = 0; i < 2; ++i) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            auto widen = [](__m128i c) {
                return _mm_or_si128(_mm_slli_epi16(c, 3), _mm_srli_epi16(c, 2));
            };
            const __m128i b = widen(_mm_and_si128(w, five));
            const __m128i g = widen(_mm_and_si128(_mm_srli_epi16(w, 5), five));
            const __m128i r = widen(_mm_and_si128(_mm_srli_epi16(w, 10), five));
            const __m128i bgLow = _mm_unpacklo_epi16(b, g), rLow = _mm_unpacklo_epi16(r, zero);
            const __m128i bgHigh = _mm_unpackhi_epi16(b, g), rHigh = _mm_unpackhi_epi16(r, zero);
            out[4 * i] = _mm_unpacklo_epi32(bgLow, rLow);
            out[4 * i + 1] = _mm_unpackhi_epi32(bgLow, rLow);
            out[4 * i + 2] = _mm_unpacklo_epi32(bgHigh, rHigh);
            out[4 * i + 3] = _mm_unpackhi_epi32(bgHigh, rHigh);
        }
    }
}

// The weighted sums of two registers after _mm_madd_epi16 (B*wB + G*wG, R*wR per pixel): the four
// pixels' totals.
inline __m128i PairSums(__m128i a, __m128i b) {
    const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}

inline void StoreLuma16(const __m128i px[8], std::uint8_t* out) {
    const __m128i weights = _mm_setr_epi16(kYB, kYG, kYR, 0, kYB, kYG, kYR, 0);
    const __m128i bias = _mm_set1_epi32(kYBias);
    __m128i sums[4];
    for (int i = 0; i < 4; ++i) {
        const __m128i s =
            PairSums(_mm_madd_epi16(px[2 * i], weights), _mm_madd_epi16(px[2 * i + 1], weights));
        sums[i] = _mm_srai_epi32(_mm_add_epi32(s, bias), 15);
    }
    const __m128i low = _mm_packs_epi32(sums[0], sums[1]), high = _mm_packs_epi32(sums[2], sums[3]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(low, high));
}

// Eight chroma samples of one plane from the 2 x 2 sums, two samples to a register.
inline void StoreChroma8(const __m128i sums[4], __m128i weights, std::uint8_t* out) {
    const __m128i bias = _mm_set1_epi32(kCBias);
    __m128i c[2];
    for (int i = 0; i < 2; ++i) {
        const __m128i s = PairSums(_mm_madd_epi16(sums[2 * i], weights),
                                   _mm_madd_epi16(sums[2 * i + 1], weights));
        c[i] = _mm_srai_epi32(_mm_add_epi32(s, bias), 17);
    }
    const __m128i packed = _mm_packs_epi32(c[0], c[1]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(packed, packed));
}

// Sixteen columns at a time; returns the first column it did not convert.
template <int Bits>
int RowPairSse2(const std::uint8_t* top, const std::uint8_t* bottom, int width, std::uint8_t* yTop,
                std::uint8_t* yBottom, std::uint8_t* u, std::uint8_t* v) {
    const __m128i cbWeights = _mm_setr_epi16(kCbB, kCbG, kCbR, 0, kCbB, kCbG, kCbR, 0);
    const __m128i crWeights = _mm_setr_epi16(kCrB, kCrG, kCrR, 0, kCrB, kCrG, kCrR, 0);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i a[8], b[8];
        Load16<Bits>(top + x * (Bits / 8), a);
        Load16<Bits>(bottom + x * (Bits / 8), b);
        StoreLuma16(a, yTop + x);
        if (yBottom) StoreLuma16(b, yBottom + x);
        // Each register's two pixels are one chroma sample's columns: add the rows, then the
        // two pixels, and put two samples in each register.
        __m128i block[8];
        for (int i = 0; i < 8; ++i) {
            const __m128i s = _mm_add_epi16(a[i], b[i]);
            block[i] = _mm_add_epi16(s, _mm_srli_si128(s, 8));
        }
        __m128i sums[4];
        for (int i = 0; i < 4; ++i)
            sums[i] = _mm_unpacklo_epi64(block[2 * i], block[2 * i + 1]);
        StoreChroma8(sums, cbWeights, u + x / 2);
        StoreChroma8(sums, crWeights, v + x / 2);
    }
    return x;
}

#endif

template <int Bits>
void Convert(const std::uint8_t* dib, int width, int height, const TI420Planes& out,
             TConvertPath path) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * Bits + 31) / 32 * 4;
    // Row r from the top of the picture; the DIB stores the bottom row first.
    auto row = [&](int r) { return dib + static_cast<std::size_t>(height - 1 - r) * rowBytes; };
    for (int pair = 0; pair < (height + 1) / 2; ++pair) {
        const int r = 2 * pair;
        const bool two = r + 1 < height;
        const std::uint8_t* top = row(r);
        const std::uint8_t* bottom = two ? row(r + 1) : top;
        std::uint8_t* yTop = out.y + r * out.yStride;
        std::uint8_t* yBottom = two ? yTop + out.yStride : nullptr;
        std::uint8_t* u = out.u + pair * out.uStride;
        std::uint8_t* v = out.v + pair * out.vStride;
        int x = 0;
#ifdef __SSE2__
        if (path == TConvertPath::Fastest)
            x = RowPairSse2<Bits>(top, bottom, width, yTop, yBottom, u, v);
#else
        (void)path;
#endif
        RowPairPlain<Bits>(top, bottom, x, width, yTop, yBottom, u, v);
    }
}

} // namespace

bool DibToI420(const std::uint8_t* dib, int width, int height, int bitsPerPixel,
               const TI420Planes& out, TConvertPath path) {
    if (!dib || width <= 0 || height <= 0 || !out.y || !out.u || !out.v) return false;
    switch (bitsPerPixel) {
    case 32:
        Convert<32>(dib, width, height, out, path);
        return true;
    case 24:
        Convert<24>(dib, width, height, out, path);
        return true;
    case 16:
        Convert<16>(dib, width, height, out, path);
        return true;
    default:
        return false;
    }
}

void MakeOpaque32(std::uint8_t* pixels, std::size_t count) {
    // Whole little-endian words, which the compiler can do several at a time.
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, pixels + 4 * i, 4);
        v |= 0xFF000000u;
        std::memcpy(pixels + 4 * i, &v, 4);
    }
}

bool ConvertUsesSse2() {
#ifdef __SSE2__
    return true;
#else
    return false;
#endif
}

} // namespace media
