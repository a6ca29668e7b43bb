// DDEML binding; see Dde.h.
#include "Dde.h"

#include <stdexcept>
#include <utility>

#include "win/ExceptionHook.h"

namespace pw {

namespace {
thread_local DdeInstance* threadInstance = nullptr;
} // namespace

DdeString::DdeString(DWORD instance, std::string_view text) : instance_(instance) {
    const std::string name(text);
    handle_ = DdeCreateStringHandleA(instance, name.c_str(), CP_WINANSI);
}

DdeString::DdeString(DdeString&& other) noexcept
    : instance_(other.instance_), handle_(std::exchange(other.handle_, nullptr)) {}

DdeString& DdeString::operator=(DdeString&& other) noexcept {
    if (this != &other) {
        reset();
        instance_ = other.instance_;
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void DdeString::reset() {
    if (handle_ != nullptr)
        DdeFreeStringHandle(instance_, std::exchange(handle_, nullptr));
}

DdeInstance::DdeInstance() {
    if (threadInstance != nullptr)
        throw std::logic_error("a DDE instance exists on this thread already");
    const UINT result =
        DdeInitializeA(&id_, &DdeInstance::Callback,
                       APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS, 0);
    if (result != DMLERR_NO_ERROR)
        throw std::runtime_error("DDE cannot be initialised: error " + std::to_string(result));
    threadInstance = this;
}

DdeInstance::~DdeInstance() {
    if (service_)
        DdeNameService(id_, service_.get(), nullptr, DNS_UNREGISTER);
    service_.reset();
    DdeUninitialize(id_);
    threadInstance = nullptr;
}

std::string DdeInstance::Text(HSZ handle) const {
    char text[256] = {};
    const DWORD n = DdeQueryStringA(id_, handle, text, sizeof text, CP_WINANSI);
    return std::string(text, n < sizeof text ? n : sizeof text - 1);
}

bool DdeInstance::Same(HSZ handle, std::string_view text) const {
    // String handles compare without regard to letter case, as DDEML's names do.
    const DdeString other = String(text);
    return handle != nullptr && DdeCmpStringHandles(handle, other.get()) == 0;
}

bool DdeInstance::RegisterService(std::string_view name) {
    if (service_)
        DdeNameService(id_, service_.get(), nullptr, DNS_UNREGISTER);
    service_ = String(name);
    return service_ && DdeNameService(id_, service_.get(), nullptr, DNS_REGISTER) != nullptr;
}

bool DdeInstance::EnableCallbacks(HCONV conversation) {
    return DdeEnableCallback(id_, conversation, EC_ENABLEALL) != FALSE;
}

HDDEDATA CALLBACK DdeInstance::Callback(UINT type, UINT format, HCONV conversation, HSZ string1,
                                        HSZ string2, HDDEDATA data, ULONG_PTR data1,
                                        ULONG_PTR data2) {
    DdeInstance* self = threadInstance;
    if (self == nullptr || !self->OnTransaction)
        return nullptr;
    const DdeTransaction transaction{type,    format, conversation, string1,
                                     string2, data,   data1,        data2};
    HDDEDATA result = nullptr;
    // An exception must not unwind through DDEML's frames.
    GuardedCall([&] { result = self->OnTransaction(*self, transaction); });
    return result;
}

std::string DdeDataText(HDDEDATA data, std::size_t maxBytes) {
    if (data == nullptr)
        return std::string();
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    std::string bytes(size < maxBytes ? size : maxBytes, '\0');
    if (!bytes.empty())
        bytes.resize(DdeGetData(data, reinterpret_cast<LPBYTE>(&bytes[0]),
                                static_cast<DWORD>(bytes.size()), 0));
    const size_t nul = bytes.find('\0');
    if (nul != std::string::npos)
        bytes.resize(nul);
    return bytes;
}

HDDEDATA MakeDdeText(const DdeInstance& instance, HSZ item, std::string_view text) {
    std::string bytes(text);
    return DdeCreateDataHandle(instance.Id(),
                               reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.c_str())),
                               static_cast<DWORD>(bytes.size() + 1), 0, item, CF_TEXT, 0);
}

bool DdeConversation::Connect(const DdeInstance& instance, std::string_view service,
                              std::string_view topic) {
    Disconnect();
    instance_ = &instance;
    const DdeString serviceName = instance.String(service);
    const DdeString topicName = instance.String(topic);
    handle_ = DdeConnect(instance.Id(), serviceName.get(), topicName.get(), nullptr);
    return handle_ != nullptr;
}

void DdeConversation::Disconnect() {
    if (handle_ != nullptr)
        DdeDisconnect(std::exchange(handle_, nullptr));
    item_.reset();
    itemText_.clear();
}

HSZ DdeConversation::Item(std::string_view item) {
    if (!item_ || itemText_ != item) {
        itemText_ = item;
        item_ = instance_->String(item);
    }
    return item_.get();
}

bool DdeConversation::StartAdvise(std::string_view item, DWORD timeoutMs) {
    if (handle_ == nullptr || item.empty())
        return false;
    DWORD result = 0;
    return DdeClientTransaction(nullptr, 0, handle_, Item(item), CF_TEXT,
                                XTYP_ADVSTART | XTYPF_NODATA, timeoutMs, &result) != nullptr;
}

bool DdeConversation::PokeAsync(std::string_view item, std::string_view text) {
    if (handle_ == nullptr || item.empty())
        return false;
    HSZ itemName = Item(item);
    HDDEDATA data = MakeDdeText(*instance_, itemName, text);
    if (data == nullptr)
        return false;
    DWORD transaction = 0;
    // The data handle passes to DDEML with the transaction; it is ours only if that fails.
    if (DdeClientTransaction(reinterpret_cast<LPBYTE>(data), static_cast<DWORD>(-1), handle_,
                             itemName, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC,
                             &transaction) == nullptr) {
        DdeFreeDataHandle(data);
        return false;
    }
    return true;
}

} // namespace pw
