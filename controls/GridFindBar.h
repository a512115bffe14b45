#pragma once

// Finding a text in a grid's current column: a small bar with a text box that finds the next or
// previous record whose cell contains the text, and the search it runs over the dataset's rows.

#include "Value.h"

#include <QFrame>
#include <QPointer>
#include <QString>

#include <string>

class QLabel;
class QLineEdit;

namespace sorvanto {

class TDataSet;
class TDBGrid;
class TField;

// A text to look for in display texts. Letter case and full-width or half-width forms do not
// count: both sides are compared after compatibility normalization and case folding, the text
// looked for folded once here.
class TTextMatcher {
public:
    explicit TTextMatcher(const QString& text);

    bool Empty() const noexcept { return needle_.isEmpty(); }
    // Whether a text contains the text looked for.
    bool Matches(const QString& text) const;
    // Whether the display text of a field's value contains it; text of the common characters
    // (ASCII, full-width ASCII, kana, ideographs) is compared without being converted.
    bool Matches(const TField& field, const TValue& value) const;
    // A text as it is compared.
    static QString Fold(const QString& text);

private:
    QString needle_;
    std::string needleBytes_; // the folded text in UTF-8
    mutable std::string buffer_;
};

// The number of the first record after `from` (before it, backwards) whose field's display text
// matches, going round past the last (first) record and ending with `from` itself; 0 when none
// does. The records are read where they lie, without moving the current record; the record being
// edited is read as edited. `from` may lie outside the records (0, or the count + 1) to search
// them all from one end.
int FindRecord(const TDataSet& dataSet, const TField& field, const TTextMatcher& matcher, int from,
               bool forward);

// The find bar of a grid: Ctrl+F in the grid opens it with the focus in its text box; Enter finds
// the next record whose current-column cell contains the text, Shift+Enter the previous one, both
// going round past the end; Escape closes it and gives the focus back to the grid. A found record
// becomes current as any move makes it (an edited record is posted first); a miss leaves the
// current record, beeps and says so in the bar.
class TGridFindBar : public QFrame {
public:
    TGridFindBar(TDBGrid& grid, QWidget* parent);
    ~TGridFindBar() override;

    QLineEdit* Edit() const noexcept { return edit_; }
    // What the last search had to say: empty, a miss, or that it went round.
    QLabel* Message() const noexcept { return message_; }

    // Shows the bar over the bottom edge of the grid, focus in the text box, its text selected.
    void Open();
    // Hides the bar; the focus goes back to the grid.
    void Close();
    // Finds the next (previous) record; true when one matched.
    bool Find(bool forward);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool RunFind(bool forward);
    void Place();

    QPointer<TDBGrid> grid_;
    QLineEdit* edit_ = nullptr;
    QLabel* message_ = nullptr;
};

} // namespace sorvanto
