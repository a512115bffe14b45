// Program entry: answers --version and --help, or builds the main window from its stored layout
// and runs the event loop.
#include "Application.h"
#include "CommandLine.h"
#include "MainUnit.h"
#include "Messages.h"

#include <memory>
#include <optional>

int main(int argc, char** argv) {
    if (std::optional<int> status = sorvanto::AnswerInformationOptions(argc, argv))
        return *status;
    sorvanto::TApplication application(argc, argv);
    // From the start: a session may end while the start-up failure box is shown.
    application.InstallTerminationHandlers();
    std::unique_ptr<sorvanto::TMainForm> mainForm;
    try {
        application.Initialize();
        application.MainFormOnTaskBar = true;
        mainForm = std::make_unique<sorvanto::TMainForm>();
        application.SetMainForm(mainForm.get());
        mainForm->winId(); // the platform window exists, still hidden
        application.InstallTerminationHandlers();
    } catch (const std::exception& error) {
        // The embedded engine, once loaded, replaced the handlers with its own.
        application.InstallTerminationHandlers();
        sorvanto::ShowFatalFailure(error);
        return 1;
    }
    application.Run();
    // Exit: the window goes with everything it owns; the views drop what was not applied.
    application.SetMainForm(nullptr);
    mainForm.reset();
    return 0;
}
