#include "picker/xTarget.h"
#include "picker/xWindow.h"

#include "ControlTesting.h"
#include "base/WinUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

using namespace picker;

namespace {

// A top-level test window; visible unless told otherwise.
HWND MakeWindow(const std::wstring& title, bool visible = true) {
    return CreateWindowExW(0, L"STATIC", title.c_str(), WS_POPUP | (visible ? WS_VISIBLE : 0), 40,
                           60, 200, 100, nullptr, nullptr, nullptr, nullptr);
}

HWND MakeChild(HWND parent, const wchar_t* cls, const wchar_t* title, bool visible = true) {
    return CreateWindowExW(0, cls, title, WS_CHILD | (visible ? WS_VISIBLE : 0), 0, 0, 20, 20,
                           parent, nullptr, nullptr, nullptr);
}

const TWindowsListEntry* Find(const TWindowsList& list, HWND wnd) {
    const auto& entries = list.TheWindowsList();
    auto it = std::find_if(entries.begin(), entries.end(),
                           [wnd](const TWindowsListEntry& e) { return e.info.Handle == wnd; });
    return it == entries.end() ? nullptr : &*it;
}

// The main window as the picker sees it, with what it was asked to do.
struct TFakeCamera : TCameraWindow {
    core::Point WindowCorner() override { return {10, 10}; }
    core::Point CameraOrigin() override { return {14, 33}; }
    int BarsHeight() override { return 41; }
    std::vector<HWND> OwnWindows() override { return own; }
    void PlaceCamera(const core::CameraFit& fit) override { placed.push_back(fit); }
    std::vector<HWND> own;
    std::vector<core::CameraFit> placed;
};

class PickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        forms::Application.Initialize();
        if (!frmTarget) frmTarget = new TfrmTarget();
    }
};

} // namespace

TEST(WindowsListTest, ListsVisibleTitledWindowsWithTitlesCutTo254) {
    const std::wstring longTitle(300, L'x');
    HWND titled = MakeWindow(L"quarnelby listed"), untitled = MakeWindow(L"");
    HWND hidden = MakeWindow(L"quarnelby hidden", false), longOne = MakeWindow(longTitle);
    TWindowsList list(nullptr);
    list.Refresh();
    ASSERT_NE(Find(list, titled), nullptr);
    EXPECT_EQ(Find(list, titled)->title, L"quarnelby listed");
    EXPECT_EQ(Find(list, untitled), nullptr);
    EXPECT_EQ(Find(list, hidden), nullptr);
    ASSERT_NE(Find(list, longOne), nullptr);
    EXPECT_EQ(Find(list, longOne)->title, longTitle.substr(0, 254));
    const auto at = Find(list, titled) - list.TheWindowsList().data();
    EXPECT_EQ(list.GetHandle(static_cast<int>(at)), titled);

    list.SetAcceptEmptyNames(true);
    list.Refresh();
    ASSERT_NE(Find(list, untitled), nullptr);
    EXPECT_EQ(Find(list, untitled)->title, L"");
    for (HWND w : {titled, untitled, hidden, longOne})
        DestroyWindow(w);
}

TEST(WindowsListTest, ChildLinesAndLookupCountOnlyVisibleDescendants) {
    HWND top = MakeWindow(L"quarnelby parent");
    MakeChild(top, L"Edit", L"first, invisible", false);
    HWND edit = MakeChild(top, L"Edit", L"abc");
    HWND box = MakeChild(top, L"Static", L"", false);
    MakeChild(box, L"Button", L"inside an invisible one");
    HWND button = MakeChild(top, L"Button", L"OK");
    std::vector<std::wstring> lines{L"left over"};
    ListChildWindows(top, lines);
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"[ EDIT ]  :  \tABC", L"[ BUTTON ]  :  \tOK"}));
    EXPECT_EQ(ChildWindowAt(top, 0), edit);
    EXPECT_EQ(ChildWindowAt(top, 1), button);
    EXPECT_EQ(ChildWindowAt(top, 2), nullptr);

    HWND lonely = MakeWindow(L"quarnelby no children");
    ListChildWindows(lonely, lines);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(ChildWindowAt(lonely, 0), nullptr);
    DestroyWindow(top);
    DestroyWindow(lonely);
}

TEST(WindowsListTest, PastFiveHundredDescendantsListingAndLookupAgree) {
    HWND top = MakeWindow(L"quarnelby crowded");
    std::vector<HWND> children;
    for (int i = 0; i < 520; ++i)
        children.push_back(MakeChild(top, L"Static", std::to_wstring(i).c_str()));
    std::vector<std::wstring> lines;
    ListChildWindows(top, lines);
    ASSERT_EQ(lines.size(), 500u);
    EXPECT_EQ(lines.back(), L"[ STATIC ]  :  \t499");
    EXPECT_EQ(ChildWindowAt(top, 499), children[499]);
    EXPECT_EQ(ChildWindowAt(top, 500), nullptr);
    DestroyWindow(top);
}

TEST_F(PickerTest, FlashingGoesOnWhereTheLastShowingStopped) {
    auto waitForChange = [](forms::TColor from) {
        for (int i = 0; i < 300 && frmTarget->Shape1->PenColor() == from; ++i)
            Pump();
        return frmTarget->Shape1->PenColor();
    };
    frmTarget->Show();
    const forms::TColor first = frmTarget->Shape1->PenColor();
    const forms::TColor second = waitForChange(first);
    ASSERT_NE(second, first);
    frmTarget->Close();
    EXPECT_FALSE(IsWindowVisible(frmTarget->Handle()));
    Sleep(700);
    Pump();
    EXPECT_EQ(frmTarget->Shape1->PenColor(), second) << "changed after closing";
    frmTarget->Show();
    EXPECT_EQ(waitForChange(second), first);
    frmTarget->Close();
}

TEST_F(PickerTest, SelectionFramesTheWindowAndEnterChoosesItOnce) {
    HWND wnd = CreateWindowExW(0, L"STATIC", L"quarnelby picked", WS_POPUP | WS_VISIBLE, 100, 50,
                               640, 480, nullptr, nullptr, nullptr, nullptr);
    TFakeCamera camera;
    auto* picker = new TfrmWindow(camera);
    auto select = [picker] {
        for (forms::TTreeNode n : picker->trrWindow->Children(nullptr))
            if (picker->trrWindow->Text(n) == L"quarnelby picked") picker->trrWindow->Select(n);
    };
    // Enter in the tree, with the OK button the default one, while the picker runs modally.
    core::Rect frame{};
    forms::Application.Queue([&] {
        select();
        frame = frmTarget->BoundsRect();
        PostKey(picker->trrWindow->Handle(), VK_RETURN);
    });
    picker->ShowModal();
    EXPECT_EQ(frame, (core::Rect{97, 47, 647, 487}));
    ASSERT_EQ(camera.placed.size(), 1u);
    EXPECT_EQ(camera.placed[0], core::FitCameraToWindow(core::Rect{100, 50, 641, 481}, {4, 23}, 41,
                                                        base::WorkArea()));
    EXPECT_FALSE(IsWindowVisible(frmTarget->Handle()));

    // The program's own window is refused with the message, and nothing moves.
    camera.own = {wnd};
    std::thread answer([] {
        HWND confirm = nullptr;
        for (int i = 0; i < 200 && !confirm; ++i, Sleep(25))
            confirm = FindWindowW(forms::FormWindowClass(), L"Zo/quarnelby");
        if (confirm) PostMessageW(confirm, WM_CLOSE, 0, 0);
    });
    forms::Application.Queue([&] {
        select();
        picker->btnOKClick(nullptr);
        EXPECT_TRUE(IsWindowVisible(picker->Handle())) << "the picker closed after the refusal";
        picker->Close();
    });
    picker->ShowModal();
    answer.join();
    EXPECT_EQ(camera.placed.size(), 1u);

    // Gone since the tree was filled: nothing moves, not even the frame.
    camera.own.clear();
    picker->Show();
    select();
    frmTarget->SetBounds({1, 2, 3, 4});
    DestroyWindow(wnd);
    picker->trrWindowChange(nullptr);
    picker->btnOKClick(nullptr);
    EXPECT_EQ(camera.placed.size(), 1u);
    EXPECT_EQ(frmTarget->BoundsRect(), (core::Rect{1, 2, 3, 4}));
    picker->Free();
}
