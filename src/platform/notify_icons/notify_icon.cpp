#include "platform/notify_icons/notify_icon.h"

#include <map>
#include <string>

namespace platform {

unsigned RegisterWindowMessage(const char* name) {
    static std::map<std::string, unsigned> ids;
    auto [it, added] = ids.try_emplace(name, 0xC000u + static_cast<unsigned>(ids.size()));
    return it->second;
}

}  // namespace platform
