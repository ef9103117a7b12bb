#include "platform/dialogs/data_exchange.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <limits>

#include "platform/dialogs/typing_rules.h"

namespace platform {

namespace {

// A text longer than this is always rewritten, even when unchanged.
constexpr int kAlwaysRewriteLength = 256;

QString TextOf(QWidget* w) {
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
        return line->text();
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        return plain->toPlainText().replace('\n', "\r\n");
    }
    return {};
}

void SetTextOf(QWidget* w, const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->setText(text);
        line->setCursorPosition(0);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        // The control shows CR LF as one line break.
        plain->setPlainText(QString(text).replace("\r\n", "\n"));
    }
}

void SelectAll(QWidget* w) {
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->selectAll();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        plain->selectAll();
    }
}

bool IsBlank(QChar c) {
    return c == ' ' || c == '\t';
}

}  // namespace

void BoundControls::ForgetAll() {
    for (const auto& forget : std::exchange(forgets_, {})) {
        forget();
    }
}

DataExchange::DataExchange(ControlById controlById, FailureBox showFailure, BoundControls& bound,
                           bool saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate),
      controlById_(std::move(controlById)),
      showFailure_(std::move(showFailure)),
      bound_(bound) {}

QWidget* DataExchange::PrepareControl(int id) {
    if (failed_) {
        return nullptr;
    }
    lastControl_ = controlById_(id);
    return lastControl_;
}

void DataExchange::Fail(const QString& message, BoxIcon icon) {
    showFailure_(message, icon);
    if (lastControl_ != nullptr) {
        lastControl_->setFocus(Qt::OtherFocusReason);
        SelectAll(lastControl_);
    }
    failed_ = true;
}

std::optional<int> ParseDialogInteger(const QString& text) {
    int pos = 0;
    const int n = static_cast<int>(text.size());
    while (pos < n && IsBlank(text[pos])) {
        ++pos;
    }
    const QChar first = pos < n ? text[pos] : QChar();
    bool negative = false;
    if (pos < n && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    long long value = 0;
    const int digitsStart = pos;
    while (pos < n && text[pos] >= '0' && text[pos] <= '9') {
        value = std::min<long long>(value * 10 + (text[pos].unicode() - '0'),
                                    1LL + std::numeric_limits<int>::max());
        ++pos;
    }
    while (pos < n && IsBlank(text[pos])) {
        ++pos;
    }
    if (pos != n || pos == digitsStart || (value == 0 && first != '0')) {
        return std::nullopt;
    }
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

void DDX_Text(DataExchange& dx, int id, QString& value) {
    QWidget* w = dx.PrepareControl(id);
    if (w == nullptr) {
        return;
    }
    if (dx.m_bSaveAndValidate) {
        value = TextOf(w);
    } else if (value.size() >= kAlwaysRewriteLength || TextOf(w) != value) {
        SetTextOf(w, value);
    }
}

void DDX_Text(DataExchange& dx, int id, int& value) {
    QWidget* w = dx.PrepareControl(id);
    if (w == nullptr) {
        return;
    }
    if (!dx.m_bSaveAndValidate) {
        SetTextOf(w, QString::number(value));
    } else if (auto parsed = ParseDialogInteger(TextOf(w))) {
        value = *parsed;
    } else {
        dx.Fail("Please enter an integer.", BoxIcon::None);
    }
}

void DDX_Check(DataExchange& dx, int id, int& value) {
    auto* button = qobject_cast<QAbstractButton*>(dx.PrepareControl(id));
    if (button == nullptr) {
        return;
    }
    if (dx.m_bSaveAndValidate) {
        value = button->isChecked() ? 1 : 0;
    } else {
        button->setChecked(value != 0);
    }
}

void DDV_MaxChars(DataExchange& dx, const QString& value, int maxChars) {
    if (dx.Failed()) {
        return;
    }
    if (!dx.m_bSaveAndValidate) {
        SetTypingLimit(dx.LastControl(), maxChars);
    } else if (value.size() > maxChars) {
        dx.Fail(QString("Please enter no more than %1 characters.").arg(maxChars),
                BoxIcon::Exclamation);
    }
}

void DDV_MinMaxInt(DataExchange& dx, int value, int minValue, int maxValue) {
    if (dx.Failed() || !dx.m_bSaveAndValidate) {
        return;
    }
    if (value < minValue || value > maxValue) {
        dx.Fail(QString("Please enter an integer between %1 and %2.").arg(minValue).arg(maxValue),
                BoxIcon::Exclamation);
    }
}

}  // namespace platform
