// Interpretation of the update service's reply: its code, the status text that
// replaces the log, the address of a successful update and whether the
// connection ends.
#pragma once

#include <QString>
#include <QTime>

namespace update {

// How much of the reply body is ever read.
inline constexpr int kReplySize = 18;

inline constexpr int kCodeUpdated = 100;

// The reply's code text: its first three characters (all of it when shorter).
QString ReplyCodeText(const QString& reply);
// The reply from its fourth character on: the address of a code-100 reply.
QString ReplyAddress(const QString& reply);
// The code read from the code text the way atoi reads it.
int ReplyCode(const QString& codeText);
// The reply with white space at its end removed.
QString TrimTrailingWhitespace(const QString& text);

struct ReplyOutcome {
    QString statusText;   // replaces the whole status log
    bool endsConnection;  // the connection goes down (OnDisconnect)
};
ReplyOutcome OutcomeOf(int code);
// The outcome when the service could not be reached.
ReplyOutcome UnreachableOutcome();

// "Reading Information.", shown while the reply is interpreted.
inline constexpr const char* kReadingInformation = "Reading Information.";

// The line logged after an update: hour, minute and second without leading zeros.
QString TimeStampLine(const QTime& time);

}  // namespace update
