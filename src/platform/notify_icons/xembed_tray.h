// What the X server says about the XEmbed tray: whether one serves icons, and
// whether it took ours in.
#pragma once

namespace platform {

// Whether an XEmbed tray shows icons: one owns the tray selection and is not
// merely a bridge to a D-Bus host that is not there.
bool XEmbedTrayPresent();

// Whether a tray has taken the XEmbed icon's window in.
bool XEmbedIconEmbedded();

}  // namespace platform
