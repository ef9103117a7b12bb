// Places the program points its user to: the update service's home page, the
// author's mail address and the "Useful Sites" menu. Each site is labelled in
// the menu with its domain name.
#pragma once

#include "res/build_settings.h"

namespace res {

inline constexpr const char* kUsefulSite1 = "www.iana.org";
inline constexpr const char* kUsefulSite2 = "www.rfc-editor.org";
inline constexpr const char* kUsefulSite3 = "www.ietf.org";
inline constexpr const char* kAuthorAddress = "kestrome@example.org";

}  // namespace res
