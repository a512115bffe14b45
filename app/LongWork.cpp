#include "LongWork.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace sorvanto {

TProgressDialog::TProgressDialog(QWidget* parent, const QString& caption) : QDialog(parent) {
    setObjectName(QStringLiteral("ProgressDialog"));
    setWindowTitle(parent ? parent->window()->windowTitle() : QString());
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* layout = new QVBoxLayout(this);
    auto* captionLabel = new QLabel(caption, this);
    captionLabel->setObjectName(QStringLiteral("CaptionLabel"));
    layout->addWidget(captionLabel);
    countLabel_ = new QLabel(this);
    countLabel_->setObjectName(QStringLiteral("CountLabel"));
    layout->addWidget(countLabel_);
    bar_ = new QProgressBar(this);
    bar_->setTextVisible(false);
    bar_->setRange(0, 0);
    bar_->setMinimumWidth(260);
    layout->addWidget(bar_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelButton_ = new QPushButton(QStringLiteral("キャンセル"), this);
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    cancelButton_->setAutoDefault(false);
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
    SetCount(0, 0);
}

void TProgressDialog::SetCount(std::int64_t done, std::int64_t total) {
    done_ = done;
    QLocale locale;
    if (total > 0) {
        countLabel_->setText(QStringLiteral("%1 / %2 件")
                                 .arg(locale.toString(static_cast<qlonglong>(done)),
                                      locale.toString(static_cast<qlonglong>(total))));
        bar_->setRange(0, 1000);
        bar_->setValue(static_cast<int>(done * 1000 / total));
    } else {
        countLabel_->setText(
            QStringLiteral("%1 行").arg(locale.toString(static_cast<qlonglong>(done))));
    }
}

QString TProgressDialog::CountText() const {
    return countLabel_->text();
}

void TProgressDialog::reject() {
    if (cancelled_)
        return;
    cancelled_ = true;
    cancelButton_->setEnabled(false);
    countLabel_->setText(countLabel_->text() + QStringLiteral("  (取り消し中)"));
}

TLongWork::TLongWork(QWidget& window, QString caption)
    : window_(window), caption_(std::move(caption)) {
    clock_.start();
    // The first report paints at once: what came before it (connecting, preparing) ran unpainted.
    lastPaint_ = -PaintEveryMs;
    qApp->installEventFilter(this);
}

TLongWork::~TLongWork() {
    qApp->removeEventFilter(this);
    delete dialog_.data();
}

bool TLongWork::Step(TProgressKind, std::int64_t done, std::int64_t total) {
    if (dialog_ && dialog_->Cancelled())
        return false;
    const qint64 now = clock_.elapsed();
    if (now - lastPaint_ < PaintEveryMs)
        return true;
    lastPaint_ = now;
    if (!dialog_ && now >= ShowAfterMs) {
        dialog_ = new TProgressDialog(&window_, caption_);
        dialog_->show();
    }
    if (dialog_) {
        dialog_->SetCount(done, total);
        if (OnDialogUpdated)
            OnDialogUpdated(*dialog_);
    }
    // Paints, the box's input and whatever else is queued; the filter keeps the rest waiting.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !(dialog_ && dialog_->Cancelled());
}

bool TLongWork::Within(const QObject* object, const QObject* ancestor) const {
    for (; object; object = object->parent())
        if (object == ancestor)
            return true;
    return false;
}

bool TLongWork::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // Input only for the box.
        return !(dialog_ && Within(watched, dialog_));
    case QEvent::Close:
    case QEvent::Timer:
        // The window's own timers (the navigator's repeat, the grid's column drag) would run its
        // handlers in the middle of the work; they fire again once it is done. So does a close.
        if (Within(watched, &window_) && !(dialog_ && Within(watched, dialog_))) {
            event->ignore();
            return true;
        }
        return false;
    default:
        return false;
    }
}

} // namespace sorvanto
