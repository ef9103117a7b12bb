// The status log operations of the main dialog.
#include <QPlainTextEdit>

#include "app/updater_dlg.h"
#include "platform/dialogs/edit_ops.h"

void CUpdaterDlg::ShowStatus() {
    UpdateData(false);
    const int lines = platform::EditLineCount(m_editStatus);
    platform::EditLineScroll(m_editStatus, lines);
}

void CUpdaterDlg::AppendStatus(const QString& text) {
    m_strStatus += text;
    ShowStatus();
}

void CUpdaterDlg::SetStatus(const QString& text) {
    m_strStatus = text;
    ShowStatus();
}
