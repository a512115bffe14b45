#pragma once

// What the data layer and the data-aware controls ask of the program's user interface, without
// depending on it: the busy pointer and the login dialog of a connection, the question before a
// record is deleted, and the error box. The program installs one for its whole run.

#include <exception>
#include <functional>
#include <string>

namespace sorvanto {

struct TUserInterface {
    std::function<void()> showBusyPointer = {};
    std::function<void()> restoreBusyPointer = {};
    // Shows the login dialog; returns false when the operator cancels it.
    std::function<bool(const std::string& connectionName, std::string& userName,
                       std::string& password)>
        loginDialog = {};
    // Asks the operator whether to delete the current record (the text in UTF-8); true when
    // they agree.
    std::function<bool(const std::string& text)> confirmDeletion = {};
    // Shows a failure in the error box. sender is the object whose handler failed (a QObject
    // of the program) or null.
    std::function<void(void* sender, const std::exception& error)> showFailure = {};
};

void SetUserInterface(TUserInterface ui);
const TUserInterface& UserInterface();

// Inside a catch block: shows the failure being handled through the installed error box (any
// throw that is not a std::exception as an unknown error); without one, on the standard error
// stream.
void ShowCaughtFailure(void* sender = nullptr);

// For code without a program (tests): shows failures through display (null: the standard error
// stream), leaving the rest of the user interface as it is.
void SetApplicationExceptionDisplay(void (*display)(const std::exception&));

} // namespace sorvanto
