#include "ui/xConfirm.h"

#include "main/Main.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

using namespace forms;
using ui::ShowConfirm;
using ui::TfrmConfirm;

namespace {

// The question asked when the main window closes during a recording.
const std::wstring kCloseWhileRecording = mainwin::kCloseWhileRecordingMessage;

class TfrmParent : public TForm {
public:
    TfrmParent() : TForm({.bounds = {274, 122, 328, 290}, .caption = L"Parent"}) { Loaded(); }
};

void Pump() {
    for (int i = 0; i < 5; ++i) {
        Application.ProcessMessages();
        Sleep(5);
    }
}

// Answers the dialog from another thread, as a user at the keyboard would: it waits until the
// dialog is up and has given the focus to one of its buttons, then acts.
class TAnswer {
public:
    using TAct = std::function<void(TAnswer&)>;
    TAnswer(std::wstring caption, TAct act) : caption_(std::move(caption)) {
        const DWORD ui = GetCurrentThreadId();
        thread_ = std::thread([this, ui, act] {
            if (WaitForDialog(ui)) {
                act(*this);
            } else {
                // Never leave the test hanging in the dialog's loop.
                ADD_FAILURE() << "the dialog did not get the focus";
                if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
            }
            done_ = true;
        });
    }
    // The helper reads window texts, which the user-interface thread answers: keep handling
    // messages until it is done.
    ~TAnswer() {
        while (!done_) {
            Application.ProcessMessages();
            Sleep(5);
        }
        thread_.join();
    }

    HWND dialog = nullptr;
    HWND focus = nullptr;
    std::wstring focusText;

    void Key(WORD key) {
        PostMessageW(focus, WM_KEYDOWN, key, 1);
        PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
        Sleep(150);
        RefreshFocus();
    }
    void CloseBox() { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }
    bool StillOpen() const { return IsWindowVisible(dialog); }

private:
    bool WaitForDialog(DWORD ui) {
        for (int i = 0; i < 300; ++i, Sleep(10)) {
            dialog = FindWindowW(FormWindowClass(), caption_.c_str());
            if (!dialog || !IsWindowVisible(dialog)) continue;
            ui_ = ui;
            RefreshFocus();
            if (focus && IsChild(dialog, focus)) return true;
        }
        return false;
    }
    void RefreshFocus() {
        GUITHREADINFO gti{};
        gti.cbSize = sizeof gti;
        GetGUIThreadInfo(ui_, &gti);
        focus = gti.hwndFocus;
        wchar_t buf[64] = {};
        if (focus) GetWindowTextW(focus, buf, 64);
        focusText = buf;
    }
    std::wstring caption_;
    DWORD ui_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

int Ask(const std::wstring& buttons, int def, TAnswer::TAct act, TForm* parent = nullptr,
        std::wstring* focusText = nullptr) {
    static int n = 0;
    const std::wstring caption = L"Question " + std::to_wstring(++n);
    int result = 0;
    {
        TAnswer answer(caption, [&](TAnswer& a) {
            if (focusText) *focusText = a.focusText;
            act(a);
        });
        result = ShowConfirm(parent, caption, L"よろしいですか？", L"?", buttons, def);
    }
    Pump();
    return result;
}

TAnswer::TAct Keys(std::initializer_list<WORD> keys) {
    std::vector<WORD> list(keys);
    return [list](TAnswer& a) {
        for (WORD k : list)
            a.Key(k);
    };
}

class ConfirmTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application.Initialize();
        Application.Cursors.Set(1, LoadCursorW(GetModuleHandleW(nullptr), L"hand"));
    }
};

TEST_F(ConfirmTest, CloseWhileRecordingMessageIs58BytesInShiftJis) {
    int n = WideCharToMultiByte(932, 0, kCloseWhileRecording.c_str(),
                                static_cast<int>(kCloseWhileRecording.size()), nullptr, 0, nullptr,
                                nullptr);
    EXPECT_EQ(n, 58);
}

TEST_F(ConfirmTest, PrepareSizesAndCentresTheDialog) {
    TFormPtr<TfrmParent> parent(new TfrmParent);
    TFormPtr<TfrmConfirm> d(new TfrmConfirm);
    d->Prepare(parent.get(), L"Zo/quarnelby", L"短い", L"i", L"Y", 1);
    EXPECT_EQ(d->Caption(), L"Zo/quarnelby");
    EXPECT_EQ(d->Width(), 330);
    EXPECT_EQ(d->Height(), d->lblMsg->Top() + d->lblMsg->Height() + 90);
    EXPECT_EQ(d->btnMode1->Left(), 127);
    EXPECT_TRUE(d->btnMode1->Visible());
    EXPECT_FALSE(d->btnMode2->Visible());
    EXPECT_FALSE(d->btnMode3->Visible());
    EXPECT_EQ(d->Left(), 274 + (328 - 330) / 2);
    EXPECT_EQ(d->Top(), 122 + (290 - d->Height()) / 2);
    EXPECT_EQ(d->pnlButton->Height(), 41);
    EXPECT_EQ(d->pnlButton->Top() + 41, d->ClientHeight());

    // Three lines for the close-while-recording question; a long line widens the dialog.
    const int oneLine = d->lblMsg->Height();
    d->Prepare(parent.get(), L"Zo/quarnelby", kCloseWhileRecording, L"?", L"YN", 2);
    EXPECT_EQ(d->lblMsg->Height(), 3 * oneLine);
    EXPECT_EQ(d->btnMode1->Left(), 165 - 78);
    EXPECT_EQ(d->btnMode2->Left(), 165 + 2);
    d->Prepare(parent.get(), L"Zo/quarnelby", std::wstring(40, L'長'), L"?", L"YNC", 3);
    const int right = d->lblMsg->Left() + d->lblMsg->Width() + 20;
    ASSERT_GT(right, 310);
    EXPECT_EQ(d->Width(), right + 16);
    EXPECT_EQ(d->btnMode3->Left(), (right + 16) / 2 + 42);
    EXPECT_EQ(d->Left(), 274 + (328 - d->Width()) / 2); // left of the narrower parent
    EXPECT_LT(d->Left(), 274);
}

// Pixels of an image control, painted off screen.
COLORREF ImagePixel(TImage* image, int x, int y) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 32);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bmp);
    image->PaintTo(dc);
    COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return c;
}

TEST_F(ConfirmTest, IconArgumentPicksThePicture) {
    auto same = [](TImage* a, TImage* b) {
        for (int y = 2; y < 32; y += 5)
            for (int x = 2; x < 32; x += 5)
                if (ImagePixel(a, x, y) != ImagePixel(b, x, y)) return false;
        return true;
    };
    TFormPtr<TfrmConfirm> d(new TfrmConfirm);
    TFormPtr<TfrmConfirm> fresh(new TfrmConfirm);
    EXPECT_EQ(d->Image1->Width(), 32);
    d->Prepare(nullptr, L"c", L"m", L"X", L"Y", 1);
    EXPECT_TRUE(same(d->Image1, d->img4));
    EXPECT_FALSE(same(d->Image1, d->img0));
    d->Prepare(nullptr, L"c", L"m", L"!", L"Y", 1);
    EXPECT_TRUE(same(d->Image1, d->img2));
    d->Prepare(nullptr, L"c", L"m", L"?", L"Y", 1);
    EXPECT_TRUE(same(d->Image1, d->img1));
    d->Prepare(nullptr, L"c", L"m", L"info", L"Y", 1);
    EXPECT_TRUE(same(d->Image1, d->img0));
    // An unknown letter keeps the design picture.
    fresh->Prepare(nullptr, L"c", L"m", L"w", L"Y", 1);
    TFormPtr<TfrmConfirm> untouched(new TfrmConfirm);
    EXPECT_TRUE(same(fresh->Image1, untouched->Image1));
    EXPECT_FALSE(same(fresh->Image1, fresh->img1));
}

TEST_F(ConfirmTest, ButtonsGetTheProgramsHandCursor) {
    TFormPtr<TfrmConfirm> d(new TfrmConfirm);
    EXPECT_EQ(d->btnMode1->Cursor(), 1);
    EXPECT_EQ(d->btnMode3->Cursor(), 1);
    EXPECT_EQ(d->Image1->Cursor(), crDefault);
}

TEST_F(ConfirmTest, KeysAnswerPerButtonSet) {
    EXPECT_EQ(Ask(L"Y", 1, Keys({VK_ESCAPE})), 6);
    EXPECT_EQ(Ask(L"Y", 1, Keys({'Y'})), 6);
    EXPECT_EQ(Ask(L"YN", 2, Keys({VK_ESCAPE})), 7);
    EXPECT_EQ(Ask(L"yn", 2, Keys({'Y'})), 6);
    EXPECT_EQ(Ask(L"YN", 1, Keys({'N'})), 7);
    EXPECT_EQ(Ask(L"YC", 1, Keys({VK_ESCAPE})), 2);
    EXPECT_EQ(Ask(L"YNC", 3, Keys({VK_ESCAPE})), 2);
    EXPECT_EQ(Ask(L"ync", 3, Keys({'Y'})), 6);
    EXPECT_EQ(Ask(L"YNC", 3, Keys({'N'})), 7);
}

TEST_F(ConfirmTest, NWithoutANoButtonDoesNothing) {
    bool openAfterN = false;
    auto nThenEsc = [&](TAnswer& a) {
        a.Key('N');
        openAfterN = a.StillOpen();
        a.Key(VK_ESCAPE);
    };
    EXPECT_EQ(Ask(L"Y", 1, nThenEsc), 6);
    EXPECT_TRUE(openAfterN);
    openAfterN = false;
    EXPECT_EQ(Ask(L"YC", 1, nThenEsc), 2);
    EXPECT_TRUE(openAfterN);
}

TEST_F(ConfirmTest, ClosingFromTheTitleBarNeverCancelsWithoutACancelButton) {
    auto close = [](TAnswer& a) { a.CloseBox(); };
    EXPECT_EQ(Ask(L"Y", 1, close), 6);
    EXPECT_EQ(Ask(L"YN", 2, close), 7);
    EXPECT_EQ(Ask(L"YC", 1, close), 2);
    EXPECT_EQ(Ask(L"YNC", 1, close), 2);
}

TEST_F(ConfirmTest, DefaultButtonHasTheFocusAndEnterOrSpacePressesIt) {
    TFormPtr<TfrmParent> parent(new TfrmParent);
    parent->Show();
    std::wstring focused;
    EXPECT_EQ(Ask(L"YN", 2, Keys({VK_RETURN}), parent.get(), &focused), 7);
    EXPECT_EQ(focused, L"いいえ");
    EXPECT_EQ(Ask(L"YNC", 3, Keys({VK_SPACE}), parent.get(), &focused), 2);
    EXPECT_EQ(focused, L"ｷｬﾝｾﾙ");
    EXPECT_EQ(Ask(L"YN", 1, Keys({VK_SPACE}), parent.get(), &focused), 6);
    EXPECT_EQ(focused, L"はい");

    // Tab moves along the shown buttons: from "いいえ" past the hidden Cancel to "はい".
    std::wstring afterTab;
    EXPECT_EQ(Ask(
                  L"YN", 2,
                  [&](TAnswer& a) {
                      a.Key(VK_TAB);
                      afterTab = a.focusText;
                      a.Key(VK_RETURN);
                  },
                  parent.get()),
              6);
    EXPECT_EQ(afterTab, L"はい");
}

TEST_F(ConfirmTest, TheDialogIsReleasedAfterTheAnswer) {
    Ask(L"Y", 1, Keys({'Y'}));
    int forms = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM lp) -> BOOL {
            wchar_t cls[64] = {};
            GetClassNameW(w, cls, 64);
            wchar_t text[64] = {};
            GetWindowTextW(w, text, 64);
            if (std::wstring(cls) == FormWindowClass() &&
                std::wstring(text).rfind(L"Question", 0) == 0)
                ++*reinterpret_cast<int*>(lp);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&forms));
    EXPECT_EQ(forms, 0);
}

} // namespace
