// Controls: the component and control classes of the form framework, its standard controls and
// the arguments each kind of control is declared with.
#pragma once

#include "core/Geometry.h"
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

// The input-method states a control can ask for when it gets the focus.
enum TImeMode {
    imDisable,
    imClose,
    imOpen,
    imDontCare,
    imSAlpha,
    imAlpha,
    imHira,
    imSKata,
    imKata,
    imChinese,
    imSHanguel,
    imHanguel
};

// Switches a window to the named input method (none when empty) and the given state; installed
// by the input-method helpers and called when a control that asks for either gets the focus.
using TImeActivator = void (*)(HWND wnd, const std::wstring& imeName, TImeMode mode);
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

enum TAlign { alNone, alTop, alBottom, alClient };
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

// Something a form owns: its controls and its non-visual components.
class TComponent : public TObject {
public:
    explicit TComponent(TForm* owner) : owner_(owner) {}
    TForm* Owner() const { return owner_; }
    // The class name the program's helpers compare ("TListBox", "TEdit", ...).
    virtual std::wstring ClassName() const { return L"TComponent"; }

protected:
    friend class TForm;
    // Called by the form that added the component, once it is fully made, so that what it does
    // reaches the overrides of derived classes.
    virtual void Added() {}

private:
    TForm* owner_;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Describes the window a control makes for itself.
struct TCreateParams {
    core::Rect bounds{};                // the window's, the control's own bounds to begin with
    const wchar_t* className = nullptr; // nullptr: the framework's own control class
    DWORD style = 0;
    DWORD exStyle = 0;
    bool system = false; // a system class, subclassed after creation
};

// A control: every control of this framework has its own window, made below its parent's when
// the owning form adds it. Bounds are relative to the parent's client area (screen coordinates
// for forms, whose size is the outer size).
class TWinControl : public TComponent {
public:
    TWinControl(TWinControl* parent, const core::Rect& bounds);
    ~TWinControl() override;
    std::wstring ClassName() const override { return L"TWinControl"; }

    // The control's window; made on first use.
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    // The control whose window this is, or nullptr for a window of another kind.
    static TWinControl* FromHandle(HWND wnd);

    TWinControl* Parent() const { return parent_; }
    const std::vector<TWinControl*>& Controls() const { return children_; }
    // The form this control lies on (the form itself for a form).
    TForm* ParentForm();

    int Left() const { return bounds_.left; }
    int Top() const { return bounds_.top; }
    int Width() const { return bounds_.width; }
    int Height() const { return bounds_.height; }
    const core::Rect& BoundsRect() const { return bounds_; }
    void SetLeft(int v) { SetBounds({v, Top(), Width(), Height()}); }
    void SetTop(int v) { SetBounds({Left(), v, Width(), Height()}); }
    void SetWidth(int v) { SetBounds({Left(), Top(), v, Height()}); }
    void SetHeight(int v) { SetBounds({Left(), Top(), Width(), v}); }
    virtual void SetBounds(const core::Rect& r);
    int ClientWidth();
    int ClientHeight();
    // The top-left corner of the client area on the screen.
    core::Point ClientOrigin();

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    TAlign Align() const { return align_; }
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor v) { cursor_ = v; }
    const std::wstring& Hint() const { return hint_; }
    void SetHint(std::wstring v);
    TColor Color() const { return color_; }
    void SetColor(TColor v);
    // The font: the parent's until one is set.
    const TFont& Font() const;
    void SetFont(const TFont& f);
    const std::wstring& Caption() const { return caption_; }
    virtual void SetCaption(std::wstring v);
    // The input method the control asks for when it gets the focus (empty: none).
    const std::wstring& ImeName() const { return imeName_; }
    void SetImeName(std::wstring v) { imeName_ = std::move(v); }
    TImeMode ImeMode() const { return imeMode_; }
    void SetImeMode(TImeMode v) { imeMode_ = v; }
    bool TabStop() const { return tabStop_; }
    int TabOrder() const { return tabOrder_; }

    // The dots per inch the control's bounds and font are in: 96 until its window exists, then
    // its form's. Scale turns a length given at 96 dpi into one at the control's dpi.
    int PixelsPerInch() const { return dpi_; }
    int Scale(int v) const { return core::ScaleToDpi(v, dpi_); }

    bool Focused() const;
    bool CanFocus() const;
    void SetFocus();
    void Invalidate();
    void Repaint();
    void SendToBack();

    TNotifyEvent OnClick, OnEnter, OnExit, OnMouseEnter, OnMouseLeave;
    TKeyEvent OnKeyDown;

    // Offered Enter and Escape (and other dialog keys) by the form; true = handled.
    virtual bool DialogKey(WORD key, TShiftState shift);
    // Offered characters as accelerators by the form; true = handled.
    virtual bool DialogChar(wchar_t ch);
    // The form's active control changed.
    virtual void FocusChanged(TWinControl* active);
    // Lays out the aligned and anchored children in the client area.
    void AlignControls();

protected:
    // Makes the window below the parent's, above the controls added before it.
    void Added() override;
    // Set-up steps of a kind's constructor, before the window exists.
    void SetAlign(TAlign v) { align_ = v; }
    void SetAnchors(TAnchors v) { anchors_ = v; }
    void SetTabStop(bool v) { tabStop_ = v; }
    void SetTabOrder(std::optional<int> v);
    void SetFont(const std::optional<TFont>& f);

    // Scales the bounds, the distances kept by the anchors and an own font from dpi `from` to
    // dpi `to` (a form scales its own size). A kind with other lengths scales them too.
    virtual void ChangeScale(int to, int from);

    virtual void CreateParams(TCreateParams& params);
    void CreateHandle();
    virtual void HandleCreated() {}
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT DefaultHandler(UINT msg, WPARAM wp, LPARAM lp);

    virtual void Click();
    virtual void DblClick() {}
    virtual void MouseDown(TMouseButton, TShiftState, int, int) {}
    virtual void MouseUp(TMouseButton, TShiftState, int, int) {}
    virtual void MouseMove(TShiftState, int, int) {}
    virtual void MouseEnter();
    virtual void MouseLeave();
    // Key handling of the control itself, after the form's preview and the dialog keys.
    virtual void KeyDown(WORD&, TShiftState) {}
    virtual void KeyUp(WORD&, TShiftState) {}
    // Raises OnKeyDown; a control may choose not to.
    virtual void DoKeyDown(WORD& key, TShiftState shift);
    virtual void DoEnter();
    virtual void DoExit();
    virtual void FocusReceived() {}
    virtual void FocusLost() {}
    virtual void EnabledChanged() { Invalidate(); }
    virtual void FontChanged();
    virtual void Resized() {}
    // The brush for a system control's WM_CTLCOLOR* (nullptr: the system's).
    virtual HBRUSH CtlColor(HDC dc);
    // WM_COMMAND, WM_NOTIFY and WM_HSCROLL / WM_VSCROLL of a system control, passed back to it
    // by its parent.
    virtual void Command(WORD) {}
    virtual LRESULT Notify(NMHDR*) { return 0; }
    virtual void Scrolled(WORD) {}
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
    // Scales the control from its dpi to `dpi` (see ChangeScale) and takes that dpi.
    void ScaleTo(int dpi);
    void RememberAnchors();
    void ParentFontChanged();

    TWinControl* parent_ = nullptr;
    std::vector<TWinControl*> children_;
    bool systemClass_ = false;
    core::Rect bounds_;
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
    TImeMode imeMode_ = imDontCare;
    bool tabStop_ = false;
    int tabOrder_ = 0;
    bool aligning_ = false;
    bool keyPreprocessed_ = false;
    int dpi_ = core::kDesignDpi;
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

// Designated initialisers name the fields in the order declared here.
struct TPanelArgs {
    core::Rect bounds{};
    TAlign align = alNone;
    TColor color = clBtnFace;
    std::optional<TFont> font{};
    TBevelCut bevelOuter = bvRaised;
    TAlignment alignment = taCenter; // of the caption
    std::optional<int> tabOrder{};
};

// A coloured area that holds other controls and may show one line of text.
class TPanel : public TCustomControl {
public:
    using Args = TPanelArgs;
    TPanel(TWinControl* parent, const TPanelArgs& a);
    std::wstring ClassName() const override { return L"TPanel"; }

protected:
    void Paint(TCanvas& canvas) override;

private:
    TBevelCut bevelOuter_;
    TAlignment alignment_;
};

struct TLabelArgs {
    core::Rect bounds{};
    std::wstring caption{};
    std::optional<TFont> font{};
    bool autoSize = true; // take the size of the text; otherwise keep the bounds
    TAlignment alignment = taLeftJustify;
};

// Text on its parent's background (lines break at carriage returns and line feeds).
class TLabel : public TCustomControl {
public:
    using Args = TLabelArgs;
    TLabel(TWinControl* parent, const TLabelArgs& a);
    std::wstring ClassName() const override { return L"TLabel"; }
    void SetCaption(std::wstring v) override;

protected:
    void Paint(TCanvas& canvas) override;
    void FontChanged() override;
    void Added() override;

private:
    void AdjustSize();
    bool autoSize_;
    TAlignment alignment_;
};

struct TImageArgs {
    core::Rect bounds{};
    const wchar_t* picture = nullptr; // icon (32 x 32) or bitmap resource
    bool autoSize = false;            // take the picture's size
    bool visible = true;
};

// A picture (icon or bitmap) drawn at its top-left corner.
class TImage : public TCustomControl {
public:
    using Args = TImageArgs;
    TImage(TWinControl* parent, const TImageArgs& a);
    std::wstring ClassName() const override { return L"TImage"; }
    const TPicture& Picture() const { return picture_; }
    void SetPicture(const TPicture& p);

protected:
    void Paint(TCanvas& canvas) override;

private:
    TPicture picture_;
    bool autoSize_;
};

struct TSpeedButtonArgs {
    core::Rect bounds{};
    TAnchors anchors = akLeft | akTop;
    TCursor cursor = crDefault;
    std::wstring hint{};
    const wchar_t* glyph = nullptr; // bitmap resource; its bottom-left colour is left out
    int groupIndex = 0;
    bool allowAllUp = false;
    bool transparent = true; // paint the parent's colour, not the button's own
    TNotifyEvent onClick{};
};

// A flat tool-bar button with a glyph. It never takes the focus. With a GroupIndex it stays
// down when clicked; buttons of one group on one parent release each other, and AllowAllUp
// lets a click release the button that is down.
class TSpeedButton : public TCustomControl {
public:
    using Args = TSpeedButtonArgs;
    TSpeedButton(TWinControl* parent, const TSpeedButtonArgs& a);
    std::wstring ClassName() const override { return L"TSpeedButton"; }
    const TPicture& Glyph() const { return glyph_; }
    bool Down() const { return down_; }
    void SetDown(bool v);
    // A click as the mouse gives one: a button with a GroupIndex changes Down, then OnClick.
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
    TPicture glyph_;
    int groupIndex_;
    bool allowAllUp_;
    bool transparent_;
    bool down_ = false;
    bool pressing_ = false;
};

struct TGroupBoxArgs {
    core::Rect bounds{};
    std::wstring caption{};
    std::optional<int> tabOrder{};
};

// A framed group of controls with its caption in the frame's top edge; its controls lie inside.
// Painted here: the system's group box paints no background, so what lay under it would show.
class TGroupBox : public TCustomControl {
public:
    using Args = TGroupBoxArgs;
    TGroupBox(TWinControl* parent, const TGroupBoxArgs& a);
    std::wstring ClassName() const override { return L"TGroupBox"; }

protected:
    void Paint(TCanvas& canvas) override;
};

struct TBevelArgs {
    core::Rect bounds{};
};

// A vertical separator line (a lowered left edge).
class TBevel : public TCustomControl {
public:
    using Args = TBevelArgs;
    TBevel(TWinControl* parent, const TBevelArgs& a) : TCustomControl(parent, a.bounds) {}
    std::wstring ClassName() const override { return L"TBevel"; }

protected:
    void Paint(TCanvas& canvas) override;
};

struct TShapeArgs {
    core::Rect bounds{};
    TAlign align = alNone;
    TColor brushColor = clWhite;
    TColor penColor = clBlack;
    int penWidth = 1;
};

// A filled rectangle with an outline of the pen's width along the inside of its edges.
class TShape : public TCustomControl {
public:
    using Args = TShapeArgs;
    TShape(TWinControl* parent, const TShapeArgs& a);
    std::wstring ClassName() const override { return L"TShape"; }
    TColor PenColor() const { return penColor_; }
    void SetPenColor(TColor v);

protected:
    void Paint(TCanvas& canvas) override;

private:
    TColor brushColor_;
    TColor penColor_;
    int penWidth_;
};

struct TTimerArgs {
    UINT interval = 1000; // milliseconds
    bool enabled = true;
    TNotifyEvent onTimer{};
};

// Raises OnTimer every Interval milliseconds while enabled, on the user-interface thread (also
// inside modal loops: the ticks are thread timer messages).
class TTimer : public TComponent {
public:
    using Args = TTimerArgs;
    TTimer(TForm* owner, const TTimerArgs& a);
    ~TTimer() override;
    std::wstring ClassName() const override { return L"TTimer"; }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    UINT Interval() const { return interval_; }

    TNotifyEvent OnTimer;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
    void Start();
    void Stop();

    UINT interval_;
    bool enabled_ = false;
    UINT_PTR id_ = 0;
};

} // namespace forms
