// Out-of-line anchor of the message interface.
#include "composer/message_sink.h"

namespace quavella {

MessageSink::~MessageSink() = default;

}  // namespace quavella
