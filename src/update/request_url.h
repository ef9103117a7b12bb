// The update request's URL.
#pragma once

#include <QString>
#include <string>

namespace update {

// Percent-encodes text as UTF-8, leaving only A-Z a-z 0-9 - . _ ~ as they are,
// so that a standard query decoder yields exactly the text.
std::string PercentEncode(const QString& text);

// "http://" host "/process.php?login=" login "&password=" password.
std::string BuildRequestUrl(const std::string& host, const QString& login, const QString& password);

}  // namespace update
