#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

class QWidget;

namespace sorvanto {

class TApplication;

// The one application object of the program; set while it exists.
extern TApplication* Application;

// The application object: the program's title, its main window and the event loop.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // The program file's name without its folder, cut before its first ".", the first character
    // in upper case and the rest in lower case: "sorvanto" gives "Sorvanto", "TOOL.EXE" "Tool".
    const QString& Title() const noexcept { return title_; }
    static QString TitleFromFileName(const QString& path);

    void Initialize() {}
    bool MainFormOnTaskBar = false;
    QWidget* MainForm() const noexcept { return mainForm_; }
    void SetMainForm(QWidget* form) noexcept { mainForm_ = form; }
    bool Terminated() const noexcept { return terminated_; }

    // Shows the main window centred on the whole desktop, gives the focus to the first control
    // in tab order and runs the event loop until Terminate's quit request is taken.
    int Run();
    // Queues a quit request and returns at once.
    void Terminate();
    // SIGTERM, SIGINT and SIGHUP end the program as closing the window does; before the event
    // loop runs they close the box of a start-up failure. Installed first thing and again once
    // the embedded database engine is loaded, whose own handlers would only stop the engine.
    void InstallTerminationHandlers();

    // A failure escaped a handler of `sender`: let go of any mouse capture, then show it.
    void HandleException(QObject* sender, const std::exception& error);
    // Shows a failure in the error box.
    void ShowException(const std::exception& error);
    // Runs a handler; a failure that escapes it goes to HandleException.
    void Guarded(QObject* sender, const std::function<void()>& handler);

    // Failures that escape an event handler are shown, and the loop goes on.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    QString title_;
    QWidget* mainForm_ = nullptr;
    bool terminated_ = false;
    bool running_ = false;
};

} // namespace sorvanto
