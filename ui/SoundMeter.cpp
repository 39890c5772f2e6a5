#include "ui/SoundMeter.h"

#include <algorithm>
#include <cmath>

namespace ui {

using namespace forms;

TSoundMeter::TSoundMeter(TWinControl* parent, const Args& a) : TCustomControl(parent, a.bounds) {
    SetAnchors(a.anchors);
}

int TSoundMeter::BarLength(float level, int width) {
    if (!(level > 0.0f)) return 0;
    const double db = 20.0 * std::log10(static_cast<double>(std::min(level, 1.0f)));
    const double share = std::clamp((db + 60.0) / 60.0, 0.0, 1.0);
    return static_cast<int>(std::lround(share * width));
}

void TSoundMeter::SetRow(int row, TRow state, float level) {
    if (row < 0 || row >= kRows) return;
    const TShown shown{state, state == TRow::Running ? BarLength(level, Width()) : 0};
    if (rows_[static_cast<std::size_t>(row)] == shown) return;
    rows_[static_cast<std::size_t>(row)] = shown;
    Invalidate();
}

void TSoundMeter::Paint(TCanvas& canvas) {
    const int rowHeight = Height() / kRows;
    canvas.SetBrushColor(RGBColor(219, 243, 218));
    canvas.FillRect({0, 0, Width(), Height()});
    for (int i = 0; i < kRows; ++i) {
        const TShown& row = rows_[static_cast<std::size_t>(i)];
        const int top = i * rowHeight;
        if (row.state == TRow::Off) continue;
        canvas.SetBrushColor(RGBColor(96, 96, 96));
        canvas.FillRect({0, top, Width(), rowHeight - 1});
        if (row.state == TRow::Missing) {
            canvas.SetBrushColor(RGBColor(220, 0, 0));
            canvas.FillRect({0, top, Width(), rowHeight - 1});
        } else if (row.length > 0) {
            canvas.SetBrushColor(RGBColor(0, 200, 0));
            canvas.FillRect({0, top, row.length, rowHeight - 1});
        }
    }
}

} // namespace ui
