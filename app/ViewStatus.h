#pragma once

#include <QLabel>
#include <QString>

namespace sorvanto {

// The line beside a view's navigator: where the current record stands, then what of the view is
// not in the database yet, on the line below. Each part is empty when it has nothing to say.
class TViewStatus : public QLabel {
public:
    TViewStatus(QWidget* parent, const char* name);

    // "12 / 1,000,013": the current record and the record count; empty for a closed view.
    void SetPosition(const QString& text);
    // "未送信 3件" and, when the last apply refused some, "（うち拒否 1件）"; when its commit answer
    // was lost, how many await confirmation.
    void SetPending(const QString& text);
    const QString& Position() const noexcept { return position_; }
    const QString& Pending() const noexcept { return pending_; }

private:
    void Show();
    QString position_;
    QString pending_;
};

} // namespace sorvanto
