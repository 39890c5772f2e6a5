// SoundMeter: a small level meter of the recording's sound sources, one bar each.
#pragma once

#include "forms/Controls.h"

#include <array>

namespace ui {

// One row per source, top to bottom: a green bar as long as the source's level (on a decibel
// scale), a red one across the row while the source is missing, nothing while it is off.
class TSoundMeter : public forms::TCustomControl {
public:
    enum class TRow { Off, Running, Missing };
    static constexpr int kRows = 2;

    struct Args {
        core::Rect bounds{};
        forms::TAnchors anchors = forms::akLeft | forms::akTop;
    };
    TSoundMeter(forms::TWinControl* parent, const Args& a);
    std::wstring ClassName() const override { return L"TSoundMeter"; }

    // Repaints when the shown length or state changes.
    void SetRow(int row, TRow state, float level);
    // The bar's length in pixels for a peak level (0..1) on a row `width` pixels long: -60 dB and
    // below is empty, full scale fills it.
    static int BarLength(float level, int width);

protected:
    void Paint(forms::TCanvas& canvas) override;

private:
    struct TShown {
        TRow state = TRow::Off;
        int length = 0;
        bool operator==(const TShown&) const = default;
    };
    std::array<TShown, kRows> rows_{};
};

} // namespace ui
