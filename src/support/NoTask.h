// TNoTask keeps the application off the task bar by hiding the application's top-level
// window, and hides it again each time its owner form is shown.
#pragma once

#include <windows.h>

#include <string>

#include "core/Component.h"
#include "core/Errors.h"

namespace pw {

// What makes a component owner a form: a top-level window of its own. FormHandle creates
// the window when it does not exist yet and returns it.
class IFormOwner {
public:
    virtual HWND FormHandle() = 0;

protected:
    ~IFormOwner() = default;
};

// Raised in design mode only.
class TFormNotOwner : public Exception {
public:
    using Exception::Exception;
};
class TDuplicateComponent : public Exception {
public:
    using Exception::Exception;
};

class TNoTask : public TComponent {
public:
    // The owner should implement IFormOwner; its form's window procedure is hooked for the
    // component's lifetime. applicationTitle is the title of the application's task-bar
    // window. Takes the design state of its owner; in design mode refuses an owner that is
    // not a form and a second TNoTask on the same form.
    TNoTask(TComponent* owner, std::string applicationTitle);
    ~TNoTask() override;

    // To be called by the owner once its properties are set: applies HideForm, outside
    // design mode.
    void Loaded();

    bool HideForm() const { return hideForm_; }
    void SetHideForm(bool value);

    // Shows or hides the first top-level window titled ApplicationTitle by HideForm.
    void ApplyHideForm();

    std::string ApplicationTitle;

private:
    static LRESULT CALLBACK HookInstance(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    void HookOwner();
    void UnhookOwner();
    void Unlink();

    bool hideForm_ = true;
    HWND form_ = nullptr;
    WNDPROC OldWindowProc = nullptr;
    // Another TNoTask that hooked the same form before this one, whose turn comes next.
    TNoTask* previous_ = nullptr;
};

} // namespace pw
