// optdlg: the options dialog: compressor, quality, key frames, capture interval, playback rate,
// the cursor's marks, sound, and whether the options are kept for the next start.
#pragma once

#include "forms/Forms.h"
#include "forms/SysControls.h"
#include "ui/dxButtons.h"

#include <string>

namespace engine {
class TScreenCam;
}

namespace options {

// Created at start-up and kept for the whole run. It keeps no settings of its own: EditOptions
// shows the engine's values and writes them back on OK.
class TOptionDlg : public forms::TForm {
public:
    TOptionDlg();
    std::wstring ClassName() const override { return L"TOptionDlg"; }

    // Components, in declaration order.
    forms::TGroupBox* Compressor = nullptr;
    forms::TComboBox* ComboBoxCompressor = nullptr;
    ui::TdxButton* ButtonAbout = nullptr;
    ui::TdxButton* ButtonConfig = nullptr;
    forms::TLabel* Label1 = nullptr;
    forms::TLabel* LabelQuality = nullptr;
    forms::TTrackBar* TrackBarQuality = nullptr;
    forms::TGroupBox* GroupBox1 = nullptr;
    forms::TLabel* Label6 = nullptr;
    forms::TLabel* Label4 = nullptr;
    forms::TLabel* labelmspFrecord = nullptr;
    forms::TTrackBar* TrackBarRecord = nullptr;
    forms::TLabel* Label2 = nullptr;
    forms::TEdit* EditKeyFrames = nullptr;
    forms::TLabel* Label3 = nullptr;
    forms::TGroupBox* GroupBox2 = nullptr;
    forms::TLabel* Label5 = nullptr;
    forms::TLabel* Label7 = nullptr;
    forms::TLabel* labelFPSPlayback = nullptr;
    forms::TTrackBar* TrackBarPlayback = nullptr;
    ui::TdxButton* btnOK = nullptr;
    ui::TdxButton* btnCan = nullptr;
    forms::TGroupBox* CursorGroup = nullptr;
    forms::TCheckBox* CheckBoxDrawCursor = nullptr;
    forms::TCheckBox* CheckBoxHighlight = nullptr;
    forms::TCheckBox* CheckBoxClicks = nullptr;
    forms::TGroupBox* SoundGroup = nullptr;
    forms::TCheckBox* CheckBoxMicrophone = nullptr;
    forms::TComboBox* ComboBoxMicrophone = nullptr;
    forms::TCheckBox* CheckBoxSystemSound = nullptr;
    forms::TLabel* LabelSoundRule = nullptr;
    forms::TCheckBox* CheckBoxKeep = nullptr;

    // The settings file (without ".ini") the kept options live in; empty keeps nothing.
    std::wstring IniBaseName;

    // Fills the controls from the engine, shows the dialog and, on OK, writes the values back:
    // the compressor and the quality first, then the key-frame interval, the capture interval,
    // the playback rate, the cursor's and the sound's switches; then, by the Keep box (shown on when the file
    // keeps options), keeps them in the settings file or removes them from it. A key-frame text
    // that is not an integer raises "'<text>' は整数ではありません" after the first two are written.
    void EditOptions();
    // Sets the three value labels from the thumbs, and shows the sound's rule when the thumbs
    // make a recording without sound.
    void UpdateLabels();
    // Lists "Default" and the capture devices, selecting the chosen one (empty: Default).
    void FillMicrophones(const std::wstring& chosen);
    // Enables About and Configure by what the selected compressor offers.
    void UpdateCompressorButtons();

    void FormCreate(forms::TObject* sender);
    void ComboBoxCompressorSelect(forms::TObject* sender);
    void ButtonAboutClick(forms::TObject* sender);
    void ButtonConfigClick(forms::TObject* sender);
    void TrackBarPlaybackChange(forms::TObject* sender);
    void TrackBarQualityChange(forms::TObject* sender);
};

extern TOptionDlg* OptionDlg;

// At start: where the settings file keeps options, builds the catalogue and gives the engine
// those options, each unreadable one left at the engine's own value. Says nothing either way.
void LoadKeptOptions(const std::wstring& iniBase, engine::TScreenCam& cam);

} // namespace options
