// The floor of the stack: a dialog with a menu, a few labels, edits and buttons,
// run modally like the program's window. It writes "shown.marker" in its
// current folder once its window is built and sized from its font, the point
// where the program writes its settings file, so both are timed alike.
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle("Floor");
    auto* bar = new QMenuBar(&dialog);
    bar->addMenu("&Network")->addAction("&Quit");
    new QPlainTextEdit(&dialog);
    for (int i = 0; i < 3; ++i) {
        new QLabel("Label:", &dialog);
        new QLineEdit(&dialog);
    }
    for (const char* text : {"Connect", "Disconnect", "Web Site", "Options"}) {
        new QPushButton(text, &dialog);
    }
    dialog.adjustSize();
    QFile marker("shown.marker");
    marker.open(QIODevice::WriteOnly);
    marker.close();
    return dialog.exec();
}
