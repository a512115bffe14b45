#pragma once

// What the data-aware controls need from the application without depending on it: the question
// before a record is deleted, and the place where a failure of an operator's action is shown.

#include <QObject>
#include <QString>

#include <exception>
#include <functional>

namespace sorvanto {

// Asks the operator whether to delete the current record; true when they agree. The application
// installs its confirmation box (the navigator has no message boxes of its own).
using TDeleteConfirmation = std::function<bool(const QString& text)>;
void SetDeleteConfirmation(TDeleteConfirmation confirmation);
bool ConfirmDeletion(const QString& text);

// Takes a failure of an operation a control performed for the operator (a click, a key), so that
// it is shown at once without unwinding through the toolkit's event dispatch. The application
// installs its exception handler; without one the failure propagates.
using TControlExceptionHandler = std::function<void(QObject* sender, const std::exception& error)>;
void SetControlExceptionHandler(TControlExceptionHandler handler);
// Runs action; a failure goes to the installed handler.
void RunHandled(QObject* sender, const std::function<void()>& action);

} // namespace sorvanto
