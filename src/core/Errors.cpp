// The two argument-less exceptions take their texts from the message table.
#include "Errors.h"

#include "MessageTable.h"

namespace pw {

ECanceledError::ECanceledError() : Exception(LoadMessage(kMsgCanceled)) {}

ETimedOutError::ETimedOutError() : Exception(LoadMessage(kMsgTimedOut)) {}

} // namespace pw
