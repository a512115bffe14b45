#pragma once

// Answering the modal boxes that widget tests run into, and reading a navigator's buttons.

#include "DBNavigator.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace sorvanto::test {

// What a modal box showed before it was answered.
struct ShownBox {
    bool seen = false;
    QString caption;
    QString text;
    QStringList buttons;
    QString defaultButton;
};

// The answer to the next modal box, waiting until one is shown; it stops waiting when it goes
// out of scope, so that it never answers a box meant for a later one.
class SeenBox {
public:
    struct State {
        ShownBox box;
        bool cancelled = false;
    };
    SeenBox() = default;
    ~SeenBox() { state_->cancelled = true; }
    SeenBox(const SeenBox&) = delete;
    SeenBox& operator=(const SeenBox&) = delete;
    const ShownBox* operator->() const { return &state_->box; }
    const std::shared_ptr<State>& Shared() const { return state_; }

private:
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

namespace detail {
inline void AnswerWhenShown(std::shared_ptr<SeenBox::State> state,
                            std::function<void(QWidget*)> answer) {
    if (state->cancelled)
        return;
    QWidget* box = QApplication::activeModalWidget();
    // The progress box of a long open or apply is not the box the answer is meant for.
    if (!box || box->objectName() == QLatin1String("ProgressDialog")) {
        QTimer::singleShot(0, [state, answer] { AnswerWhenShown(state, answer); });
        return;
    }
    state->cancelled = true;
    ShownBox& shown = state->box;
    shown.seen = true;
    shown.caption = box->windowTitle();
    if (auto* message = qobject_cast<QMessageBox*>(box))
        shown.text = message->text();
    else
        for (QLabel* label : box->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                shown.text = label->text();
    for (QPushButton* button : box->findChildren<QPushButton*>()) {
        shown.buttons << button->text();
        if (button->isDefault())
            shown.defaultButton = button->text();
    }
    answer(box);
}
} // namespace detail

// Answers the next modal box with `answer` once it is shown, noting what it showed.
inline void AnswerNextBox(SeenBox& seen, std::function<void(QWidget*)> answer) {
    auto state = seen.Shared();
    QTimer::singleShot(0, [state, answer] { detail::AnswerWhenShown(state, answer); });
}

inline void PressEnter(QWidget* box) {
    QTest::keyClick(box, Qt::Key_Return);
}

inline void PressButton(QWidget* box, const QString& caption) {
    for (QPushButton* button : box->findChildren<QPushButton*>())
        if (button->text() == caption) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    ADD_FAILURE() << "no button " << caption.toStdString();
    box->close();
}

// Closes a box that nobody answers within 20 seconds and fails the test, instead of hanging.
class BoxGuard {
public:
    BoxGuard() {
        timer_.setInterval(20000);
        QObject::connect(&timer_, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                QLabel* label = box->findChild<QLabel*>();
                ADD_FAILURE() << "unexpected box: " << box->windowTitle().toStdString() << ": "
                              << (label ? label->text().toStdString() : std::string());
                box->close();
            }
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

// Which buttons are enabled, as a row of ten letters in button order, "." for a disabled one.
inline std::string EnabledButtons(const TDBNavigator& navigator) {
    static const char letters[] = "FPNLIDEPCR";
    std::string row;
    for (int i = 0; i < kNavButtonCount; ++i)
        row += navigator.Button(static_cast<TNavigateBtn>(i))->isEnabled() ? letters[i] : '.';
    return row;
}

} // namespace sorvanto::test
