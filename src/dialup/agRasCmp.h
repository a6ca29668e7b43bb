// The dial-up component: lists the phone-book entries, finds a usable connection, dials an entry
// while the user interface keeps running, and hangs up a line it dialled. Every RAS function is
// looked up by name at the moment of the call, so a machine without RAS runs without dial-up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"
#include "core/Errors.h"
#include "mail/DialLink.h"
#include "win/Handles.h"
#include "win/Timer.h"
#include "win/UtilityWindow.h"

namespace pw {

using TRASNotifyEvent = std::function<void(TObject& Sender, const std::string& RASStatusStr)>;

// Shows a message box; the signature of MessageBoxA.
using MessageBoxFunction =
    std::function<int(HWND owner, const char* text, const char* caption, UINT type)>;

// Loads the RAS library: "rasapi32.dll" from the system directory only, or, given a full path
// (tests point it at the simulated library), that file; a relative path is refused. Nothing in
// the environment can choose the file. An empty handle when it cannot be loaded.
UniqueModule LoadRasLibrary(const std::string& path = std::string());

// The error for a RAS error number, with the library's own text for it: "RAS error no " and the
// number when the library has none, an empty message when the library cannot be asked.
ERASError RasError(uint32_t code, HMODULE library);

class TagRas : public TComponent, public IDialLink {
public:
    using ConnectionHandle = HANDLE;
    static inline const ConnectionHandle kNoConnection = INVALID_HANDLE_VALUE;

    // libraryPath: see LoadRasLibrary; empty in the product.
    explicit TagRas(TComponent* owner = nullptr, const std::string& libraryPath = std::string());
    ~TagRas() override;

    // Published properties.
    const std::string& Service() const { return Service_; }
    void SetService(const std::string& value);
    bool ForceService = true;
    bool MinimizeAtConnect = false;
    std::string Password;
    std::string UserName;
    bool RemovePassword = true;
    int32_t TimeOut = 120;
    TRASNotifyEvent OnStatusChange;
    TNotifyEvent OnDisconnected;

    // Public state.
    bool Connected = false;
    bool Dialled = false;
    bool Failed = false; // the agent also sets it when Connect raises
    bool Cancelled = false;
    uint32_t LastError = 0;
    std::vector<std::string> Entries;

    const std::vector<std::string>& GetEntries();
    bool RasAvailable() const { return !Entries.empty(); }
    bool IsConnected();
    void Connect() override;
    void Cancel() override;
    void HangUp();

    ConnectionHandle ConnHandle() const { return ConnHandle_; }
    HWND NotifyWindow() const { return NotifyWindow_ ? NotifyWindow_->Handle() : nullptr; }

    // The message box of the Service setter; MessageBoxA unless a test replaces it.
    MessageBoxFunction ShowMessageBox = MessageBoxA;

private:
    template <typename Function> Function RasFunction(const char* name) const;
    void CreateNotifyWindow();
    bool DialEvent(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    std::string StatusText(uint32_t state) const;
    void CountdownTick();
    [[noreturn]] void FailDial(uint32_t code, bool hangUp);
    [[noreturn]] void FailCancelled();
    void MinimizeDialog();

    std::string Service_;
    ConnectionHandle ConnHandle_ = kNoConnection;
    // ConnHandle_ came from a RasDialA that has not succeeded (yet): whatever Dialled says,
    // HangUp releases it, so that a failed, cancelled or timed-out dial leaves no line up.
    bool PendingDial_ = false;
    bool CancelRequested = false;
    bool TimedOut = false;
    int32_t Countdown = 0;
    TTimer Timer;
    UINT DialEventMessage = 0;
    std::unique_ptr<UtilityWindow> NotifyWindow_;
    UniqueModule Library;
};

} // namespace pw
