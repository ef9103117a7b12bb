// Icon 128: the application's icon, compiled into the program.
#pragma once

#include <QIcon>

namespace res {

QIcon AppIcon();

}  // namespace res
