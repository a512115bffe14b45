#pragma once

// The record navigator: a row of buttons that move through and change a dataset's records.

#include "Component.h"
#include "ControlHooks.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>

namespace sorvanto {

class TDataSource;
class TDBNavigator;

enum TNavigateBtn {
    nbFirst,
    nbPrior,
    nbNext,
    nbLast,
    nbInsert,
    nbDelete,
    nbEdit,
    nbPost,
    nbCancel,
    nbRefresh,
};
inline constexpr int kNavButtonCount = 10;

// A set of navigator buttons.
class TNavButtonSet {
public:
    constexpr TNavButtonSet() = default;
    constexpr TNavButtonSet(std::initializer_list<TNavigateBtn> buttons) {
        for (TNavigateBtn button : buttons)
            bits_ = static_cast<std::uint16_t>(bits_ | Bit(button));
    }
    static constexpr TNavButtonSet All() {
        TNavButtonSet all;
        all.bits_ = (1u << kNavButtonCount) - 1u;
        return all;
    }
    constexpr bool Contains(TNavigateBtn button) const { return (bits_ & Bit(button)) != 0; }
    constexpr int Count() const {
        int count = 0;
        for (int i = 0; i < kNavButtonCount; ++i)
            count += (bits_ >> i) & 1;
        return count;
    }
    constexpr bool operator==(const TNavButtonSet&) const = default;

private:
    static constexpr std::uint16_t Bit(TNavigateBtn button) {
        return static_cast<std::uint16_t>(1u << static_cast<unsigned>(button));
    }
    std::uint16_t bits_ = 0;
};

// How a control fills its parent: alNone keeps the bounds it is given.
enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

using ENavClick = std::function<void(TDBNavigator* sender, TNavigateBtn button)>;

// One button of the navigator: a push button that never takes the keyboard focus. It is clicked
// when the left mouse button is released over it after being pressed on it; Prior and Next
// repeat while held.
class TNavButton : public QWidget {
public:
    TNavButton(TDBNavigator* navigator, TNavigateBtn index);
    ~TNavButton() override;

    TNavigateBtn Index() const noexcept { return index_; }
    // Pressed with the pointer on it: drawn sunken.
    bool Down() const noexcept { return down_; }
    // Whether the button repeats while held, and its repeat timer while it runs (0 when not).
    bool Repeats() const noexcept { return index_ == nbPrior || index_ == nbNext; }
    int RepeatTimerId() const noexcept { return timerId_; }
    int RepeatInterval() const noexcept { return interval_; }

    static constexpr int kInitialRepeatDelay = 400;
    static constexpr int kRepeatInterval = 100;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void StartTimer(int interval);
    void StopTimer();
    // Forgets the press: no click follows, the repeat stops.
    void LetGo();

    TDBNavigator* navigator_;
    TNavigateBtn index_;
    bool tracking_ = false; // the left button was pressed on it and is still held
    bool down_ = false;     // tracking_ and the pointer is on it
    bool hovered_ = false;
    int timerId_ = 0;
    int interval_ = 0;
};

// The record navigator: ten buttons (the visible ones side by side, equally wide) that perform
// First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel and Refresh on the dataset of its
// data source, each enabled only while its operation makes sense, and report every click through
// OnClick.
class TDBNavigator : public QWidget, public TComponent {
public:
    explicit TDBNavigator(QWidget* parent = nullptr, std::string name = {});
    ~TDBNavigator() override;

    TDataSource* DataSource() const;
    void SetDataSource(TDataSource* source);

    TNavButtonSet VisibleButtons() const;
    void SetVisibleButtons(TNavButtonSet buttons);

    bool ConfirmDelete = true;

    bool Flat() const;
    void SetFlat(bool value);

    // Lines replacing the default hints: line i, when not empty, for button i.
    QStringList Hints() const;
    void SetHints(const QStringList& hints);
    // The hint button shows, whether or not hints are shown.
    QString Hint(TNavigateBtn button) const;
    static QString DefaultHint(TNavigateBtn button);

    // While ParentShowHint is true, ShowHint follows the parent's "ShowHint" property (false when
    // it has none); setting ShowHint clears ParentShowHint.
    bool ShowHint() const;
    void SetShowHint(bool value);
    bool ParentShowHint() const;
    void SetParentShowHint(bool value);

    // The navigator's own enabled switch (QWidget::setEnabled does the same).
    bool Enabled() const;
    void SetEnabled(bool value);

    bool TabStop() const;
    void SetTabStop(bool value);

    TAlign Align() const;
    void SetAlign(TAlign value);

    ENavClick BeforeAction;
    ENavClick OnClick;

    TNavButton* Button(TNavigateBtn button) const;
    // The button the keyboard acts on.
    TNavigateBtn FocusedButton() const;
    int ButtonWidth() const;
    static constexpr int kMinButtonWidth = 20;
    static constexpr int kMinButtonHeight = 18;

    // Performs a button's click: BeforeAction, the operation (Delete asks first when
    // ConfirmDelete is set), then OnClick. A failing operation raises no OnClick.
    void BtnClick(TNavigateBtn button);

protected:
    void Loaded() override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class TNavButton;
    friend class TNavDataLink;
    struct Private;

    // The enabling rules.
    void ActiveChanged();
    void DataChanged();
    void EditingChanged();
    // Rounds the width, then lays out the buttons.
    void Arrange();
    void UpdateHints();
    // A press on a button marks it for the keyboard.
    void ButtonPressed(TNavigateBtn button);
    // Whether the keyboard's focus mark is on button now.
    bool ShowsFocusMark(TNavigateBtn button) const;

    std::unique_ptr<Private> d;
};

} // namespace sorvanto
