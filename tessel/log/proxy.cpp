#include "tessel/log/log.h"
#include "tessel/unicode/unicode.h"

namespace tessel::log {

proxy::proxy(dispatcher* target, const std::string& prefix) : target_(target), prefix_(prefix) {}

void proxy::write(int level, const std::string&, const std::string& text)
{
    // The target stamps the line again with its own time.
    target_->deliver(level, unicode::to_wide(prefix_ + text, 65001));
}

} // namespace tessel::log
