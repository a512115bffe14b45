// Program entry: answers --version and --help, or builds the main window from its stored layout
// and runs the event loop.
#include "Application.h"
#include "CommandLine.h"
#include "MainUnit.h"
#include "Messages.h"

#include <QPalette>

#include <memory>
#include <optional>

namespace {
QPalette DarkPalette() {
    QPalette p;
    const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230);
    for (auto role : {QPalette::Window, QPalette::Button})
        p.setColor(role, window);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                      QPalette::ToolTipText, QPalette::BrightText})
        p.setColor(role, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, QColor(64, 64, 64));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Midlight, QColor(66, 66, 66));
    p.setColor(QPalette::Mid, QColor(40, 40, 40));
    p.setColor(QPalette::Dark, QColor(25, 25, 25));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    return p;
}
} // namespace

int main(int argc, char** argv) {
    if (std::optional<int> status = sorvanto::AnswerInformationOptions(argc, argv))
        return *status;
    sorvanto::TApplication application(argc, argv);
    // For trying the look (screenshots): SORVANTO_PALETTE=dark gives the program a dark palette,
    // best with the Fusion style (-style Fusion or QT_STYLE_OVERRIDE=Fusion).
    if (qgetenv("SORVANTO_PALETTE") == "dark")
        application.setPalette(DarkPalette());
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
