#include "Application.h"

#include "Messages.h"
#include "UserInterface.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace sorvanto {

TApplication* Application = nullptr;

namespace {
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

QString ProgramFile() {
    QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return exe.isEmpty() ? QCoreApplication::applicationFilePath() : exe;
}
} // namespace

QString TApplication::TitleFromFileName(const QString& path) {
    QString name = QFileInfo(path).fileName();
    if (qsizetype dot = name.indexOf(QLatin1Char('.')); dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    // Program files here are named in lower case ("sorvanto"); the title starts with a capital.
    return name.left(1).toUpper() + name.mid(1).toLower();
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    title_ = TitleFromFileName(ProgramFile());
    Application = this;
    TUserInterface ui;
    ui.showBusyPointer = [] { QGuiApplication::setOverrideCursor(Qt::WaitCursor); };
    ui.restoreBusyPointer = [] { QGuiApplication::restoreOverrideCursor(); };
    // The data-aware controls ask through the message dialog; every answer but Cancel agrees.
    ui.confirmDeletion = [](const std::string& text) {
        return ShowMessageDialog(QString::fromStdString(text), TMsgDlgType::mtConfirmation,
                                 mbOK | mbCancel) != mrCancel;
    };
    // Every failure shown for the operator (a control's action, a reconcile handler, a handler
    // of the window) comes to the error box here.
    ui.showFailure = [this](void* sender, const std::exception& error) {
        HandleException(static_cast<QObject*>(sender), error);
    };
    SetUserInterface(std::move(ui));
}

TApplication::~TApplication() {
    SetUserInterface({});
    if (Application == this)
        Application = nullptr;
}

int TApplication::Run() {
    if (mainForm_) {
        mainForm_->show();
        // Centre the frame on the rectangle that bounds every monitor.
        QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
        QRect frame = mainForm_->frameGeometry();
        int left = desktop.left() + desktop.width() / 2 - frame.width() / 2;
        int top = desktop.top() + desktop.height() / 2 - frame.height() / 2;
        mainForm_->move(std::max(left, desktop.left()), std::max(top, desktop.top()));
        mainForm_->activateWindow();
        if (!mainForm_->focusWidget()) {
            // The first control in tab order that can take the focus.
            for (QWidget* w = mainForm_->nextInFocusChain(); w && w != mainForm_;
                 w = w->nextInFocusChain())
                if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
                    w->setFocus(Qt::TabFocusReason);
                    break;
                }
        }
    }
    if (terminated_)
        return 0;
    running_ = true;
    exec();
    return 0;
}

void TApplication::Terminate() {
    QTimer::singleShot(0, this, [this] {
        terminated_ = true;
        quit();
    });
}

void TApplication::InstallTerminationHandlers() {
    if (g_signalPipe[0] < 0) {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
        QObject::connect(notifier, &QSocketNotifier::activated, this, [this] {
            char bytes[16];
            while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            Terminate();
            // Before the event loop runs, only a box of the start-up is open: close it, and the
            // start-up ends as when the operator dismisses it.
            if (!running_)
                if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    box->done(QDialog::Rejected);
        });
    }
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void TApplication::HandleException(QObject* sender, const std::exception& error) {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (auto* button = qobject_cast<QAbstractButton*>(sender); button && button->isDown())
        button->setDown(false);
    ShowException(error);
}

void TApplication::ShowException(const std::exception& error) {
    ShowErrorBox(error);
}

void TApplication::Guarded(QObject* sender, const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ShowCaughtFailure(sender);
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCaughtFailure(receiver);
    }
    return true;
}

} // namespace sorvanto
