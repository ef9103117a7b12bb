#include "platform/message_boxes.h"

#include <QMessageBox>

namespace platform {

void QtMessageBoxes::Show(QWidget* owner, const QString& text, const QString& caption,
                          BoxIcon icon) {
    QMessageBox box(icon == BoxIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    caption, text, QMessageBox::Ok, owner);
    box.exec();
}

}  // namespace platform
