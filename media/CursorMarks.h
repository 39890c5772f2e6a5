// CursorMarks: the cursor highlight and the click rings drawn into recorded frames: their size,
// colour and timing, and blending them into a frame's pixel rows.
#pragma once

#include "core/Colour.h"
#include "core/Geometry.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace media {

// The highlight: a half-transparent yellow disc, 40 px across at 96 dpi.
inline constexpr core::Rgb kHighlightColour{255, 255, 0};
inline constexpr int kHighlightAlpha = 120;
int HighlightRadius(int dpi);

enum class MouseButton : std::uint8_t { Left, Right };

// A ring lives this long in the recording's time, growing and fading out.
inline constexpr std::uint32_t kRingLifeMs = 400;

struct RingStage {
    int radius = 0;    // to the ring's outer edge, in pixels
    int thickness = 0; // in pixels
    int alpha = 0;     // 0 (gone) to 255
    core::Rgb colour;
};

// The ring of a press of `button` `ageMs` after it, at `dpi`; alpha 0 once its life is over.
RingStage RingAt(MouseButton button, std::uint32_t ageMs, int dpi);

// A press in the recording's time (ms since its start; negative for one before it).
struct Click {
    core::Point at; // in frame pixels
    MouseButton button = MouseButton::Left;
    std::int64_t time = 0;
};

struct Ring {
    core::Point at;
    RingStage stage;
};

// The presses whose rings still show. A press is seen in at least one frame whatever the
// capture interval: the first frame after it draws its first stage, however long ago it was.
class ClickRings {
public:
    static constexpr std::size_t kMaxRings = 8;

    // A press outside the frame of this size leaves no ring; the oldest ring makes room when all
    // places are taken.
    void Add(const Click& click, core::Size frame);
    // The rings of the frame at recording time `now`; rings past their life are dropped.
    std::size_t Frame(std::int64_t now, int dpi, std::array<Ring, kMaxRings>& rings);
    bool Empty() const { return count_ == 0; }

private:
    struct Entry {
        Click click;
        bool drawn = false;
    };
    std::array<Entry, kMaxRings> entries_{};
    std::size_t count_ = 0;
};

// A bottom-up DIB's pixels (rows padded to 4 bytes) at 16 (RGB555), 24 or 32 bits per pixel.
struct DibPixels {
    std::uint8_t* bits = nullptr;
    int width = 0, height = 0, bitsPerPixel = 0;
};

// Blends `colour` at up to `alpha` over the pixels between the circles of radius `inner` and
// `outer` round `centre` (top-down frame coordinates; inner 0 makes a disc). Coverage falls
// off over `feather` pixels at each edge. Only pixels inside the frame are touched.
void BlendAnnulus(const DibPixels& dib, core::Point centre, double inner, double outer,
                  double feather, core::Rgb colour, int alpha);

// The highlight under the hot spot and a ring at its place, as drawn into a frame.
void BlendHighlight(const DibPixels& dib, core::Point hotSpot, int dpi);
void BlendRing(const DibPixels& dib, const Ring& ring);

} // namespace media
