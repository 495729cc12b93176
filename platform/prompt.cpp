#include "platform/prompt.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
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

IPrompt::Answer QtPrompt::Ask(Icon icon, const std::string& title, const std::string& text,
                              Buttons buttons, Answer defaultButton) {
    if (!HaveWidgets()) return NullPrompt().Ask(icon, title, text, buttons, defaultButton);
    QMessageBox::StandardButtons set;
    switch (buttons) {
        case Buttons::Ok:
            set = QMessageBox::Ok;
            break;
        case Buttons::OkCancel:
            set = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case Buttons::YesNo:
            set = QMessageBox::Yes | QMessageBox::No;
            break;
        case Buttons::YesNoCancel:
            set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
        case Buttons::RetryCancel:
            set = QMessageBox::Retry | QMessageBox::Cancel;
            break;
    }
    auto toQt = [](Answer a) {
        switch (a) {
            case Answer::Ok:
                return QMessageBox::Ok;
            case Answer::Cancel:
                return QMessageBox::Cancel;
            case Answer::Yes:
                return QMessageBox::Yes;
            case Answer::No:
                return QMessageBox::No;
            case Answer::Retry:
                return QMessageBox::Retry;
        }
        return QMessageBox::NoButton;
    };
    QMessageBox box(ToQt(icon), QString::fromStdString(title), QString::fromStdString(text), set);
    box.setDefaultButton(toQt(defaultButton));
    switch (box.exec()) {
        case QMessageBox::Ok:
            return Answer::Ok;
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Retry:
            return Answer::Retry;
        default:
            return NullPrompt().Ask(icon, title, text, buttons, defaultButton);
    }
}

std::optional<std::filesystem::path> QtPrompt::OpenFileName(const std::string& title,
                                                            const std::filesystem::path& start,
                                                            const std::string& filter) {
    if (!HaveWidgets()) return std::nullopt;
    const QString name = QFileDialog::getOpenFileName(nullptr, QString::fromStdString(title),
                                                      QString::fromStdString(start.string()),
                                                      QString::fromStdString(filter));
    if (name.isEmpty()) return std::nullopt;
    return std::filesystem::path(name.toStdString());
}

std::optional<std::filesystem::path> QtPrompt::FolderName(const std::string& title,
                                                          const std::filesystem::path& start) {
    if (!HaveWidgets()) return std::nullopt;
    const QString name = QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(title),
                                                           QString::fromStdString(start.string()));
    if (name.isEmpty()) return std::nullopt;
    return std::filesystem::path(name.toStdString());
}

void QtPrompt::SetClipboard(const std::string& text) {
    if (!HaveWidgets()) return;
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

}  // namespace platform
