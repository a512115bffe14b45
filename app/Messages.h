#pragma once

#include <QDialog>
#include <QFlags>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <exception>

class QKeyEvent;
class QLabel;
class QPushButton;
class QShowEvent;

namespace sorvanto {

// ---- Failures -------------------------------------------------------------------------------

// The failure's message: Exception::Message(), else what().
QString FailureMessage(const std::exception& error);
// The failure's kind: Exception::ClassName(), else the demangled name of its type (a failure
// thrown with std::throw_with_nested gives the name of the type it wraps).
QString FailureKind(const std::exception& error);
// The message of the innermost failure of a std::nested_exception chain; the failure's own
// message when it wraps none.
QString BaseFailureMessage(const std::exception& error);

// ---- Message dialog -------------------------------------------------------------------------

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn { mbOK = 1, mbCancel = 2 };
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)

// Results of the message dialog and of MessageBox.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// Line break of the text that Ctrl+C copies from a message box.
inline constexpr char kClipboardLineBreak[] = "\n";

// What Ctrl+C in a message box puts on the clipboard: a line of dashes, the caption, the dashes,
// the text, the dashes, each button caption (without "&") followed by three blanks, the dashes;
// every part ends with kClipboardLineBreak.
QString MessageClipboardText(const QString& caption, const QString& text,
                             const QStringList& buttonCaptions);

// The caption of message boxes that have none of their own: the application's title.
QString ApplicationTitle();

// The classic message dialog: an icon (none for mtCustom), the text wrapped within half the
// screen width and a centred row of equally wide buttons. Fixed size, centred on the screen.
class TMessageDialog : public QDialog {
public:
    TMessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                   QWidget* parent = nullptr);

    QString Text() const { return text_; }
    static QString Caption(TMsgDlgType type);
    static QString ButtonCaption(TMsgDlgBtn button);

    // Esc and the close control answer Cancel when the dialog has it, otherwise OK.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Arrange();
    void CentreOnScreen();

    QString text_;
    TMsgDlgButtons buttons_;
    QLabel* image_ = nullptr;
    QLabel* message_ = nullptr;
    QList<QPushButton*> buttonWidgets_;
};

// Shows the message dialog modally and returns the result of the button that dismissed it.
int ShowMessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons);
// The text in a captionless information box (the application's title) with one OK button.
void ShowInformation(const QString& text);

// ---- Message boxes --------------------------------------------------------------------------

// Flags of MessageBox: the buttons, then the icon.
enum TMessageBoxFlag : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
inline constexpr unsigned kMessageBoxButtonMask = 0x0F;
inline constexpr unsigned kMessageBoxIconMask = 0xF0;

// A QMessageBox that copies itself in MessageClipboardText's form on Ctrl+C.
class TMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A modal message box owned by the active window; returns mrOk or mrCancel.
int MessageBox(const QString& text, const QString& caption, unsigned flags);

// The text of the error box: the base failure's message when it has one, else the failure's own;
// "." appended when the text ends in a code unit above "." (U+002E).
QString ErrorBoxText(const std::exception& error);
// The failure in the error box: the application's title, the error icon and an OK button.
void ShowErrorBox(const std::exception& error);

// The file name of the running program, without its folder.
QString ProgramFileName();
// "<kind> がモジュール <program> の 00000000 で発生しました。" and the message on the next line,
// "." appended when it does not end in one.
QString FatalFailureText(const std::exception& error);
// The failure that ends the program, in a box with no owner window; returns once dismissed.
// Without a QApplication the text goes to the standard error stream.
void ShowFatalFailure(const std::exception& error);

} // namespace sorvanto

Q_DECLARE_OPERATORS_FOR_FLAGS(sorvanto::TMsgDlgButtons)
