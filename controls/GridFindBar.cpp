#include "GridFindBar.h"

#include "ControlHooks.h"
#include "DBGrid.h"
#include "DataSet.h"
#include "DataSource.h"
#include "FieldText.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

namespace sorvanto {

namespace {
bool IsAscii(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

char LowerAscii(unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Folds UTF-8 text into `out` as compatibility normalization and case folding would, when each
// of its characters folds alone to a known form: ASCII (letters lowered), full-width ASCII (to
// ASCII), and hiragana, katakana and CJK ideographs, which stay as they are and never combine
// with a neighbour. False when some character needs the full folding.
bool QuickFold(const std::string& text, std::string& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            out += LowerAscii(c);
            ++p;
            continue;
        }
        if ((c & 0xF0) != 0xE0 || end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
            return false;
        const unsigned cp =
            (unsigned(c & 0x0F) << 12) | (unsigned(p[1] & 0x3F) << 6) | unsigned(p[2] & 0x3F);
        if (cp >= 0xFF01 && cp <= 0xFF5E) {
            out += LowerAscii(static_cast<unsigned char>(cp - 0xFEE0));
        } else if ((cp >= 0x3041 && cp <= 0x3096) || (cp >= 0x30A1 && cp <= 0x30FA) ||
                   cp == 0x30FC || (cp >= 0x4E00 && cp <= 0x9FFF)) {
            out.append(reinterpret_cast<const char*>(p), 3);
        } else {
            return false;
        }
        p += 3;
    }
    return true;
}
} // namespace

// ---- Matching -------------------------------------------------------------------------------

TTextMatcher::TTextMatcher(const QString& text)
    : needle_(Fold(text)), needleBytes_(needle_.toStdString()) {}

QString TTextMatcher::Fold(const QString& text) {
    // Plain ASCII is already normalized; its case folding lowers the letters.
    if (IsAscii(text))
        return text.toLower();
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

bool TTextMatcher::Matches(const QString& text) const {
    return Fold(text).contains(needle_);
}

bool TTextMatcher::Matches(const TField& field, const TValue& value) const {
    if (const auto* text = std::get_if<std::string>(&value); text && !field.IsBlob()) {
        // A text value is its own display text: the common characters fold byte by byte,
        // anything else goes the long way. UTF-8 has no false matches inside a character.
        if (QuickFold(*text, buffer_))
            return buffer_.find(needleBytes_) != std::string::npos;
        return Matches(QString::fromStdString(*text));
    }
    if (IsNull(value) && !field.IsBlob())
        return needle_.isEmpty();
    return Matches(DisplayText(field, value));
}

int FindRecord(const TDataSet& dataSet, const TField& field, const TTextMatcher& matcher, int from,
               bool forward) {
    const int count = dataSet.RecordCount();
    const int current = dataSet.RecNo();
    const bool editing = dataSet.State() == TDataSetState::dsEdit;
    TValue value;
    auto matches = [&](int recNo) {
        if (editing && recNo == current)
            return matcher.Matches(field, field.Value());
        return dataSet.RecordValue(recNo, field, value) && matcher.Matches(field, value);
    };
    if (forward) {
        for (int r = std::max(from + 1, 1); r <= count; ++r)
            if (matches(r))
                return r;
        for (int r = 1, last = std::min(from, count); r <= last; ++r)
            if (matches(r))
                return r;
    } else {
        for (int r = std::min(from - 1, count); r >= 1; --r)
            if (matches(r))
                return r;
        for (int r = count, last = std::max(from, 1); r >= last; --r)
            if (matches(r))
                return r;
    }
    return 0;
}

// ---- The bar --------------------------------------------------------------------------------

TGridFindBar::TGridFindBar(TDBGrid& grid, QWidget* parent) : QFrame(parent), grid_(&grid) {
    setObjectName(grid.objectName() + QStringLiteral("FindBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 1, 3, 1);
    layout->setSpacing(4);
    auto* caption = new QLabel(QStringLiteral("検索:"), this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("FindEdit"));
    edit_->setMaxLength(1000);
    edit_->installEventFilter(this);
    caption->setBuddy(edit_);
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("FindMessage"));
    message_->setTextFormat(Qt::PlainText);
    layout->addWidget(caption);
    layout->addWidget(edit_, 1);
    layout->addWidget(message_);
    // A new text starts a new search: what was said about the old one no longer holds.
    connect(edit_, &QLineEdit::textEdited, message_, &QLabel::clear);
    hide();
    grid.OnFind = [this](TDBGrid&) { Open(); };
}

TGridFindBar::~TGridFindBar() {
    if (grid_)
        grid_->OnFind = nullptr;
}

void TGridFindBar::Place() {
    // The window keeps its stored layout, with no room below the grid: the bar lies over the
    // grid's bottom edge.
    const int height = std::min(sizeHint().height(), grid_->height());
    const QRect area = grid_->geometry();
    setGeometry(area.left(), area.bottom() + 1 - height, area.width(), height);
    raise();
}

void TGridFindBar::Open() {
    if (!grid_)
        return;
    Place();
    show();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
}

void TGridFindBar::Close() {
    hide();
    message_->clear();
    if (grid_)
        grid_->setFocus(Qt::ShortcutFocusReason);
}

bool TGridFindBar::Find(bool forward) {
    bool found = false;
    RunHandled(this, [&] { found = RunFind(forward); });
    return found;
}

bool TGridFindBar::RunFind(bool forward) {
    message_->clear();
    TDataSource* source = grid_ ? grid_->DataSource() : nullptr;
    TDataSet* dataSet = source ? source->DataSet() : nullptr;
    TField* field = grid_ ? grid_->SelectedField() : nullptr;
    const TTextMatcher matcher(edit_->text());
    if (!dataSet || !dataSet->Active() || !field || matcher.Empty())
        return false;
    // A new record has no number until it is posted: it is finished first, as a move would
    // (posted when filled in, dropped when untouched), and the search starts where that leaves.
    if (dataSet->State() == TDataSetState::dsInsert)
        dataSet->CheckBrowseMode();
    const int count = dataSet->RecordCount();
    int from = dataSet->RecNo();
    if (from < 1)
        from = forward ? 0 : count + 1;
    const int found = FindRecord(*dataSet, *field, matcher, from, forward);
    if (found == 0) {
        QApplication::beep();
        message_->setText(QStringLiteral("見つかりません"));
        return false;
    }
    if (found != from && from >= 1 && from <= count && (found < from) == forward)
        message_->setText(forward ? QStringLiteral("先頭から検索しました")
                                  : QStringLiteral("末尾から検索しました"));
    // The dataset's own move: the edited record is posted first and every event goes out.
    dataSet->SetRecNo(found);
    return true;
}

bool TGridFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edit_)
        return QFrame::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return ||
            key->key() == Qt::Key_Enter) {
            event->accept();
            return true;
        }
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Find(!(key->modifiers() & Qt::ShiftModifier));
        return true;
    case Qt::Key_Escape:
        Close();
        return true;
    default:
        return false;
    }
}

} // namespace sorvanto
