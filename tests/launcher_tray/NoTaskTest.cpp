// Task-bar hiding: a real top-level window plays the application's task-bar window, a hidden
// window plays the owner form whose window procedure the component hooks.
#include "support/NoTask.h"

#include <gtest/gtest.h>

#include "support/Testing.h"
#include "win/UtilityWindow.h"

namespace pw {
namespace {

class TestForm : public TComponent, public IFormOwner {
public:
    TestForm()
        : window_([this](UINT msg, WPARAM wParam, LPARAM, LRESULT&) {
              if (msg == WM_SHOWWINDOW && wParam != 0)
                  ++ShowNotices;
              return false;
          }) {}
    HWND FormHandle() override { return window_.Handle(); }

    int ShowNotices = 0;

private:
    UtilityWindow window_;
};

// A tool window: showing and hiding it does not wait for a window manager under Xvfb.
class NoTaskFixture : public ::testing::Test {
protected:
    NoTaskFixture()
        : title("pw support test application " + std::to_string(GetCurrentProcessId())),
          application(CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", title.c_str(), WS_POPUP, 0, 0,
                                      120, 60, nullptr, nullptr, GetModuleHandleA(nullptr),
                                      nullptr)),
          formProc(GetWindowLongPtrA(form.FormHandle(), GWLP_WNDPROC)) {
        ShowApplication();
    }

    void ShowApplication() { ::ShowWindow(application.get(), SW_SHOWNOACTIVATE); }
    bool ApplicationVisible() const { return IsWindowVisible(application.get()) != FALSE; }
    void ShowForm() {
        ::ShowWindow(form.FormHandle(), SW_HIDE);
        ::ShowWindow(form.FormHandle(), SW_SHOWNOACTIVATE);
    }

    std::string title;
    UniqueWindow application;
    TestForm form;
    LONG_PTR formProc;
};

TEST_F(NoTaskFixture, HidesAtLoadAndFollowsHideForm) {
    ASSERT_TRUE(ApplicationVisible());
    TNoTask& noTask = form.CreateOwned<TNoTask>(title);
    EXPECT_TRUE(noTask.HideForm());
    EXPECT_TRUE(ApplicationVisible()) << "nothing is applied before the load";
    noTask.Loaded();
    EXPECT_FALSE(ApplicationVisible());

    noTask.SetHideForm(false);
    EXPECT_TRUE(ApplicationVisible());
    ProcessMessages();
    noTask.SetHideForm(true);
    EXPECT_FALSE(ApplicationVisible());
}

TEST_F(NoTaskFixture, ShowingTheFormHidesTheApplicationAgain) {
    {
        TNoTask noTask(&form, title);
        noTask.Loaded();
        ShowApplication();
        ShowForm();
        EXPECT_FALSE(ApplicationVisible());
        EXPECT_EQ(form.ShowNotices, 1) << "the form's own procedure still gets the notice";
    }
    EXPECT_EQ(GetWindowLongPtrA(form.FormHandle(), GWLP_WNDPROC), formProc);
    ShowApplication();
    ShowForm();
    EXPECT_TRUE(ApplicationVisible()) << "unhooked";
    EXPECT_EQ(form.ShowNotices, 2);
}

TEST_F(NoTaskFixture, SeveralOnOneFormOutsideDesignModeUnhookInAnyOrder) {
    auto first = std::make_unique<TNoTask>(&form, title);
    auto second = std::make_unique<TNoTask>(&form, title);
    ShowForm();
    EXPECT_FALSE(ApplicationVisible());
    EXPECT_EQ(form.ShowNotices, 1);

    first.reset();
    ShowApplication();
    ShowForm();
    EXPECT_FALSE(ApplicationVisible());
    EXPECT_EQ(form.ShowNotices, 2);

    second.reset();
    EXPECT_EQ(GetWindowLongPtrA(form.FormHandle(), GWLP_WNDPROC), formProc);
    ShowApplication();
    ShowForm();
    EXPECT_TRUE(ApplicationVisible());
    EXPECT_EQ(form.ShowNotices, 3);
}

TEST_F(NoTaskFixture, DesignModeRefusesADuplicateAndApplyNothingAtLoad) {
    form.SetDesigning(true);
    TNoTask& noTask = form.CreateOwned<TNoTask>(title);
    EXPECT_TRUE(noTask.Designing());
    noTask.Loaded();
    EXPECT_TRUE(ApplicationVisible());
    try {
        form.CreateOwned<TNoTask>(title);
        FAIL() << "a second TNoTask was accepted";
    } catch (const TDuplicateComponent& e) {
        EXPECT_STREQ(e.what(), "There is already a TNoTask component on this Form");
    }
    EXPECT_EQ(form.Components().size(), 1u);
    ShowForm(); // the first one is still hooked
    EXPECT_FALSE(ApplicationVisible());
}

TEST_F(NoTaskFixture, OwnerThatIsNotAFormIsRefusedInDesignModeOnly) {
    TComponent notAForm;
    EXPECT_NO_THROW(notAForm.CreateOwned<TNoTask>(title).Loaded());
    EXPECT_FALSE(ApplicationVisible());

    TComponent designed;
    designed.SetDesigning(true);
    try {
        designed.CreateOwned<TNoTask>(title);
        FAIL() << "a TNoTask without a form was accepted";
    } catch (const TFormNotOwner& e) {
        EXPECT_STREQ(e.what(), "The owner of TNoTask Component is not a TForm");
    }
}

TEST_F(NoTaskFixture, FormWindowDestroyedFirstLeavesNothingToUnhook) {
    auto noTask = std::make_unique<TNoTask>(&form, title);
    DestroyWindow(form.FormHandle());
    EXPECT_NO_THROW(noTask.reset());
}

} // namespace
} // namespace pw
