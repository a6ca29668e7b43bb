// The two argument-less exceptions take their texts from the message table.
#include "Errors.h"

#include <new>
#include <stdexcept>
#include <system_error>
#include <typeinfo>

#include "MessageTable.h"

namespace pw {

ECanceledError::ECanceledError() : Exception(LoadMessage(kMsgCanceled)) {}

ETimedOutError::ETimedOutError() : Exception(LoadMessage(kMsgTimedOut)) {}

std::string ExceptionClassName(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->ClassName();
    // Most derived first: the first match names the class.
    if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr)
        return "std::bad_alloc";
    if (dynamic_cast<const std::system_error*>(&e) != nullptr)
        return "std::system_error";
    if (dynamic_cast<const std::out_of_range*>(&e) != nullptr)
        return "std::out_of_range";
    if (dynamic_cast<const std::invalid_argument*>(&e) != nullptr)
        return "std::invalid_argument";
    if (dynamic_cast<const std::length_error*>(&e) != nullptr)
        return "std::length_error";
    if (dynamic_cast<const std::logic_error*>(&e) != nullptr)
        return "std::logic_error";
    if (dynamic_cast<const std::runtime_error*>(&e) != nullptr)
        return "std::runtime_error";
    if (dynamic_cast<const std::bad_cast*>(&e) != nullptr)
        return "std::bad_cast";
    return "std::exception";
}

} // namespace pw
