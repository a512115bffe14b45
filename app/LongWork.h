#pragma once

#include "Progress.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace sorvanto {

// The box shown while a long operation runs: what it is doing, how far it has come, and a
// button that asks it to stop.
class TProgressDialog : public QDialog {
public:
    TProgressDialog(QWidget* parent, const QString& caption);

    // Rows read (total 0: unknown) or changes sent of total.
    void SetCount(std::int64_t done, std::int64_t total);
    bool Cancelled() const noexcept { return cancelled_; }
    QPushButton* CancelButton() const noexcept { return cancelButton_; }
    QString CountText() const;
    std::int64_t Count() const noexcept { return done_; }

protected:
    // Escape and the window's close button ask to stop as the button does.
    void reject() override;

private:
    QLabel* countLabel_;
    QProgressBar* bar_;
    QPushButton* cancelButton_;
    std::int64_t done_ = 0;
    bool cancelled_ = false;
};

// One long operation of the window, on the user-interface thread: told how far the operation
// has come (Step), it lets the window repaint at short intervals, shows the progress box once
// the operation has run a while, and answers false once the operator has pressed its Cancel.
// Meanwhile the window takes no input, and its timers and close requests wait; only the box
// takes input.
class TLongWork : public QObject {
public:
    TLongWork(QWidget& window, QString caption);
    ~TLongWork() override;
    TLongWork(const TLongWork&) = delete;
    TLongWork& operator=(const TLongWork&) = delete;

    bool Step(TProgressKind kind, std::int64_t done, std::int64_t total);
    TProgressDialog* Dialog() const noexcept { return dialog_; }

    // After how long the box appears, and how often at most the window gets to repaint.
    static inline int ShowAfterMs = 500;
    static inline int PaintEveryMs = 40;
    // Called each time the box has been shown or brought up to date, before the window repaints
    // (tests answer the box here).
    static inline std::function<void(TProgressDialog&)> OnDialogUpdated;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool Within(const QObject* object, const QObject* ancestor) const;

    QWidget& window_;
    QString caption_;
    QElapsedTimer clock_;
    qint64 lastPaint_ = 0;
    QPointer<TProgressDialog> dialog_;
};

} // namespace sorvanto
