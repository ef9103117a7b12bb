#include "platform/dialogs/message_boxes.h"

#include <QMessageBox>

#include "platform/dialogs/modal_stack.h"

namespace platform {

void QtMessageBoxes::Show(QWidget* owner, const QString& text, const QString& caption,
                          BoxIcon icon) {
    QMessageBox box(icon == BoxIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    caption, text, QMessageBox::Ok, owner);
    ModalScope modal([&box] { box.done(QMessageBox::Ok); });
    box.exec();
}

}  // namespace platform
