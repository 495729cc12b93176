#include "platform/prompt.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {
namespace {

QMessageBox::Icon ToQt(IPrompt::Icon icon) {
    switch (icon) {
        case IPrompt::Icon::Information:
            return QMessageBox::Information;
        case IPrompt::Icon::Warning:
            return QMessageBox::Warning;
        case IPrompt::Icon::Error:
            return QMessageBox::Critical;
        case IPrompt::Icon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

}  // namespace

void QtPrompt::Message(Icon icon, const std::string& title, const std::string& text) {
    if (!HaveWidgets()) return;
    QMessageBox box(ToQt(icon), QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
}

bool QtPrompt::AskYesNo(Icon icon, const std::string& title, const std::string& text) {
    if (!HaveWidgets()) return false;
    QMessageBox box(ToQt(icon), QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace platform
