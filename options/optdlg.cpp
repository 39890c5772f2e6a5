#include "options/optdlg.h"

#include "core/CaptureRules.h"
#include "core/Exception.h"
#include "core/IniValue.h"
#include "core/KeptOptions.h"
#include "core/OptionRules.h"
#include "engine/Catalogue.h"
#include "engine/scrcam.h"
#include "settings/libIniFile.h"
#include "ui/IMECtrl.h"

#include <optional>
#include <vector>

namespace options {

using namespace forms;

TOptionDlg* OptionDlg = nullptr;

namespace {

const std::wstring kOptionsSection = L"OPTIONS";

core::KeptOptions EngineOptions(const engine::TScreenCam& cam) {
    const std::int32_t index = cam.CompressorIndex;
    const ICINFO* entry = core::IndexInCatalogue(index, cam.CompressorCount)
                              ? &cam.Compressors[static_cast<std::size_t>(index)]
                              : nullptr;
    return {.compressor = entry ? core::FourCCText(entry->fccHandler) : L"",
            .compressorName = entry ? engine::EntryDescription(*entry) : L"",
            .quality = cam.Quality,
            .keyFrameRate = cam.KeyFrameRate,
            .captureInterval = cam.CaptureInterval,
            .playbackRate = cam.PlaybackRate,
            .drawCursor = cam.DrawCursor,
            .highlightCursor = cam.HighlightCursor,
            .showClicks = cam.ShowClicks,
            .microphone = cam.RecordMicrophone,
            .microphoneDevice = cam.MicrophoneDevice(),
            .systemSound = cam.RecordSystemSound};
}

void KeepOptions(const std::wstring& iniBase, const engine::TScreenCam& cam) {
    // Written afresh, so that no key of an earlier or garbled section is left behind.
    settings::EraseIniSection(iniBase, kOptionsSection);
    for (const auto& [key, text] : core::KeptOptionTexts(EngineOptions(cam)))
        settings::WriteIniString(iniBase, kOptionsSection, key, text);
}

} // namespace

void LoadKeptOptions(const std::wstring& iniBase, engine::TScreenCam& cam) {
    if (!settings::IniSectionExists(iniBase, kOptionsSection)) return;
    // The compressor is found by its code in the catalogue, which is otherwise built only when
    // the dialog opens.
    cam.EnumCompressors();
    const core::KeptOptions o = core::ReadKeptOptions(
        [&](const std::wstring& key) -> std::optional<std::wstring> {
            if (!settings::IniKeyExists(iniBase, kOptionsSection, key)) return std::nullopt;
            return settings::ReadIniString(iniBase, kOptionsSection, key, L"");
        },
        EngineOptions(cam));
    std::vector<core::CatalogueEntry> catalogue;
    for (std::int32_t i = 0; i < cam.CompressorCount; ++i) {
        const ICINFO& entry = cam.Compressors[static_cast<std::size_t>(i)];
        catalogue.push_back({entry.fccHandler, engine::EntryDescription(entry)});
    }
    cam.CompressorIndex = core::KeptCompressorIndex(o, catalogue, cam.CompressorIndex);
    cam.Quality = o.quality;
    cam.KeyFrameRate = o.keyFrameRate;
    cam.CaptureInterval = o.captureInterval;
    cam.PlaybackRate = o.playbackRate;
    cam.DrawCursor = o.drawCursor;
    cam.HighlightCursor = o.highlightCursor;
    cam.ShowClicks = o.showClicks;
    cam.RecordMicrophone = o.microphone;
    cam.SetMicrophoneDevice(o.microphoneDevice);
    cam.RecordSystemSound = o.systemSound;
}

TOptionDlg::TOptionDlg()
    : TForm({.caption = L"Options",
             .clientSize = core::Size{443, 499},
             .borderStyle = bsSingle,
             .borderIcons = biSystemMenu,
             .position = poScreenCenter,
             .font = TFont(L"MS Sans Serif", -11),
             .onCreate = [this](TObject* s) { FormCreate(s); }}) {
    auto handler = [this](void (TOptionDlg::*f)(TObject*)) {
        return [this, f](TObject* s) { (this->*f)(s); };
    };
    Compressor = Add<TGroupBox>(this, {.bounds = {8, 8, 425, 99}, .caption = L"Compressor"});
    ComboBoxCompressor = Add<TComboBox>(
        Compressor, {.bounds = {16, 24, 281, 21}, .cursor = crHandPoint, .tabOrder = 0});
    ButtonAbout =
        Add<ui::TdxButton>(Compressor, {.bounds = {342, 12, 75, 25},
                                        .caption = L"About",
                                        .tabOrder = 1,
                                        .visible = false,
                                        .onClick = handler(&TOptionDlg::ButtonAboutClick)});
    ButtonConfig =
        Add<ui::TdxButton>(Compressor, {.bounds = {342, 39, 75, 25},
                                        .caption = L"Configure",
                                        .tabOrder = 3,
                                        .visible = false,
                                        .onClick = handler(&TOptionDlg::ButtonConfigClick)});
    Label1 = Add<TLabel>(Compressor, {.bounds = {16, 70, 0, 0}, .caption = L"Quality:"});
    LabelQuality = Add<TLabel>(
        Compressor, {.bounds = {166, 53, 100, 13}, .autoSize = false, .alignment = taCenter});
    TrackBarQuality =
        Add<TTrackBar>(Compressor, {.bounds = {53, 67, 366, 25},
                                    .max = 100,
                                    .position = 50,
                                    .cursor = crHandPoint,
                                    .tabOrder = 2,
                                    .onChange = handler(&TOptionDlg::TrackBarQualityChange)});
    GroupBox1 = Add<TGroupBox>(
        this, {.bounds = {8, 114, 425, 113}, .caption = L"Recording parameters", .tabOrder = 1});
    Label6 = Add<TLabel>(GroupBox1, {.bounds = {24, 24, 0, 0}, .caption = L"1 ms / Frame"});
    Label4 = Add<TLabel>(GroupBox1, {.bounds = {344, 24, 0, 0}, .caption = L"1 min. / Frame"});
    labelmspFrecord = Add<TLabel>(
        GroupBox1, {.bounds = {166, 25, 100, 13}, .autoSize = false, .alignment = taCenter});
    TrackBarRecord =
        Add<TTrackBar>(GroupBox1, {.bounds = {16, 40, 401, 22},
                                   .min = 1,
                                   .max = 1000,
                                   .position = 50,
                                   .cursor = crHandPoint,
                                   .tabOrder = 1,
                                   .onChange = handler(&TOptionDlg::TrackBarPlaybackChange)});
    Label2 = Add<TLabel>(GroupBox1, {.bounds = {16, 81, 0, 0}, .caption = L"Set key frame rate"});
    EditKeyFrames =
        Add<TEdit>(GroupBox1, {.bounds = {115, 76, 65, 21}, .imeMode = imClose, .tabOrder = 0});
    Label3 = Add<TLabel>(GroupBox1, {.bounds = {195, 81, 0, 0}, .caption = L"frames"});
    GroupBox2 = Add<TGroupBox>(
        this, {.bounds = {8, 234, 425, 73}, .caption = L"Playback framerate", .tabOrder = 4});
    Label5 = Add<TLabel>(GroupBox2, {.bounds = {24, 16, 0, 0}, .caption = L"1 fps"});
    Label7 = Add<TLabel>(GroupBox2, {.bounds = {384, 16, 0, 0}, .caption = L"50 fps"});
    labelFPSPlayback = Add<TLabel>(
        GroupBox2, {.bounds = {166, 17, 100, 13}, .autoSize = false, .alignment = taCenter});
    TrackBarPlayback =
        Add<TTrackBar>(GroupBox2, {.bounds = {16, 32, 401, 22},
                                   .min = 1,
                                   .max = 1000,
                                   .position = 50,
                                   .cursor = crHandPoint,
                                   .onChange = handler(&TOptionDlg::TrackBarPlaybackChange)});
    btnOK = Add<ui::TdxButton>(this, {.bounds = {271, 466, 75, 25},
                                      .caption = L"OK",
                                      .cursor = crHandPoint,
                                      .tabOrder = 2,
                                      .isDefault = true,
                                      .modalResult = mrOk});
    btnCan = Add<ui::TdxButton>(this, {.bounds = {357, 466, 75, 25},
                                       .caption = L"Cancel",
                                       .cursor = crHandPoint,
                                       .tabOrder = 3,
                                       .cancel = true,
                                       .modalResult = mrCancel});
    // Below the existing groups, after them in the tab order.
    CursorGroup =
        Add<TGroupBox>(this, {.bounds = {8, 314, 425, 49}, .caption = L"Cursor", .tabOrder = 5});
    CheckBoxDrawCursor = Add<TCheckBox>(
        CursorGroup, {.bounds = {16, 21, 120, 17}, .caption = L"Draw the cursor", .tabOrder = 0});
    CheckBoxHighlight = Add<TCheckBox>(
        CursorGroup,
        {.bounds = {148, 21, 140, 17}, .caption = L"Highlight the cursor", .tabOrder = 1});
    CheckBoxClicks = Add<TCheckBox>(
        CursorGroup, {.bounds = {300, 21, 110, 17}, .caption = L"Show clicks", .tabOrder = 2});
    SoundGroup =
        Add<TGroupBox>(this, {.bounds = {8, 370, 425, 89}, .caption = L"Sound", .tabOrder = 6});
    CheckBoxMicrophone = Add<TCheckBox>(
        SoundGroup,
        {.bounds = {16, 22, 150, 17}, .caption = L"Record the microphone", .tabOrder = 0});
    ComboBoxMicrophone = Add<TComboBox>(
        SoundGroup, {.bounds = {170, 20, 247, 21}, .cursor = crHandPoint, .tabOrder = 1});
    CheckBoxSystemSound = Add<TCheckBox>(
        SoundGroup,
        {.bounds = {16, 46, 250, 17}, .caption = L"Record the computer's sound", .tabOrder = 2});
    LabelSoundRule = Add<TLabel>(
        SoundGroup, {.bounds = {16, 68, 401, 13},
                     .caption = L"No sound at this speed: capture interval x playback rate "
                                L"must be 900 to 1100 (real time).",
                     .autoSize = false});
    CheckBoxKeep = Add<TCheckBox>(
        this, {.bounds = {16, 470, 180, 17}, .caption = L"Keep these options", .tabOrder = 7});
    Loaded();
}

void TOptionDlg::FormCreate(TObject*) {
    ui::AssignImeName(*this);
    ui::ReplaceCursor(*this, crHandPoint, 1);
}

void TOptionDlg::EditOptions() {
    engine::TScreenCam& cam = *engine::ScreenCam;
    ComboBoxCompressor->Clear();
    const int count = cam.CompressorCount;
    for (int i = 0; i < count; ++i)
        ComboBoxCompressor->AddItem(
            engine::EntryDescription(cam.Compressors[static_cast<std::size_t>(i)]));
    ComboBoxCompressor->AddItem(L"No Compression");
    const int index = cam.CompressorIndex;
    ComboBoxCompressor->SetItemIndex(index < 0 ? count : index);
    TrackBarRecord->SetPosition(
        core::CaptureIntervalToPosition(cam.CaptureInterval, TrackBarRecord->Max()));
    TrackBarPlayback->SetPosition(
        core::PlaybackRateToPosition(cam.PlaybackRate, TrackBarPlayback->Max()));
    EditKeyFrames->SetText(std::to_wstring(cam.KeyFrameRate.load()));
    TrackBarQuality->SetPosition(core::QualityToPosition(cam.Quality, TrackBarQuality->Max()));
    CheckBoxDrawCursor->SetChecked(cam.DrawCursor);
    CheckBoxHighlight->SetChecked(cam.HighlightCursor);
    CheckBoxClicks->SetChecked(cam.ShowClicks);
    CheckBoxMicrophone->SetChecked(cam.RecordMicrophone);
    CheckBoxSystemSound->SetChecked(cam.RecordSystemSound);
    FillMicrophones(cam.MicrophoneDevice());
    CheckBoxKeep->SetChecked(!IniBaseName.empty() &&
                             settings::IniSectionExists(IniBaseName, kOptionsSection));
    // A thumb that did not move raised no change: the labels follow the thumbs all the same.
    UpdateLabels();
    UpdateCompressorButtons();
    if (ShowModal() != mrOk) return;

    const int selected = ComboBoxCompressor->ItemIndex();
    cam.CompressorIndex = selected == count ? -1 : selected;
    cam.Quality = core::PositionToQuality(TrackBarQuality->Position(), TrackBarQuality->Max());
    const std::wstring keyFrames = EditKeyFrames->Text();
    const std::optional<std::int32_t> rate = core::ParseIniInteger(keyFrames);
    if (!rate) throw core::Exception(core::FormatMessageS(L"'%s' は整数ではありません", keyFrames));
    cam.KeyFrameRate = *rate;
    cam.CaptureInterval =
        core::PositionToCaptureInterval(TrackBarRecord->Position(), TrackBarRecord->Max());
    cam.PlaybackRate =
        core::PositionToPlaybackRate(TrackBarPlayback->Position(), TrackBarPlayback->Max());
    cam.DrawCursor = CheckBoxDrawCursor->Checked();
    cam.HighlightCursor = CheckBoxHighlight->Checked();
    cam.ShowClicks = CheckBoxClicks->Checked();
    cam.RecordMicrophone = CheckBoxMicrophone->Checked();
    const int device = ComboBoxMicrophone->ItemIndex();
    cam.SetMicrophoneDevice(device > 0 ? ComboBoxMicrophone->Item(device) : L"");
    cam.RecordSystemSound = CheckBoxSystemSound->Checked();
    if (IniBaseName.empty()) return;
    if (CheckBoxKeep->Checked())
        KeepOptions(IniBaseName, cam);
    else
        settings::EraseIniSection(IniBaseName, kOptionsSection);
}

void TOptionDlg::UpdateLabels() {
    labelmspFrecord->SetCaption(core::CaptureIntervalLabel(
        core::PositionToCaptureInterval(TrackBarRecord->Position(), TrackBarRecord->Max())));
    labelFPSPlayback->SetCaption(core::PlaybackRateLabel(
        core::PositionToPlaybackRate(TrackBarPlayback->Position(), TrackBarPlayback->Max())));
    LabelQuality->SetCaption(std::to_wstring(TrackBarQuality->Position()));
    LabelSoundRule->SetVisible(!core::SoundRecordable(
        core::PositionToCaptureInterval(TrackBarRecord->Position(), TrackBarRecord->Max()),
        core::PositionToPlaybackRate(TrackBarPlayback->Position(), TrackBarPlayback->Max())));
}

void TOptionDlg::FillMicrophones(const std::wstring& chosen) {
    ComboBoxMicrophone->Clear();
    ComboBoxMicrophone->AddItem(L"Default");
    int selected = 0;
    const engine::TEngineServices& services = engine::ScreenCam->Services;
    for (const std::wstring& name :
         services.CaptureDevices ? services.CaptureDevices() : std::vector<std::wstring>{}) {
        if (name == chosen) selected = ComboBoxMicrophone->Count();
        ComboBoxMicrophone->AddItem(name);
    }
    // A chosen device that is not plugged in now stays chosen: the recording takes the default
    // while it is missing.
    if (!chosen.empty() && selected == 0) {
        selected = ComboBoxMicrophone->Count();
        ComboBoxMicrophone->AddItem(chosen);
    }
    ComboBoxMicrophone->SetItemIndex(selected);
}

void TOptionDlg::UpdateCompressorButtons() {
    bool hasAbout = false, hasConfig = false;
    engine::ScreenCam->CompressorCaps(ComboBoxCompressor->ItemIndex(), hasAbout, hasConfig);
    ButtonAbout->SetEnabled(hasAbout);
    ButtonConfig->SetEnabled(hasConfig);
}

void TOptionDlg::ComboBoxCompressorSelect(TObject*) {
    UpdateCompressorButtons();
}

void TOptionDlg::ButtonAboutClick(TObject*) {
    engine::ScreenCam->CompressorAbout(ComboBoxCompressor->ItemIndex(), Handle());
}

void TOptionDlg::ButtonConfigClick(TObject*) {
    engine::ScreenCam->CompressorConfigure(ComboBoxCompressor->ItemIndex(), Handle());
}

void TOptionDlg::TrackBarPlaybackChange(TObject*) {
    UpdateLabels();
}

void TOptionDlg::TrackBarQualityChange(TObject*) {
    UpdateLabels();
}

} // namespace options
