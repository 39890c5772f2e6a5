// SysControls: the system's own controls, subclassed into the framework: list box, drop-down
// list, single-line edit and track bar.
#pragma once

#include "forms/Controls.h"

#include <optional>
#include <string>

namespace forms {

struct TListBoxArgs {
    core::Rect bounds{};
    TColor color = clWindow;
    TControlBorder border = cbSingle;
    std::optional<int> tabOrder{};
    TKeyEvent onKeyDown{};
    TNotifyEvent onEnter{};
    TNotifyEvent onExit{};
};

// The system list box.
class TListBox : public TWinControl {
public:
    using Args = TListBoxArgs;
    TListBox(TWinControl* parent, const TListBoxArgs& a);
    std::wstring ClassName() const override { return L"TListBox"; }

protected:
    void CreateParams(TCreateParams& params) override;
    HBRUSH CtlColor(HDC dc) override;

private:
    TControlBorder border_;
    TBrushHandle brush_;
    TColor brushColor_ = 0xFFFFFFFF;
};

struct TComboBoxArgs {
    core::Rect bounds{}; // the height is the closed box's; the list drops below it
    TCursor cursor = crDefault;
    std::optional<int> tabOrder{};
    int dropDownCount = 8; // items the open list shows
};

// A drop-down list: the user picks one of its items and cannot type text.
class TComboBox : public TWinControl {
public:
    using Args = TComboBoxArgs;
    TComboBox(TWinControl* parent, const TComboBoxArgs& a);
    std::wstring ClassName() const override { return L"TComboBox"; }

    void Clear();
    void AddItem(const std::wstring& text);
    int Count();
    std::wstring Item(int index);
    // The selected item's index, -1 for none; an index outside the items selects none.
    int ItemIndex();
    void SetItemIndex(int index);

protected:
    void CreateParams(TCreateParams& params) override;

private:
    int dropDownCount_;
};

struct TEditArgs {
    core::Rect bounds{};
    std::wstring text{};
    TImeMode imeMode = imDontCare; // the input method's state while the edit has the focus
    std::optional<int> tabOrder{};
};

// A single-line edit box.
class TEdit : public TWinControl {
public:
    using Args = TEditArgs;
    TEdit(TWinControl* parent, const TEditArgs& a);
    std::wstring ClassName() const override { return L"TEdit"; }

    // The text as it stands in the box, typed or set.
    std::wstring Text();
    void SetText(std::wstring v);

protected:
    void CreateParams(TCreateParams& params) override;
};

struct TTrackBarArgs {
    core::Rect bounds{};
    int min = 0;
    int max = 10;
    int position = 0;
    TCursor cursor = crDefault;
    std::optional<int> tabOrder{};
    TNotifyEvent onChange{};
};

// A horizontal track bar without tick marks. OnChange is raised after every change of the
// position, by the user or by SetPosition.
class TTrackBar : public TWinControl {
public:
    using Args = TTrackBarArgs;
    TTrackBar(TWinControl* parent, const TTrackBarArgs& a);
    std::wstring ClassName() const override { return L"TTrackBar"; }

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    // Moves the thumb; a position outside the range goes to its nearer end.
    void SetPosition(int v);

    TNotifyEvent OnChange;

protected:
    void CreateParams(TCreateParams& params) override;
    void HandleCreated() override;
    void Scrolled(WORD code) override;

private:
    void PositionChanged(int v);

    int min_, max_, position_;
};

} // namespace forms
