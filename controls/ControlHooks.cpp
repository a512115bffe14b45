#include "ControlHooks.h"

#include "Errors.h"

#include <QMessageBox>

namespace sorvanto {

// ---- Delete confirmation ------------------------------------------------------------------

namespace {
TDeleteConfirmation& DeleteConfirmation() {
    static TDeleteConfirmation confirmation;
    return confirmation;
}
} // namespace

void SetDeleteConfirmation(TDeleteConfirmation confirmation) {
    DeleteConfirmation() = std::move(confirmation);
}

bool ConfirmDeletion(const QString& text) {
    if (const TDeleteConfirmation& confirmation = DeleteConfirmation())
        return confirmation(text);
    // Without the application's box: a plain question, never a silent deletion.
    return QMessageBox::question(nullptr, QStringLiteral("確認"), text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) != QMessageBox::Cancel;
}

// ---- Failures -----------------------------------------------------------------------------

namespace {
TControlExceptionHandler& ControlExceptionHandler() {
    static TControlExceptionHandler handler;
    return handler;
}
} // namespace

void SetControlExceptionHandler(TControlExceptionHandler handler) {
    ControlExceptionHandler() = std::move(handler);
}

void RunHandled(QObject* sender, const std::function<void()>& action) {
    const TControlExceptionHandler& handler = ControlExceptionHandler();
    if (!handler) {
        action();
        return;
    }
    try {
        action();
    } catch (const std::exception& error) {
        handler(sender, error);
    } catch (...) {
        handler(sender, Exception("不明なエラーです"));
    }
}

} // namespace sorvanto
