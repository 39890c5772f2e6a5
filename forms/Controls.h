// Controls: the component and control classes of the form framework and its standard controls.
#pragma once

#include "forms/Graphics.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace forms {

class TForm;
class TWinControl;

class TObject {
public:
    virtual ~TObject() = default;
};

enum TShift : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = unsigned;
// The framework's window class of forms (registered on first use).
const wchar_t* FormWindowClass();

// Switches to the named input method; installed by the input-method helpers and called when a
// control with an IME name gets the focus.
using TImeActivator = void (*)(const std::wstring& imeName);
void SetImeActivator(TImeActivator fn);

// The state of Shift, Alt and Ctrl now.
TShiftState KeyboardShiftState();

using TNotifyEvent = std::function<void(TObject* sender)>;
using TKeyEvent = std::function<void(TObject* sender, WORD& key, TShiftState shift)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crHandPoint = -21;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = unsigned;
enum TBevelCut { bvNone, bvLowered, bvRaised };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TControlBorder { cbNone, cbSingle };

constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrYes = 6;
constexpr int mrNo = 7;

struct TBounds {
    int left = 0, top = 0, width = 0, height = 0;
};

// Properties a layout table may give a control; a control takes those that apply to its kind
// and ignores the rest. Unset fields keep the control's own defaults.
struct TProps {
    std::wstring parent{}; // name of the containing control; empty = the form
    std::optional<TAlign> align{};
    std::optional<TAnchors> anchors{};
    std::optional<TColor> color{};
    std::optional<TFont> font{};
    std::optional<bool> visible{};
    std::optional<bool> enabled{};
    std::optional<TCursor> cursor{};
    std::wstring hint{};
    std::optional<int> tag{};
    std::optional<int> tabOrder{};
    std::optional<bool> tabStop{};
    std::optional<TBevelCut> bevelOuter{};
    std::optional<TAlignment> alignment{};
    std::optional<TControlBorder> border{};
    std::optional<bool> autoSize{};
    std::optional<bool> transparent{};
    const wchar_t* glyph = nullptr;   // bitmap resource name
    const wchar_t* picture = nullptr; // icon resource name (32 x 32)
    std::optional<int> groupIndex{};
    std::optional<bool> allowAllUp{};
    std::optional<bool> down{};
    std::optional<int> modalResult{};
    std::optional<bool> isDefault{};
    std::optional<bool> cancel{};
};

struct TEvents {
    TNotifyEvent onClick{};
    TNotifyEvent onDblClick{};
    TKeyEvent onKeyDown{};
    TKeyEvent onKeyUp{};
    TNotifyEvent onEnter{};
    TNotifyEvent onExit{};
    TNotifyEvent onMouseEnter{};
    TNotifyEvent onMouseLeave{};
};

// Something a form owns and can find by name.
class TComponent : public TObject {
public:
    explicit TComponent(TForm* owner) : owner_(owner) {}
    TForm* Owner() const { return owner_; }
    const std::wstring& Name() const { return name_; }
    void SetName(std::wstring v) { name_ = std::move(v); }
    int Tag() const { return tag_; }
    void SetTag(int v) { tag_ = v; }
    // The class name the program's helpers compare ("TListBox", "TEdit", ...).
    virtual std::wstring ClassName() const { return L"TComponent"; }

private:
    TForm* owner_;
    std::wstring name_;
    int tag_ = 0;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Describes the window a control makes for itself.
struct TCreateParams {
    const wchar_t* className = nullptr; // nullptr: the framework's own control class
    DWORD style = 0;
    DWORD exStyle = 0;
    bool system = false; // a system class, subclassed after creation
};

// A control: every control of this framework has its own window. Bounds are relative to the
// parent's client area (screen coordinates for forms, whose size is the outer size).
class TWinControl : public TComponent {
public:
    explicit TWinControl(TForm* owner);
    ~TWinControl() override;
    std::wstring ClassName() const override { return L"TWinControl"; }

    // The control's window; made on first use, below the parent's window.
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    // The control whose window this is, or nullptr for a window of another kind.
    static TWinControl* FromHandle(HWND wnd);

    TWinControl* Parent() const { return parent_; }
    void SetParent(TWinControl* parent);
    const std::vector<TWinControl*>& Controls() const { return children_; }
    // The form this control lies on (the form itself for a form).
    TForm* ParentForm();

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    int ClientWidth();
    int ClientHeight();
    // The top-left corner of the client area on the screen.
    POINT ClientOrigin();

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool v);
    TAlign Align() const { return align_; }
    void SetAlign(TAlign v);
    TAnchors Anchors() const { return anchors_; }
    void SetAnchors(TAnchors v);
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor v) { cursor_ = v; }
    const std::wstring& Hint() const { return hint_; }
    void SetHint(std::wstring v);
    TColor Color() const { return color_; }
    void SetColor(TColor v);
    // The font: the parent's until one is set.
    const TFont& Font() const;
    void SetFont(const TFont& f);
    bool ParentFont() const { return parentFont_; }
    const std::wstring& Caption() const { return caption_; }
    virtual void SetCaption(std::wstring v);
    // The input method the control asks for when it gets the focus (empty: none).
    const std::wstring& ImeName() const { return imeName_; }
    void SetImeName(std::wstring v) { imeName_ = std::move(v); }
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool v) { tabStop_ = v; }
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int v);

    bool Focused() const;
    bool CanFocus() const;
    void SetFocus();
    void Invalidate();
    void Repaint();
    void BringToFront();
    void SendToBack();
    // Sends a message to the control's window.
    LRESULT Perform(UINT msg, WPARAM wp = 0, LPARAM lp = 0);

    TNotifyEvent OnClick, OnDblClick, OnEnter, OnExit, OnMouseEnter, OnMouseLeave;
    TKeyEvent OnKeyDown, OnKeyUp;

    // Takes the layout table's properties and events that apply to this kind of control.
    virtual void ApplyProps(const TProps& p);
    void ApplyEvents(const TEvents& e);

    // Offered Enter and Escape (and other dialog keys) by the form; true = handled.
    virtual bool DialogKey(WORD key, TShiftState shift);
    // Offered characters as accelerators by the form; true = handled.
    virtual bool DialogChar(wchar_t ch);
    // The form's active control changed.
    virtual void FocusChanged(TWinControl* active);
    // Lays out the aligned and anchored children in the client area.
    void AlignControls();

protected:
    virtual void CreateParams(TCreateParams& params);
    void CreateHandle();
    virtual void HandleCreated() {}
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT DefaultHandler(UINT msg, WPARAM wp, LPARAM lp);

    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(TMouseButton, TShiftState, int, int) {}
    virtual void MouseUp(TMouseButton, TShiftState, int, int) {}
    virtual void MouseMove(TShiftState, int, int) {}
    virtual void MouseEnter();
    virtual void MouseLeave();
    // Key handling of the control itself, after the form's preview and the dialog keys.
    virtual void KeyDown(WORD&, TShiftState) {}
    virtual void KeyUp(WORD&, TShiftState) {}
    // Raise OnKeyDown / OnKeyUp; a control may choose not to.
    virtual void DoKeyDown(WORD& key, TShiftState shift);
    virtual void DoKeyUp(WORD& key, TShiftState shift);
    virtual void DoEnter();
    virtual void DoExit();
    virtual void FocusReceived() {}
    virtual void FocusLost() {}
    virtual void EnabledChanged() { Invalidate(); }
    virtual void FontChanged();
    virtual void Resized() {}
    // The brush for a system control's WM_CTLCOLOR* (nullptr: the system's).
    virtual HBRUSH CtlColor(HDC dc);
    // WM_COMMAND and WM_NOTIFY of a system control, passed back to it by its parent.
    virtual void Command(WORD) {}
    virtual LRESULT Notify(NMHDR*) { return 0; }
    // The colour a transparent child paints behind itself.
    TColor BackgroundColor() const;

    HWND handle_ = nullptr;
    bool mouseInside_ = false;

private:
    friend class TForm;
    friend class TApplication;
    friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM) noexcept;
    friend LRESULT CALLBACK ControlSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR,
                                                DWORD_PTR) noexcept;
    LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);
    bool HandleKeyDown(WORD& key);
    void UpdateBoundsFromWindow();
    void RememberAnchors();
    void ParentFontChanged();

    TWinControl* parent_ = nullptr;
    std::vector<TWinControl*> children_;
    bool systemClass_ = false;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int designTop_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    TAlign align_ = alNone;
    TAnchors anchors_ = akLeft | akTop;
    int anchorRight_ = 0, anchorBottom_ = 0;
    TCursor cursor_ = crDefault;
    std::wstring hint_;
    TColor color_ = clBtnFace;
    TFont font_;
    bool parentFont_ = true;
    std::wstring caption_;
    std::wstring imeName_;
    bool tabStop_ = false;
    int tabOrder_ = 0;
    bool aligning_ = false;
    bool keyPreprocessed_ = false;
    TFont sysFont_; // the font a system control was given, kept alive while it uses it
};

// A control that paints itself on a canvas. Painting goes through a memory bitmap, so it
// does not flicker; PaintTo paints into any device context (used by tests and printing).
class TCustomControl : public TWinControl {
public:
    using TWinControl::TWinControl;
    std::wstring ClassName() const override { return L"TCustomControl"; }
    void PaintTo(HDC dc);

protected:
    virtual void Paint(TCanvas& canvas) = 0;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
};

// A coloured area that holds other controls and may show one line of text.
class TPanel : public TCustomControl {
public:
    explicit TPanel(TForm* owner);
    std::wstring ClassName() const override { return L"TPanel"; }
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut v);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment v);
    void ApplyProps(const TProps& p) override;

protected:
    void Paint(TCanvas& canvas) override;

private:
    TBevelCut bevelOuter_ = bvRaised;
    TAlignment alignment_ = taCenter;
};

// Text on its parent's background; with AutoSize it takes the size of its text (lines break
// at carriage returns and line feeds).
class TLabel : public TCustomControl {
public:
    explicit TLabel(TForm* owner);
    std::wstring ClassName() const override { return L"TLabel"; }
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool v);
    void SetCaption(std::wstring v) override;
    void ApplyProps(const TProps& p) override;

protected:
    void Paint(TCanvas& canvas) override;
    void FontChanged() override;

private:
    void AdjustSize();
    bool autoSize_ = true;
};

// A picture (icon or bitmap) drawn at its top-left corner.
class TImage : public TCustomControl {
public:
    explicit TImage(TForm* owner);
    std::wstring ClassName() const override { return L"TImage"; }
    const TPicture& Picture() const { return picture_; }
    void SetPicture(const TPicture& p);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool v);
    void ApplyProps(const TProps& p) override;

protected:
    void Paint(TCanvas& canvas) override;

private:
    TPicture picture_;
    bool autoSize_ = false;
};

// A flat tool-bar button with a glyph. It never takes the focus. With a GroupIndex it stays
// down when clicked; buttons of one group on one parent release each other, and AllowAllUp
// lets a click release the button that is down.
class TSpeedButton : public TCustomControl {
public:
    explicit TSpeedButton(TForm* owner);
    std::wstring ClassName() const override { return L"TSpeedButton"; }
    const TPicture& Glyph() const { return glyph_; }
    void SetGlyph(const TPicture& p);
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int v);
    bool AllowAllUp() const { return allowAllUp_; }
    void SetAllowAllUp(bool v);
    bool Down() const { return down_; }
    void SetDown(bool v);
    // Opaque buttons paint their own Color, transparent ones their parent's.
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v);
    void ApplyProps(const TProps& p) override;
    void Click() override;

protected:
    void Paint(TCanvas& canvas) override;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseEnter() override;
    void MouseLeave() override;

private:
    void UpdateExclusive();
    TPicture glyph_;
    int groupIndex_ = 0;
    bool allowAllUp_ = false;
    bool down_ = false;
    bool transparent_ = true;
    bool pressing_ = false;
};

// A vertical separator line (a lowered left edge).
class TBevel : public TCustomControl {
public:
    explicit TBevel(TForm* owner);
    std::wstring ClassName() const override { return L"TBevel"; }

protected:
    void Paint(TCanvas& canvas) override;
};

// The system list box.
class TListBox : public TWinControl {
public:
    explicit TListBox(TForm* owner);
    std::wstring ClassName() const override { return L"TListBox"; }
    TControlBorder BorderStyle() const { return border_; }
    void SetBorderStyle(TControlBorder v);
    void AddItem(const std::wstring& text);
    void Clear();
    int Count();
    int ItemIndex();
    void SetItemIndex(int v);
    void ApplyProps(const TProps& p) override;

protected:
    void CreateParams(TCreateParams& params) override;
    HBRUSH CtlColor(HDC dc) override;

private:
    TControlBorder border_ = cbSingle;
    TBrushHandle brush_;
    TColor brushColor_ = 0xFFFFFFFF;
};

} // namespace forms
