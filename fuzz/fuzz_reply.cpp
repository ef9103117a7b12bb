// The interpretation of whatever the first 18 bytes of a reply hold.
#include <QString>
#include <cstdint>

#include "update/reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::size_t taken = size < update::kReplySize ? size : update::kReplySize;
    const QString reply = update::TrimTrailingWhitespace(
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(taken)));
    const QString codeText = update::ReplyCodeText(reply);
    const int code = update::ReplyCode(codeText);
    const update::ReplyOutcome outcome = update::OutcomeOf(code);
    const QString address = update::ReplyAddress(reply);
    if (codeText.size() > 3 || address.size() > 15 || !outcome.statusText.endsWith(" \r\n") ||
        code < -99 || code > 999) {
        __builtin_trap();
    }
    return 0;
}
