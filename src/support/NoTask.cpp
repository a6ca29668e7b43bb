// Task-bar hiding; see NoTask.h. The owner form's window procedure is replaced by one that
// finds the component through a window property; several TNoTask on one form (allowed
// outside design mode) form a chain in hooking order, newest first.
#include "NoTask.h"

namespace pw {

namespace {
constexpr char kHookProperty[] = "PwNoTaskHook";

TNoTask* HookedComponent(HWND form) {
    return static_cast<TNoTask*>(GetPropA(form, kHookProperty));
}
} // namespace

TNoTask::TNoTask(TComponent* owner, std::string applicationTitle)
    : TComponent(owner), ApplicationTitle(std::move(applicationTitle)) {
    if (owner != nullptr && owner->Designing())
        SetDesigning(true);
    if (Designing()) {
        if (dynamic_cast<IFormOwner*>(owner) == nullptr)
            throw TFormNotOwner("The owner of TNoTask Component is not a TForm");
        int count = 1; // this one, which its owner does not list yet
        for (const auto& component : owner->Components())
            if (component.get() != this && dynamic_cast<TNoTask*>(component.get()) != nullptr)
                ++count;
        if (count > 1)
            throw TDuplicateComponent("There is already a TNoTask component on this Form");
    }
    HookOwner();
}

TNoTask::~TNoTask() {
    UnhookOwner();
}

void TNoTask::Loaded() {
    if (!Designing())
        ApplyHideForm();
}

void TNoTask::SetHideForm(bool value) {
    hideForm_ = value;
    ApplyHideForm();
}

void TNoTask::ApplyHideForm() {
    // An empty title would match some untitled window of the program, not the application's.
    if (ApplicationTitle.empty())
        return;
    const HWND window = FindWindowA(nullptr, ApplicationTitle.c_str());
    if (window != nullptr)
        ::ShowWindow(window, hideForm_ ? SW_HIDE : SW_RESTORE);
}

void TNoTask::HookOwner() {
    auto* form = dynamic_cast<IFormOwner*>(Owner());
    if (form == nullptr)
        return;
    const HWND handle = form->FormHandle();
    if (handle == nullptr)
        return;
    previous_ = HookedComponent(handle);
    OldWindowProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(handle, GWLP_WNDPROC));
    SetPropA(handle, kHookProperty, this);
    SetWindowLongPtrA(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TNoTask::HookInstance));
    form_ = handle;
}

void TNoTask::UnhookOwner() {
    if (form_ == nullptr)
        return;
    const WNDPROC hook = &TNoTask::HookInstance;
    TNoTask* head = HookedComponent(form_);
    if (head == this) {
        if (previous_ != nullptr)
            SetPropA(form_, kHookProperty, previous_);
        else
            RemovePropA(form_, kHookProperty);
        if (OldWindowProc != hook)
            SetWindowLongPtrA(form_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OldWindowProc));
    } else {
        // Hooked before a later TNoTask: that one now passes on to what this one passed on to.
        for (TNoTask* above = head; above != nullptr; above = above->previous_) {
            if (above->previous_ == this) {
                above->previous_ = previous_;
                if (OldWindowProc != hook)
                    above->OldWindowProc = OldWindowProc;
                break;
            }
        }
    }
    Unlink();
}

void TNoTask::Unlink() {
    form_ = nullptr;
    OldWindowProc = nullptr;
    previous_ = nullptr;
}

LRESULT CALLBACK TNoTask::HookInstance(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TNoTask* self = HookedComponent(hwnd);
    if (self == nullptr)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    return self->WindowProc(msg, wParam, lParam);
}

LRESULT TNoTask::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    const WNDPROC hook = &TNoTask::HookInstance;
    const HWND form = form_;
    TNoTask* last = this;
    for (TNoTask* component = this; component != nullptr; component = component->previous_) {
        last = component;
        if (msg == WM_SHOWWINDOW && wParam != 0)
            component->ApplyHideForm();
        if (component->OldWindowProc != hook)
            break;
    }
    const WNDPROC next = last->OldWindowProc;
    if (msg == WM_NCDESTROY) {
        // The form goes away before its components: nothing is left to unhook.
        RemovePropA(form, kHookProperty);
        for (TNoTask* component = this; component != nullptr;) {
            TNoTask* below = component->previous_;
            component->Unlink();
            component = below;
        }
        SetWindowLongPtrA(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
    }
    if (next == nullptr || next == hook)
        return DefWindowProcA(form, msg, wParam, lParam);
    return CallWindowProcA(next, form, msg, wParam, lParam);
}

} // namespace pw
