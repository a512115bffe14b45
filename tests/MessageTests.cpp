#include "Application.h"
#include "Errors.h"
#include "Messages.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace sorvanto;

// Failure output shows texts as they read.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString kDashes = QStringLiteral("---------------------------\n");

// Throws `messages[0]` as an Exception with each following message nested inside the one before.
void ThrowChain(std::vector<std::string> messages) {
    if (messages.size() == 1)
        throw Exception(messages.front());
    try {
        ThrowChain({messages.begin() + 1, messages.end()});
    } catch (...) {
        std::throw_with_nested(Exception(messages.front()));
    }
}

template <class Text> QString TextOfThrown(const std::function<void()>& thrower, Text text) {
    try {
        thrower();
    } catch (const std::exception& error) {
        return text(error);
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

// Runs `show`, which blocks in a modal box, and hands the box to `act` once it is up. A box that
// `act` leaves open counts as a failure and is closed.
void WhileModal(const std::function<void()>& show, const std::function<void(QWidget*)>& act) {
    bool acted = false;
    QTimer::singleShot(0, [&] {
        acted = true;
        QWidget* box = QApplication::activeModalWidget();
        if (!box) {
            ADD_FAILURE() << "no modal box is up";
            return;
        }
        act(box);
        if (QApplication::activeModalWidget() == box) {
            ADD_FAILURE() << "the box is still open";
            qobject_cast<QDialog*>(box)->done(mrNone);
        }
    });
    show();
    EXPECT_TRUE(acted);
}

// Key presses go where the platform would send them: the box's focused control.
void Press(QWidget* box, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, key, modifiers);
}

QList<QPushButton*> ButtonsLeftToRight(QWidget* box) {
    QList<QPushButton*> buttons = box->findChildren<QPushButton*>();
    std::sort(buttons.begin(), buttons.end(),
              [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    return buttons;
}

QStringList Captions(const QList<QPushButton*>& buttons) {
    QStringList captions;
    for (const QPushButton* button : buttons)
        captions << button->text();
    return captions;
}

QString Clipboard() {
    return QGuiApplication::clipboard()->text();
}

} // namespace

// ---- Texts ----------------------------------------------------------------------------------

TEST(ErrorBoxText, AppendsAFullStopAfterCodeUnitsAboveFullStop) {
    struct Case {
        const char* name;
        std::string message;
        QString expected;
    };
    const Case cases[] = {
        {"full stop", "Done.", QStringLiteral("Done.")},
        {"ASCII letter", "Done", QStringLiteral("Done.")},
        {"Japanese full stop", "テーブルがありません。", QStringLiteral("テーブルがありません。.")},
        {"Japanese letter", "接続できません", QStringLiteral("接続できません.")},
        {"exclamation mark", "Stop!", QStringLiteral("Stop!")},
        {"closing parenthesis", "(none)", QStringLiteral("(none)")},
        {"comma", "a,", QStringLiteral("a,")},
        {"hyphen, just below", "a-", QStringLiteral("a-")},
        {"slash, just above", "a/", QStringLiteral("a/.")},
        {"blank", "a ", QStringLiteral("a ")},
        {"line break", "line\n", QStringLiteral("line\n")},
        {"surrogate pair", "clef \xF0\x9D\x84\x9E", QStringLiteral("clef \U0001D11E.")},
        {"empty", "", QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorBoxText(Exception(c.message)), c.expected);
    }
    EXPECT_EQ(ErrorBoxText(std::runtime_error("plain")), QStringLiteral("plain."));
}

TEST(ErrorBoxText, TakesTheInnermostNestedMessageUnlessItIsEmpty) {
    struct Case {
        const char* name;
        std::vector<std::string> chain; // outermost first
        QString expected;
    };
    const Case cases[] = {
        {"base with a message", {"outer", "cause"}, QStringLiteral("cause.")},
        {"base without a message", {"outer", ""}, QStringLiteral("outer.")},
        {"three levels", {"outer", "middle", "root"}, QStringLiteral("root.")},
        {"empty innermost skips the middle", {"outer", "middle", ""}, QStringLiteral("outer.")},
        {"empty outer", {"", "cause"}, QStringLiteral("cause.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextOfThrown([&] { ThrowChain(c.chain); }, ErrorBoxText), c.expected);
    }
    // A nested value that is no std::exception ends the chain.
    const auto nestedInt = [] {
        try {
            throw 42;
        } catch (...) {
            std::throw_with_nested(EDatabaseError("outer"));
        }
    };
    EXPECT_EQ(TextOfThrown(nestedInt, ErrorBoxText), QStringLiteral("outer."));
}

TEST(FatalFailureText, NamesKindProgramAndMessage) {
    const auto text = [](const QString& kind, const QString& message) {
        return kind + QStringLiteral(" がモジュール app_tests の 00000000 で発生しました。\r\n") +
               message + QStringLiteral("\r\n");
    };
    struct Case {
        const char* name;
        std::function<void()> thrower;
        QString expected;
    };
    const Case cases[] = {
        {"letter", [] { throw EDatabaseError("Lost"); }, text("EDatabaseError", "Lost.")},
        {"full stop", [] { throw TDriverError(21, "Lost."); }, text("TDriverError", "Lost.")},
        {"Japanese full stop", [] { throw Exception("失敗。"); }, text("Exception", "失敗。.")},
        {"exclamation mark", [] { throw Exception("Stop!"); }, text("Exception", "Stop!.")},
        {"line break", [] { throw Exception("line\n"); }, text("Exception", "line\n.")},
        {"empty", [] { throw Exception(""); }, text("Exception", "")},
        {"percent signs", [] { throw Exception("%1 100%"); }, text("Exception", "%1 100%.")},
        {"standard failure", [] { throw std::runtime_error("bad"); },
         text("std::runtime_error", "bad.")},
        {"nested standard failure",
         [] {
             try {
                 throw Exception("cause");
             } catch (...) {
                 std::throw_with_nested(std::logic_error("outer"));
             }
         },
         text("std::logic_error", "outer.")},
        {"nested failure",
         [] {
             ThrowChain({"outer", "cause"});
         },
         text("Exception", "outer.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextOfThrown(c.thrower, FatalFailureText), c.expected);
    }
}

TEST(MessageClipboardText, FramesEachPartWithDashesAndDropsAmpersands) {
    EXPECT_EQ(MessageClipboardText("Cap", "Line 1\nLine 2", {"&Yes", "R&&D", "No"}),
              kDashes + "Cap\n" + kDashes + "Line 1\nLine 2\n" + kDashes + "Yes   RD   No   \n" +
                  kDashes);
}

// ---- Message dialog -------------------------------------------------------------------------

TEST(MessageDialog, InformationShowsTitleNoIconAndOneOkButton) {
    // The caption is the application's title, whatever Qt's application name says.
    const QString applicationName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("other name"));
    WhileModal([] { ShowInformation(QStringLiteral("データベースに接続しました")); },
               [](QWidget* box) {
                   EXPECT_EQ(box->windowTitle(), Application->Title());
                   EXPECT_EQ(box->findChild<QLabel*>("Image"), nullptr);
                   const auto* message = box->findChild<QLabel*>("Message");
                   ASSERT_NE(message, nullptr);
                   EXPECT_EQ(message->text(), QStringLiteral("データベースに接続しました"));
                   const QList<QPushButton*> buttons = ButtonsLeftToRight(box);
                   EXPECT_EQ(Captions(buttons), QStringList{"OK"});
                   EXPECT_EQ(box->font(), QApplication::font("QMessageBox"));
                   Press(box, Qt::Key_Escape);
               });
    QCoreApplication::setApplicationName(applicationName);
}

TEST(MessageDialog, DismissalAnswers) {
    enum class Action { Escape, Enter, Close, ClickCancel };
    struct Case {
        const char* name;
        TMsgDlgButtons buttons;
        Action action;
        int expected;
    };
    const Case cases[] = {
        {"OK only, Esc", mbOK, Action::Escape, mrOk},
        {"OK only, close control", mbOK, Action::Close, mrOk},
        {"OK only, Enter", mbOK, Action::Enter, mrOk},
        {"OK and Cancel, Esc", mbOK | mbCancel, Action::Escape, mrCancel},
        {"OK and Cancel, close control", mbOK | mbCancel, Action::Close, mrCancel},
        {"OK and Cancel, Enter", mbOK | mbCancel, Action::Enter, mrOk},
        {"OK and Cancel, Cancel clicked", mbOK | mbCancel, Action::ClickCancel, mrCancel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int result = -1;
        WhileModal(
            [&] {
                result = ShowMessageDialog(QStringLiteral("続けますか"),
                                           TMsgDlgType::mtConfirmation, c.buttons);
            },
            [&](QWidget* box) {
                switch (c.action) {
                case Action::Escape:
                    Press(box, Qt::Key_Escape);
                    break;
                case Action::Enter:
                    Press(box, Qt::Key_Return);
                    break;
                case Action::Close:
                    box->close();
                    break;
                case Action::ClickCancel:
                    QTest::mouseClick(ButtonsLeftToRight(box).last(), Qt::LeftButton);
                    break;
                }
            });
        EXPECT_EQ(result, c.expected);
    }
}

TEST(MessageDialog, ConfirmationLayoutAndCopy) {
    int result = -1;
    WhileModal(
        [&] {
            result = ShowMessageDialog(QStringLiteral("削除しますか?"), TMsgDlgType::mtConfirmation,
                                       mbOK | mbCancel);
        },
        [](QWidget* box) {
            EXPECT_EQ(box->windowTitle(), QStringLiteral("確認"));
            EXPECT_EQ(box->minimumSize(), box->maximumSize()) << "the frame is not resizable";

            const auto* image = box->findChild<QLabel*>("Image");
            const auto* message = box->findChild<QLabel*>("Message");
            ASSERT_NE(image, nullptr);
            ASSERT_NE(message, nullptr);
            EXPECT_EQ(image->size(), QSize(32, 32));
            EXPECT_FALSE(image->pixmap().isNull());
            EXPECT_GT(message->x(), image->geometry().right());
            EXPECT_EQ(message->y(), image->y());

            const QList<QPushButton*> buttons = ButtonsLeftToRight(box);
            ASSERT_EQ(Captions(buttons), (QStringList{"OK", "キャンセル"}));
            QPushButton* ok = buttons[0];
            QPushButton* cancel = buttons[1];
            EXPECT_TRUE(ok->isDefault());
            EXPECT_FALSE(cancel->isDefault());
            EXPECT_EQ(box->focusWidget(), ok);
            EXPECT_EQ(ok->width(), cancel->width());
            EXPECT_GE(cancel->width(), cancel->sizeHint().width());
            EXPECT_EQ(ok->y(), cancel->y());
            EXPECT_GT(ok->y(), std::max(image->geometry().bottom(), message->geometry().bottom()));
            EXPECT_GT(cancel->x(), ok->geometry().right());
            const int leftGap = ok->x();
            const int rightGap = box->width() - 1 - cancel->geometry().right();
            EXPECT_LE(std::abs(leftGap - rightGap), 1) << "the buttons are centred";

            const QRect screen = box->screen()->geometry();
            const QPoint centre = box->frameGeometry().center();
            EXPECT_LE(std::abs(centre.x() - screen.center().x()), 1);
            EXPECT_LE(std::abs(centre.y() - screen.center().y()), 1);

            Press(box, Qt::Key_C, Qt::ControlModifier);
            EXPECT_EQ(Clipboard(), kDashes + "確認\n" + kDashes + "削除しますか?\n" + kDashes +
                                       "OK   キャンセル   \n" + kDashes);
            EXPECT_EQ(QApplication::activeModalWidget(), box) << "Ctrl+C leaves the box open";
            Press(box, Qt::Key_Escape);
        });
    EXPECT_EQ(result, mrCancel);
}

TEST(MessageDialog, WrapsLongTextWithinHalfTheScreen) {
    const QString words =
        QStringLiteral("The quick brown fox jumps over the lazy dog. ").repeated(20);
    const QString japanese = QStringLiteral("テーブルの行を更新できませんでした").repeated(10);
    for (const QString& text : {words, japanese}) {
        SCOPED_TRACE(text.left(10).toStdString());
        WhileModal([&] { ShowMessageDialog(text, TMsgDlgType::mtConfirmation, mbOK); },
                   [](QWidget* box) {
                       const auto* message = box->findChild<QLabel*>("Message");
                       ASSERT_NE(message, nullptr);
                       const int half = box->screen()->geometry().width() / 2;
                       EXPECT_LE(message->width(), half);
                       EXPECT_GT(message->width(), half * 3 / 4) << "lines fill the width";
                       EXPECT_GE(message->height(), message->heightForWidth(message->width()))
                           << "every line shows";
                       EXPECT_GE(message->height(), 3 * message->fontMetrics().height());
                       EXPECT_LE(message->geometry().right(), box->width());
                       EXPECT_GT(ButtonsLeftToRight(box).first()->y(),
                                 message->geometry().bottom());
                       Press(box, Qt::Key_Return);
                   });
    }
}

// ---- Message boxes --------------------------------------------------------------------------

TEST(ErrorBox, ShowsTheFailureUnderTheTitleAndCopiesItself) {
    QWidget mainForm;
    Application->SetMainForm(&mainForm);
    WhileModal([] { ShowErrorBox(EDatabaseError("テーブルがありません")); },
               [&](QWidget* widget) {
                   auto* box = qobject_cast<QMessageBox*>(widget);
                   ASSERT_NE(box, nullptr);
                   EXPECT_EQ(box->parentWidget(), &mainForm);
                   EXPECT_EQ(box->windowTitle(), Application->Title());
                   EXPECT_EQ(box->icon(), QMessageBox::Critical);
                   EXPECT_EQ(box->text(), QStringLiteral("テーブルがありません."));
                   EXPECT_EQ(Captions(ButtonsLeftToRight(box)), QStringList{"OK"});
                   Press(box, Qt::Key_C, Qt::ControlModifier);
                   EXPECT_EQ(Clipboard(), kDashes + Application->Title() + "\n" + kDashes +
                                              "テーブルがありません.\n" + kDashes + "OK   \n" +
                                              kDashes);
                   Press(box, Qt::Key_Escape);
               });
    Application->SetMainForm(nullptr);
}

TEST(ErrorBox, MessageBoxAnswers) {
    struct Case {
        const char* name;
        unsigned flags;
        Qt::Key key;
        int expected;
    };
    const Case cases[] = {
        {"OK, Esc", MB_OK | MB_ICONERROR, Qt::Key_Escape, mrOk},
        {"OK, Enter", MB_OK | MB_ICONERROR, Qt::Key_Return, mrOk},
        {"OK and Cancel, Esc", MB_OKCANCEL | MB_ICONQUESTION, Qt::Key_Escape, mrCancel},
        {"OK and Cancel, Enter", MB_OKCANCEL | MB_ICONQUESTION, Qt::Key_Return, mrOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int result = -1;
        WhileModal([&] { result = MessageBox("text", "caption", c.flags); },
                   [&](QWidget* box) { Press(box, c.key); });
        EXPECT_EQ(result, c.expected);
    }
}

TEST(FatalFailureBox, HasNoOwnerAndCopiesItself) {
    QWidget mainForm;
    Application->SetMainForm(&mainForm);
    WhileModal([] { ShowFatalFailure(EFOpenError("接続できません")); },
               [](QWidget* widget) {
                   auto* box = qobject_cast<QMessageBox*>(widget);
                   ASSERT_NE(box, nullptr);
                   EXPECT_EQ(box->parentWidget(), nullptr);
                   EXPECT_EQ(box->windowTitle(), QStringLiteral("アプリケーション エラー"));
                   EXPECT_EQ(box->icon(), QMessageBox::Critical);
                   EXPECT_EQ(Captions(ButtonsLeftToRight(box)), QStringList{"OK"});
                   Press(box, Qt::Key_C, Qt::ControlModifier);
                   EXPECT_EQ(Clipboard(), kDashes + "アプリケーション エラー\n" + kDashes +
                                              "EFOpenError がモジュール app_tests の 00000000 "
                                              "で発生しました。\n接続できません.\n\n" +
                                              kDashes + "OK   \n" + kDashes);
                   Press(box, Qt::Key_Return);
               });
    Application->SetMainForm(nullptr);
}
