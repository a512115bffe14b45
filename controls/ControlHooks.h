#pragma once

// What the data-aware controls need from the application, asked through the program's one user
// interface (UserInterface.h): the question before a record is deleted, and the place where a
// failure of an operator's action is shown.

#include <QObject>
#include <QString>

#include <functional>

namespace sorvanto {

// Asks the operator whether to delete the current record; true when they agree. Without the
// application's confirmation box, a plain question (the navigator has no boxes of its own).
bool ConfirmDeletion(const QString& text);

// Runs an operation a control performs for the operator (a click, a key); a failure is shown at
// once without unwinding through the toolkit's event dispatch. Without the application's error
// box the failure propagates.
void RunHandled(QObject* sender, const std::function<void()>& action);

} // namespace sorvanto
