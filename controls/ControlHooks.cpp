#include "ControlHooks.h"

#include "UserInterface.h"

#include <QMessageBox>

namespace sorvanto {

bool ConfirmDeletion(const QString& text) {
    if (const auto& confirmation = UserInterface().confirmDeletion)
        return confirmation(text.toStdString());
    // Without the application's box: a plain question, never a silent deletion.
    return QMessageBox::question(nullptr, QStringLiteral("確認"), text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) != QMessageBox::Cancel;
}

void RunHandled(QObject* sender, const std::function<void()>& action) {
    if (!UserInterface().showFailure) {
        action();
        return;
    }
    try {
        action();
    } catch (...) {
        ShowCaughtFailure(sender);
    }
}

} // namespace sorvanto
