#include "update/reply.h"

#include "platform/files/crt.h"

namespace update {

QString ReplyCodeText(const QString& reply) {
    return reply.left(3);
}

QString ReplyAddress(const QString& reply) {
    return reply.mid(3);
}

int ReplyCode(const QString& codeText) {
    return platform::AtoI(codeText.toLatin1().constData());
}

QString TrimTrailingWhitespace(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && QStringView(u" \t\r\n\v\f").contains(text[end - 1])) {
        --end;
    }
    return text.left(end);
}

ReplyOutcome OutcomeOf(int code) {
    switch (code) {
        case 0:
            return {"No response from website. \r\n", false};
        case kCodeUpdated:
            return {"Information Updated. \r\n", false};
        case 101:
            return {"User does not exist, please create one. \r\n", true};
        case 102:
            return {"Bad password, check or create new user. \r\n", true};
        case 103:
            return {
                "User BANNED. If you feel you recieved this in error, please contact the "
                "programmer. \r\n",
                true};
        default:
            return {"Unrecongized response from server. \r\n", false};
    }
}

ReplyOutcome UnreachableOutcome() {
    return {
        "Either you are not connected to the internet or the server is currently down. "
        "Please try again later. \r\n",
        true};
}

QString TimeStampLine(const QTime& time) {
    return QString("%1:%2:%3 \r\n").arg(time.hour()).arg(time.minute()).arg(time.second());
}

}  // namespace update
