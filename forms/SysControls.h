// SysControls: the system's own controls, subclassed into the framework: list box, drop-down
// list, single-line edit, track bar and tree view.
#pragma once

#include "forms/Controls.h"

#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

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

struct TCheckBoxArgs {
    core::Rect bounds{};
    std::wstring caption{};
    bool checked = false;
    std::optional<int> tabOrder{};
};

// A check box with its caption to the right; a click or Space turns it on or off.
class TCheckBox : public TWinControl {
public:
    using Args = TCheckBoxArgs;
    TCheckBox(TWinControl* parent, const TCheckBoxArgs& a);
    std::wstring ClassName() const override { return L"TCheckBox"; }

    // As the user left it, or as last set.
    bool Checked();
    void SetChecked(bool v);

protected:
    void CreateParams(TCreateParams& params) override;
    void HandleCreated() override;

private:
    bool checked_;
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

// A node of a tree view: the system's item handle (nullptr for none).
using TTreeNode = HTREEITEM;

// What a custom-drawn tree item is painted with. The handler sets the canvas's font, font colour
// and brush colour (and may paint the text rectangle); the tree then draws the item with them.
struct TTreeItemDraw {
    TCanvas& canvas;
    TTreeNode node;
    bool selected;
    core::Rect textRect; // the item's text rectangle in the tree's client area
};
using TTreeCustomDrawEvent = std::function<void(TObject* sender, TTreeItemDraw& item)>;

struct TTreeViewArgs {
    core::Rect bounds{};
    TAlign align = alNone;
    int indent = 19;
    bool hideSelection = true; // false: the selection stays drawn without the focus
    TCursor cursor = crDefault;
    std::optional<int> tabOrder{};
    TNotifyEvent onChange{}; // the selection changed
    TTreeCustomDrawEvent onCustomDrawItem{};
    TNotifyEvent onDblClick{};
    TKeyEvent onKeyDown{};
};

// The system tree view with lines and expand buttons; nodes are added in order and not sorted.
class TTreeView : public TWinControl {
public:
    using Args = TTreeViewArgs;
    TTreeView(TWinControl* parent, const TTreeViewArgs& a);
    std::wstring ClassName() const override { return L"TTreeView"; }

    void Clear();
    // Adds a node at the end of the top level, or of parent's children.
    TTreeNode Add(const std::wstring& text);
    TTreeNode AddChild(TTreeNode parent, const std::wstring& text);
    // Suspends and resumes redrawing while many nodes change.
    void BeginUpdate();
    void EndUpdate();

    TTreeNode Selected();
    void Select(TTreeNode node);
    TTreeNode FirstNode();
    // The node above node; nullptr for a top-level node.
    TTreeNode Parent(TTreeNode node);
    // The node's position among its siblings, from 0.
    int Index(TTreeNode node);
    std::wstring Text(TTreeNode node);
    // The nodes below node, or the top-level nodes for nullptr.
    std::vector<TTreeNode> Children(TTreeNode node);

    TNotifyEvent OnChange, OnDblClick;
    TTreeCustomDrawEvent OnCustomDrawItem;

protected:
    void CreateParams(TCreateParams& params) override;
    void HandleCreated() override;
    LRESULT Notify(NMHDR* hdr) override;

private:
    LRESULT CustomDraw(NMTVCUSTOMDRAW& draw);
    TTreeNode Insert(TTreeNode parent, const std::wstring& text);

    int indent_;
    bool hideSelection_;
    int updating_ = 0;
    TFont drawFont_; // the font a custom-drawn item was given, kept while the tree draws with it
};

} // namespace forms
