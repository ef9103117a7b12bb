#include "service/app/host_labels.h"

#include "service/dns/names.h"

namespace service {

std::string HostLabelRefusal(const std::string& label, const std::set<std::string>& reserved) {
    if (!PublishableLabel(label)) {
        return "\"" + label +
               "\" is not a host label: 1 to 63 letters, digits and hyphens, no hyphen at either "
               "end";
    }
    if (ReservedLabel(label, reserved)) {
        return "\"" + label + "\" is one of the zone's own names";
    }
    return "";
}

std::string HostLabelTaken(const std::string& label) {
    return "\"" + AsciiLower(label) + "\" is taken or held by the zone";
}

}  // namespace service
