// The options dialog on a real engine: what it shows for the engine's values, what OK, Cancel
// and a bad key-frame text write back. The dialog is answered from inside its modal loop.
#include "options/optdlg.h"

#include "TestCompressors.h"
#include "core/Exception.h"
#include "engine/scrcam.h"
#include "settings/libIniFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace forms;
using options::TOptionDlg;

namespace {

void PostKey(WORD key) {
    PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
    PostMessageW(GetFocus(), WM_KEYUP, key, 0xC0000001);
}

class OptionDlgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Application.Initialize(); }
    void SetUp() override {
        cam_ = std::make_unique<engine::TScreenCam>();
        engine::ScreenCam = cam_.get();
        dlg_.reset(new TOptionDlg);
    }
    void TearDown() override {
        dlg_.reset();
        engine::ScreenCam = nullptr;
    }
    // Opens the dialog; `inside` runs once it is up and must end it (Enter, Escape).
    void Edit(std::function<void()> inside) {
        Application.Queue(std::move(inside));
        dlg_->EditOptions();
    }

    std::unique_ptr<engine::TScreenCam> cam_;
    TFormPtr<TOptionDlg> dlg_;
};

TEST_F(OptionDlgTest, TheEnginesDefaultsShowAndOkStoresTheQualityOfItsThumb) {
    cam_->EnumCompressors();
    const int count = cam_->CompressorCount;
    bool checked = false;
    Edit([&] {
        EXPECT_TRUE(IsWindowVisible(dlg_->Handle()));
        EXPECT_EQ(dlg_->ComboBoxCompressor->ItemIndex(), count);
        EXPECT_EQ(dlg_->ComboBoxCompressor->Item(count), L"No Compression");
        EXPECT_EQ(dlg_->TrackBarQuality->Position(), 66);
        EXPECT_EQ(dlg_->LabelQuality->Caption(), L"66");
        EXPECT_EQ(dlg_->EditKeyFrames->Text(), L"5");
        EXPECT_EQ(dlg_->TrackBarRecord->Position(), 419);
        EXPECT_EQ(dlg_->labelmspFrecord->Caption(), L"100 ms");
        EXPECT_EQ(dlg_->TrackBarPlayback->Position(), 184);
        EXPECT_EQ(dlg_->labelFPSPlayback->Caption(), L"10 fps");
        checked = true;
        PostKey(VK_RETURN); // the default button: OK
    });
    EXPECT_TRUE(checked);
    EXPECT_FALSE(IsWindowVisible(dlg_->Handle()));
    EXPECT_EQ(cam_->Quality, 6600);
    EXPECT_EQ(cam_->CompressorIndex, -1);
    EXPECT_EQ(cam_->KeyFrameRate, 5);
    EXPECT_EQ(cam_->CaptureInterval, 100);
    EXPECT_EQ(cam_->PlaybackRate, 10);

    // Any thumb position up to 37 is 1 ms; the next opening puts the thumb at 1.
    Edit([&] {
        dlg_->TrackBarRecord->SetPosition(30);
        EXPECT_EQ(dlg_->labelmspFrecord->Caption(), L"1 ms");
        PostKey(VK_RETURN);
    });
    EXPECT_EQ(cam_->CaptureInterval, 1);
    Edit([&] {
        EXPECT_EQ(dlg_->TrackBarRecord->Position(), 1);
        PostKey(VK_ESCAPE);
    });
}

TEST_F(OptionDlgTest, CancelAfterMovingEveryControlKeepsEveryValue) {
    enginetest::TTestCompressors compressors;
    ASSERT_NE(compressors.Install(mmioFOURCC('Q', 'O', 'P', 'T'), {}), nullptr);
    cam_->EnumCompressors();
    const int count = cam_->CompressorCount;
    int ours = -1;
    for (int i = 0; i < count; ++i)
        if (cam_->Compressors[static_cast<std::size_t>(i)].fccHandler ==
            mmioFOURCC('Q', 'O', 'P', 'T'))
            ours = i;
    ASSERT_GE(ours, 0);
    cam_->CompressorIndex = ours;
    cam_->CaptureInterval = 95;
    Edit([&] {
        // An in-process compressor is listed by its own description.
        EXPECT_EQ(dlg_->ComboBoxCompressor->ItemIndex(), ours);
        EXPECT_EQ(dlg_->ComboBoxCompressor->Item(ours).rfind(L"Test compressor ", 0), 0u);
        // A key on a bar moves its thumb, and its label follows.
        SendMessageW(dlg_->TrackBarPlayback->Handle(), WM_KEYDOWN, VK_END, 0);
        EXPECT_EQ(dlg_->TrackBarPlayback->Position(), 1000);
        EXPECT_EQ(dlg_->labelFPSPlayback->Caption(), L"50 fps");
        dlg_->ComboBoxCompressor->SetItemIndex(count);
        dlg_->TrackBarQuality->SetPosition(10);
        dlg_->TrackBarRecord->SetPosition(900);
        dlg_->EditKeyFrames->SetText(L"-3");
        PostKey(VK_ESCAPE);
    });
    EXPECT_EQ(cam_->CompressorIndex, ours);
    EXPECT_EQ(cam_->Quality, 6550);
    EXPECT_EQ(cam_->KeyFrameRate, 5);
    EXPECT_EQ(cam_->CaptureInterval, 95);
    EXPECT_EQ(cam_->PlaybackRate, 10);

    // OK replaces an interval the bar cannot show by the one of its thumb.
    Edit([&] { PostKey(VK_RETURN); });
    EXPECT_EQ(cam_->CaptureInterval, 94);
}

TEST_F(OptionDlgTest, AKeyFrameTextThatIsNoIntegerFailsAfterCompressorAndQuality) {
    cam_->CompressorIndex = 1; // beyond the one item of an empty catalogue: no selection
    // EditOptions is left by the error; here it is caught where the application would show it.
    try {
        Edit([&] {
            EXPECT_EQ(dlg_->ComboBoxCompressor->Count(), 1);
            EXPECT_EQ(dlg_->ComboBoxCompressor->ItemIndex(), -1);
            dlg_->TrackBarQuality->SetPosition(30);
            dlg_->TrackBarRecord->SetPosition(1000);
            dlg_->EditKeyFrames->SetText(L"abc");
            PostKey(VK_RETURN);
        });
        FAIL() << "no error";
    } catch (const core::Exception& e) {
        EXPECT_EQ(e.Message(), L"'abc' は整数ではありません");
    }
    EXPECT_EQ(cam_->CompressorIndex, -1);
    EXPECT_EQ(cam_->Quality, 3000);
    EXPECT_EQ(cam_->KeyFrameRate, 5);
    EXPECT_EQ(cam_->CaptureInterval, 100);
    EXPECT_EQ(cam_->PlaybackRate, 10);
}

TEST_F(OptionDlgTest, KeepWritesTheOptionsTheNextStartReadsAndOffRemovesThem) {
    wchar_t tmp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring base = std::wstring(tmp) + L"quarnelby_keep";
    DeleteFileW((base + L".ini").c_str());
    settings::WriteIniString(base, L"FORM", L"MainLeft", L"40");
    dlg_->IniBaseName = base;
    cam_->EnumCompressors();
    const int h264 = cam_->CompressorCount - 1; // the built-in encoder is listed last
    cam_->Services.CaptureDevices = [] {
        return std::vector<std::wstring>{L"Mic A", L"Monitor of Null Output"};
    };
    Edit([&] {
        EXPECT_FALSE(dlg_->CheckBoxKeep->Checked());
        EXPECT_FALSE(dlg_->LabelSoundRule->Visible()); // 100 ms x 10 fps: real time
        dlg_->ComboBoxCompressor->SetItemIndex(h264);
        dlg_->TrackBarRecord->SetPosition(1000);
        dlg_->UpdateLabels();
        EXPECT_TRUE(dlg_->LabelSoundRule->Visible()); // a minute a frame takes no sound
        dlg_->CheckBoxClicks->SetChecked(true);
        dlg_->CheckBoxMicrophone->SetChecked(true);
        EXPECT_EQ(dlg_->ComboBoxMicrophone->Item(0), L"Default");
        dlg_->ComboBoxMicrophone->SetItemIndex(2);
        dlg_->CheckBoxSystemSound->SetChecked(true);
        dlg_->CheckBoxKeep->SetChecked(true);
        PostKey(VK_RETURN);
    });
    EXPECT_EQ(settings::ReadIniString(base, L"OPTIONS", L"Compressor", L""), L"H264");
    engine::TScreenCam next; // the next start
    options::LoadKeptOptions(base, next);
    EXPECT_EQ(next.CompressorIndex, h264);
    EXPECT_EQ(next.CaptureInterval, 60000);
    EXPECT_TRUE(next.ShowClicks);
    EXPECT_TRUE(next.RecordMicrophone && next.RecordSystemSound);
    EXPECT_EQ(next.MicrophoneDevice(), L"Monitor of Null Output");

    cam_->Services.CaptureDevices = [] { return std::vector<std::wstring>{L"Mic A"}; };
    Edit([&] {
        EXPECT_TRUE(dlg_->CheckBoxKeep->Checked());
        // The chosen device, unplugged since, stays chosen.
        EXPECT_EQ(dlg_->ComboBoxMicrophone->Item(dlg_->ComboBoxMicrophone->ItemIndex()),
                  L"Monitor of Null Output");
        dlg_->CheckBoxKeep->SetChecked(false);
        PostKey(VK_RETURN);
    });
    EXPECT_FALSE(settings::IniSectionExists(base, L"OPTIONS"));
    EXPECT_EQ(settings::ReadIniString(base, L"FORM", L"MainLeft", L""), L"40");
    DeleteFileW((base + L".ini").c_str());
}

} // namespace
