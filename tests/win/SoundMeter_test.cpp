// The sound meter: a bar per source as long as its level on a decibel scale, red while missing.
#include "ui/SoundMeter.h"

#include "ControlTesting.h"

#include <gtest/gtest.h>

using namespace forms;
using ui::TSoundMeter;

namespace {

class TMeterForm : public TForm {
public:
    TSoundMeter* meter = nullptr;
    TMeterForm() : TForm({.bounds = {100, 100, 200, 100}}) {
        meter = Add<TSoundMeter>(this, {.bounds = {10, 10, 60, 12}});
        Loaded();
    }
};

TEST(SoundMeter, BarsFollowTheLevelInDecibelsAndAMissingSourceShowsRed) {
    EXPECT_EQ(TSoundMeter::BarLength(1.0f, 60), 60);
    EXPECT_EQ(TSoundMeter::BarLength(0.0316f, 60), 30); // -30 dB
    EXPECT_EQ(TSoundMeter::BarLength(0.0005f, 60), 0);  // below -60 dB
    EXPECT_EQ(TSoundMeter::BarLength(0.0f, 60), 0);

    Application.Initialize();
    TFormPtr<TMeterForm> form(new TMeterForm);
    form->Show();
    form->meter->SetRow(0, TSoundMeter::TRow::Running, 0.0316f);
    form->meter->SetRow(1, TSoundMeter::TRow::Missing, 1.0f);
    Pump();
    const TRendering shot(form->meter);
    EXPECT_EQ(shot.At(5, 2), RGB(0, 200, 0));     // the level's half of the microphone's row
    EXPECT_EQ(shot.At(45, 2), RGB(96, 96, 96));   // the rest of it
    EXPECT_EQ(shot.At(55, 8), RGB(220, 0, 0));    // the missing computer's sound, across
}

} // namespace
