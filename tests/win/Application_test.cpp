#include "forms/Forms.h"

#include <gtest/gtest.h>

#include <string>

using namespace forms;

namespace {

std::wstring events;

class TfrmFirst : public TForm {
public:
    TfrmFirst()
        : TForm({.bounds = {10, 10, 200, 150},
                 .onCreate = [](TObject*) { events += L"create first;"; },
                 .onShow =
                     [this](TObject*) {
                         events += L"show first;";
                         PostMessageW(Handle(), WM_CLOSE, 0, 0);
                     },
                 .onDestroy = [](TObject*) { events += L"destroy first;"; },
                 .onCloseQuery = [](TObject*, bool&) { events += L"close first;"; }}) {
        Loaded();
    }
};

class TfrmSecond : public TForm {
public:
    TfrmSecond()
        : TForm({.bounds = {10, 10, 100, 100},
                 .onCreate = [](TObject*) { events += L"create second;"; },
                 .onDestroy = [](TObject*) { events += L"destroy second;"; }}) {
        Loaded();
    }
};

TEST(Application, RunsUntilTheMainFormClosesThenFreesTheFormsLastFirst) {
    Application.Initialize();
    TfrmFirst* first = nullptr;
    TfrmSecond* second = nullptr;
    Application.CreateForm(first);
    Application.CreateForm(second);
    EXPECT_EQ(Application.MainForm(), first);
    // Later forms are owned by the main form, so they stay above it.
    EXPECT_EQ(GetWindow(second->Handle(), GW_OWNER), first->Handle());
    EXPECT_FALSE(IsWindowVisible(second->Handle()));
    Application.Run();
    EXPECT_TRUE(Application.Terminated());
    EXPECT_EQ(events, L"create first;create second;show first;close first;destroy second;"
                      L"destroy first;");
    EXPECT_EQ(Application.MainForm(), nullptr);
}

} // namespace
