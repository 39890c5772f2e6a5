// Forms: top-level windows declared by their components, modal dialogs, and the application object
// with its message loop, cursor table, hints and default exception handler.
#pragma once

#include "forms/Controls.h"
#include "forms/SysControls.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace forms {

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
using TBorderIcons = unsigned;
enum TFormStyle { fsNormal, fsStayOnTop };
enum TPosition { poDesigned, poScreenCenter };

// What a form is declared with (designated initialisers name the fields in this order).
struct TFormArgs {
    core::Rect bounds{0, 0, 320, 240}; // outer size; the client size follows from the border
    std::wstring caption{};
    std::optional<core::Size> clientSize{}; // replaces the outer size when given
    TBorderStyle borderStyle = bsSizeable;
    TBorderIcons borderIcons = biSystemMenu | biMinimize | biMaximize;
    TFormStyle formStyle = fsNormal;
    TPosition position = poDesigned; // poScreenCenter: centred on the screen whenever shown
    TColor color = clBtnFace;
    TFont font{};
    bool keyPreview = false;
    const wchar_t* icon = nullptr; // icon resource name for the caption bar
    TNotifyEvent onCreate{}, onShow{}, onResize{}, onDestroy{};
    TCloseQueryEvent onCloseQuery{};
    TKeyEvent onKeyDown{};
};

// A top-level window. A derived form's constructor is its description: the form's own
// arguments to the base, one Add per component in the described order, then Loaded, which
// lays out the docked controls and raises OnCreate. A form is ended with Free (which raises
// OnDestroy), Release (Free once the messages already posted have been handled) or by the
// application.
class TForm : public TWinControl {
public:
    explicit TForm(const TFormArgs& args = {});
    ~TForm() override;
    std::wstring ClassName() const override { return L"TForm"; }

    // Makes a component of kind T on parent (the form itself or one of its controls) from the
    // kind's own arguments; the form owns it.
    template <class T, class P> T* Add(P* parent, const typename T::Args& args) {
        static_assert(std::is_base_of_v<TComponent, T>);
        auto owned = std::make_unique<T>(parent, args);
        T* c = owned.get();
        components_.push_back(std::move(owned));
        Adopt(*c);
        return c;
    }
    // Ends the description: see the class comment.
    void Loaded();
    const std::vector<std::unique_ptr<TComponent>>& Components() const { return components_; }

    void SetVisible(bool v) override;
    void SetClientWidth(int v);
    void SetClientHeight(int v);
    bool KeyPreview() const { return keyPreview_; }
    void SetKeyPreview(bool v) { keyPreview_ = v; }
    TWinControl* ActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl* c);

    // Shows the form modally and returns its modal result (1 OK, 2 Cancel, 6 Yes, 7 No, ...).
    int ShowModal();
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int v) { modalResult_ = v; }
    bool Modal() const { return modal_; }
    // Modal: ends with result 2; otherwise asks OnCloseQuery and hides the form (and ends the
    // application when this is its main form).
    void Close();
    bool CloseQuery();
    void Release();
    void Free();

    // Moves the focus to the next (or previous) control that can take it, in tab order.
    void SelectNext(bool forward);
    // Offers a key to every control (Enter, Escape); true when one handled it.
    bool DispatchDialogKey(WORD key, TShiftState shift);
    bool DispatchDialogChar(wchar_t ch);
    // The tool-tip window that shows the controls' hints (nullptr until a hint exists).
    HWND HintWindow() const;

    TNotifyEvent OnCreate, OnShow, OnResize, OnDestroy;
    TCloseQueryEvent OnCloseQuery;

protected:
    void CreateParams(TCreateParams& params) override;
    void HandleCreated() override;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
    void Resized() override;

private:
    friend class TWinControl;
    void Adopt(TComponent& c);
    // Lays out the docked and anchored controls of every container.
    void AlignAll();
    // The window moved to a monitor of another dpi: its layout and fonts are scaled to it and
    // the window takes the system's suggested rectangle.
    void DpiChanged(int dpi, const RECT& suggested);
    void ControlFocused(TWinControl* c);
    void ControlDestroyed(TWinControl* c);
    void AddHint(TWinControl* c);
    void RemoveHint(TWinControl* c);
    void FocusActiveControl();

    std::vector<std::unique_ptr<TComponent>> components_;
    std::optional<core::Size> clientSize_;
    TBorderStyle borderStyle_;
    TBorderIcons borderIcons_;
    TFormStyle formStyle_;
    TPosition position_;
    const wchar_t* iconName_;
    bool keyPreview_;
    TWinControl* activeControl_ = nullptr;
    TWinControl* focused_ = nullptr;
    bool destroying_ = false;
    int modalResult_ = mrNone;
    bool modal_ = false;
    bool loading_ = true;
    bool freed_ = false;
    TIconHandle icon_;
    base::TWindowHandle tooltip_;
};

// Ends a form with Free when the pointer goes.
struct TFormDeleter {
    void operator()(TForm* f) const {
        if (f) f->Free();
    }
};
template <class T> using TFormPtr = std::unique_ptr<T, TFormDeleter>;

// The application's cursors by number: the negative numbers are the system's, 0 is the default
// arrow, positive numbers are the program's own (cursor 1: the hand).
class TCursorTable {
public:
    HCURSOR operator[](TCursor n) const;
    void Set(TCursor n, HCURSOR c) { own_[n] = c; }

private:
    std::map<TCursor, HCURSOR> own_;
};

class TApplication {
public:
    TApplication();
    ~TApplication();

    void Initialize();
    // Makes a form owned by the application; the first one becomes the main form.
    template <class T> T* CreateForm(T*& ref) {
        ref = new T();
        forms_.push_back(ref);
        if (!mainForm_) mainForm_ = ref;
        return ref;
    }
    // Shows the main form and handles messages until it closes; then frees the forms made by
    // CreateForm, the last made first.
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Waits for one message and handles it.
    void HandleMessage();
    // Handles every message waiting, then returns.
    void ProcessMessages();
    // Runs a task on the user-interface thread; may be called from any thread.
    void Queue(std::function<void()> task);

    TForm* MainForm() const { return mainForm_; }
    const std::wstring& Title() const { return title_; }
    void SetTitle(std::wstring v) { title_ = std::move(v); }

    TCursorTable Cursors;

    // Shows the message of an error that reached a window procedure, then lets the program go
    // on. OnException replaces the message box when set.
    void HandleException(std::exception_ptr e);
    std::function<void(const std::wstring& message)> OnException;
    static std::wstring ExceptionMessage(std::exception_ptr e);

private:
    friend class TForm;
    void FormFreed(TForm* f);
    bool ProcessMessage(MSG& msg);
    static LRESULT CALLBACK TaskWindowProc(HWND, UINT, WPARAM, LPARAM) noexcept;
    void RunTasks();

    std::vector<TForm*> forms_;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    std::wstring title_;
    base::TWindowHandle taskWindow_;
    std::mutex taskMutex_;
    std::vector<std::function<void()>> tasks_;
};

extern TApplication Application;

} // namespace forms
