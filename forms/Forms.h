// Forms: top-level windows of the program with position and size properties.
#pragma once

#include <windows.h>

#include <string>

namespace forms {

// A top-level window. Left/Top/Width/Height are the outer rectangle in screen pixels; the
// window is created on first use of Handle().
class TForm {
public:
    TForm();
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    void SetBounds(int left, int top, int width, int height);

protected:
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);

private:
    static LRESULT CALLBACK Trampoline(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND handle_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 320, height_ = 240;
};

} // namespace forms
