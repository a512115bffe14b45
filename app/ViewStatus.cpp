#include "ViewStatus.h"

namespace sorvanto {

TViewStatus::TViewStatus(QWidget* parent, const char* name) : QLabel(parent) {
    setObjectName(QString::fromLatin1(name));
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextFormat(Qt::PlainText);
}

void TViewStatus::SetPosition(const QString& text) {
    position_ = text;
    Show();
}

void TViewStatus::SetPending(const QString& text) {
    pending_ = text;
    Show();
}

void TViewStatus::Show() {
    QString line = position_;
    if (!line.isEmpty() && !pending_.isEmpty())
        line += QLatin1Char('\n');
    setText(line + pending_);
}

} // namespace sorvanto
