#include "Messages.h"

#include "Application.h"
#include "Errors.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

namespace sorvanto {

// ---- Failures -------------------------------------------------------------------------------

QString FailureMessage(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const Exception*>(&error))
        return QString::fromStdString(failure->Message());
    return QString::fromUtf8(error.what());
}

QString FailureKind(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const Exception*>(&error))
        return QString::fromLatin1(failure->ClassName());
    const char* mangled = typeid(error).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
    // std::throw_with_nested wraps the thrown type in a type of its own.
    const QLatin1StringView wrapper("std::_Nested_exception<");
    if (name.startsWith(wrapper) && name.endsWith(u'>'))
        name = name.mid(wrapper.size(), name.size() - wrapper.size() - 1);
    return name;
}

QString BaseFailureMessage(const std::exception& error) {
    const auto* nested = dynamic_cast<const std::nested_exception*>(&error);
    if (nested && nested->nested_ptr()) {
        try {
            std::rethrow_exception(nested->nested_ptr());
        } catch (const std::exception& inner) {
            return BaseFailureMessage(inner);
        } catch (...) {
            // A wrapped value that is no std::exception ends the chain here.
        }
    }
    return FailureMessage(error);
}

// ---- Message dialog -------------------------------------------------------------------------

namespace {

constexpr int kIconSize = 32;
constexpr int kDashCount = 27;

// Handles Ctrl+C for a message box: beeps and copies the box as text.
bool CopyOnRequest(QKeyEvent* event, const QString& caption, const QString& text,
                   const QList<QAbstractButton*>& buttons) {
    if (!event->matches(QKeySequence::Copy))
        return false;
    QStringList captions;
    for (const QAbstractButton* button : buttons)
        captions << button->text();
    QApplication::beep();
    QGuiApplication::clipboard()->setText(MessageClipboardText(caption, text, captions));
    event->accept();
    return true;
}

QStyle::StandardPixmap IconOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return QStyle::SP_MessageBoxWarning;
    case TMsgDlgType::mtError:
        return QStyle::SP_MessageBoxCritical;
    case TMsgDlgType::mtInformation:
        return QStyle::SP_MessageBoxInformation;
    case TMsgDlgType::mtConfirmation:
        return QStyle::SP_MessageBoxQuestion;
    case TMsgDlgType::mtCustom:
        break;
    }
    return QStyle::SP_CustomBase;
}

// The window that owns a message box: the active window, else the main window.
QWidget* OwnerWindow() {
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return Application ? Application->MainForm() : nullptr;
}

} // namespace

QString MessageClipboardText(const QString& caption, const QString& text,
                             const QStringList& buttonCaptions) {
    const QString lineBreak = QString::fromLatin1(kClipboardLineBreak);
    const QString dashes = QString(kDashCount, u'-') + lineBreak;
    QString buttons;
    for (QString button : buttonCaptions)
        buttons += button.remove(u'&') + QStringLiteral("   ");
    return dashes + caption + lineBreak + dashes + text + lineBreak + dashes + buttons + lineBreak +
           dashes;
}

QString ApplicationTitle() {
    if (Application)
        return Application->Title();
    return QCoreApplication::applicationName();
}

QString TMessageDialog::Caption(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return QStringLiteral("警告");
    case TMsgDlgType::mtError:
        return QStringLiteral("エラー");
    case TMsgDlgType::mtInformation:
        return QStringLiteral("情報");
    case TMsgDlgType::mtConfirmation:
        return QStringLiteral("確認");
    case TMsgDlgType::mtCustom:
        break;
    }
    return ApplicationTitle();
}

QString TMessageDialog::ButtonCaption(TMsgDlgBtn button) {
    return button == mbCancel ? QStringLiteral("キャンセル") : QStringLiteral("OK");
}

TMessageDialog::TMessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                               QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      text_(text), buttons_(buttons) {
    setWindowTitle(Caption(type));
    setFont(QApplication::font("QMessageBox"));

    if (type != TMsgDlgType::mtCustom) {
        image_ = new QLabel(this);
        image_->setObjectName(QStringLiteral("Image"));
        image_->setPixmap(
            style()->standardIcon(IconOf(type), nullptr, this).pixmap(kIconSize, kIconSize));
        image_->setFixedSize(kIconSize, kIconSize);
    }

    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("Message"));
    message_->setTextFormat(Qt::PlainText);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setWordWrap(true);
    message_->setText(text);

    for (const TMsgDlgBtn kind : {mbOK, mbCancel}) {
        if (!buttons.testFlag(kind))
            continue;
        auto* button = new QPushButton(ButtonCaption(kind), this);
        const int result = kind == mbOK ? mrOk : mrCancel;
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        buttonWidgets_ << button;
        if (kind == mbOK) {
            button->setDefault(true);
            button->setFocus();
        }
    }

    Arrange();
}

// Sizes in dialog units: a quarter of the average character width across, an eighth of the line
// height down.
void TMessageDialog::Arrange() {
    const QFontMetrics metrics(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int charWidth = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    const auto across = [&](int units) { return (units * charWidth + 2) / 4; };
    const auto down = [&](int units) { return (units * metrics.height() + 4) / 8; };
    const int horzMargin = across(8);
    const int vertMargin = down(8);
    const int horzSpacing = across(10);
    const int vertSpacing = down(10);
    const int buttonSpacing = across(4);

    const QRect screenRect = screen()->geometry();
    const int textLimit = screenRect.width() / 2;
    const QRect textBounds = metrics.boundingRect(
        QRect(0, 0, textLimit, 1 << 20), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text_);
    const int textWidth = std::min(textBounds.width(), textLimit);
    const int textHeight = std::max(textBounds.height(), message_->heightForWidth(textWidth));
    const int textLeft = image_ ? horzMargin + kIconSize + horzSpacing : horzMargin;
    if (image_)
        image_->move(horzMargin, vertMargin);
    message_->setGeometry(textLeft, vertMargin, textWidth, textHeight);

    int buttonWidth = across(50);
    int buttonHeight = down(14);
    for (const QPushButton* button : std::as_const(buttonWidgets_)) {
        buttonWidth = std::max(buttonWidth, button->sizeHint().width());
        buttonHeight = std::max(buttonHeight, button->sizeHint().height());
    }
    const auto count = static_cast<int>(buttonWidgets_.size());
    const int buttonsWidth = count * buttonWidth + std::max(count - 1, 0) * buttonSpacing;

    const int contentHeight = std::max(textHeight, image_ ? kIconSize : 0);
    const int buttonTop = vertMargin + contentHeight + vertSpacing;
    const int width = std::max(textLeft + textWidth + horzMargin, buttonsWidth + 2 * horzMargin);
    const int height = buttonTop + buttonHeight + vertMargin;

    int left = (width - buttonsWidth) / 2;
    for (QPushButton* button : std::as_const(buttonWidgets_)) {
        button->setGeometry(left, buttonTop, buttonWidth, buttonHeight);
        left += buttonWidth + buttonSpacing;
    }

    setFixedSize(width, height);
    CentreOnScreen();
}

// Centres the frame; its margins are known once the window is up, so showEvent centres it again.
void TMessageDialog::CentreOnScreen() {
    const QRect screenRect = screen()->geometry();
    const QSize frame = frameGeometry().size();
    move(screenRect.x() + (screenRect.width() - frame.width()) / 2,
         screenRect.y() + (screenRect.height() - frame.height()) / 2);
}

void TMessageDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOnScreen();
}

void TMessageDialog::reject() {
    done(buttons_.testFlag(mbCancel) ? mrCancel : mrOk);
}

void TMessageDialog::keyPressEvent(QKeyEvent* event) {
    QList<QAbstractButton*> buttons;
    for (QPushButton* button : std::as_const(buttonWidgets_))
        buttons << button;
    if (!CopyOnRequest(event, windowTitle(), text_, buttons))
        QDialog::keyPressEvent(event);
}

int ShowMessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) {
    TMessageDialog dialog(text, type, buttons, OwnerWindow());
    return dialog.exec();
}

void ShowInformation(const QString& text) {
    ShowMessageDialog(text, TMsgDlgType::mtCustom, mbOK);
}

// ---- Message boxes --------------------------------------------------------------------------

void TMessageBox::keyPressEvent(QKeyEvent* event) {
    if (!CopyOnRequest(event, windowTitle(), text(), buttons()))
        QMessageBox::keyPressEvent(event);
}

namespace {

QMessageBox::Icon IconOfFlags(unsigned flags) {
    switch (flags & kMessageBoxIconMask) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// Fills a box: plain text (its line breaks as this platform writes them), OK and, when asked for,
// Cancel, which then answers Esc.
void Prepare(QMessageBox& box, const QString& caption, const QString& text, QMessageBox::Icon icon,
             bool withCancel) {
    box.setWindowTitle(caption);
    box.setIcon(icon);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    ok->setText(TMessageDialog::ButtonCaption(mbOK));
    box.setDefaultButton(ok);
    if (withCancel) {
        QPushButton* cancel = box.addButton(QMessageBox::Cancel);
        cancel->setText(TMessageDialog::ButtonCaption(mbCancel));
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
}

} // namespace

int MessageBox(const QString& text, const QString& caption, unsigned flags) {
    const bool withCancel = (flags & kMessageBoxButtonMask) == MB_OKCANCEL;
    TMessageBox box(OwnerWindow());
    Prepare(box, caption, text, IconOfFlags(flags), withCancel);
    box.exec();
    return withCancel && box.clickedButton() == box.button(QMessageBox::Cancel) ? mrCancel : mrOk;
}

QString ErrorBoxText(const std::exception& error) {
    const QString base = BaseFailureMessage(error);
    QString text = base.isEmpty() ? FailureMessage(error) : base;
    if (!text.isEmpty() && text.back() > u'.')
        text += u'.';
    return text;
}

void ShowErrorBox(const std::exception& error) {
    MessageBox(ErrorBoxText(error), ApplicationTitle(), MB_ICONERROR | MB_OK);
}

QString ProgramFileName() {
    std::error_code failed;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
    if (!failed) {
        // A program file replaced while it runs reads "name (deleted)".
        QString name = QString::fromStdString(program.filename().string());
        const QLatin1StringView deleted(" (deleted)");
        if (name.endsWith(deleted))
            name.chop(deleted.size());
        return name;
    }
    if (QCoreApplication::instance())
        return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return {};
}

QString FatalFailureText(const std::exception& error) {
    const QString message = FailureMessage(error);
    const QString stop =
        !message.isEmpty() && !message.endsWith(u'.') ? QStringLiteral(".") : QString();
    // One pass: a "%1" inside the message stays as it is.
    return QStringLiteral("%1 がモジュール %2 の %3 で発生しました。\r\n%4%5\r\n")
        .arg(FailureKind(error), ProgramFileName(), QStringLiteral("00000000"), message, stop);
}

void ShowFatalFailure(const std::exception& error) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // No widgets yet (or any more): the standard error stream takes the text.
        std::fputs(FatalFailureText(error).toStdString().c_str(), stderr);
        return;
    }
    TMessageBox box;
    Prepare(box, QStringLiteral("アプリケーション エラー"), FatalFailureText(error),
            QMessageBox::Critical, false);
    box.exec();
}

} // namespace sorvanto
