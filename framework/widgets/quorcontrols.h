// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "compactstrings.h"
#include "tstringlist.h"

#include <QAbstractListModel>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <functional>

class QTimer;

class QAction;

// The entries of a choice list: a batch of entries shared with whoever made it
// (three lists show the same thousands of names without copying them), then
// entries added one at a time.
class TQuorListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QStringList items() const { return m_batch.toStringList() + m_tail; }
    void clear();
    void addBatch(const TCompactStrings& items);
    void add(const QString& item);

private:
    TCompactStrings m_batch;
    QStringList m_tail;
};

// Framework controls: thin subclasses of the matching Qt widgets with the
// behaviour the suite's windows rely on.

// Choice list. OnEnter fires when the focus enters it (not when a popup or the
// window hands the focus back), OnChange when the person changes the selection;
// a selection made by program fires neither.
class TQuorComboBox : public QComboBox
{
    Q_OBJECT
    Q_PROPERTY(QString myMenuEintragF2Spezial MEMBER m_f2Caption)
    Q_PROPERTY(int PopupListWidth MEMBER m_popupListWidth)
    Q_PROPERTY(QString myAttachlabel MEMBER m_attachLabel)
public:
    explicit TQuorComboBox(QWidget* parent = nullptr);

    int GetItemIndex() const { return currentIndex(); }
    void SetItemIndex(int index);
    QString ItemText(int index) const;
    int ItemCount() const { return count(); }
    QStringList Items() const;
    void ClearItems();
    // Appends many entries in one step; the first batch into an empty list shares
    // the caller's list instead of copying it.
    void AddItems(const TCompactStrings& items);
    void AddItem(const QString& item);

Q_SIGNALS:
    void OnEnter(QObject* sender);
    void OnChange(QObject* sender);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TQuorListModel* m_model;
    QString m_f2Caption;
    QString m_attachLabel;
    int m_popupListWidth = 0;
    bool m_lostToOtherWindow = false;
};

class TQuorStdComboBox : public TQuorComboBox
{
    Q_OBJECT
public:
    using TQuorComboBox::TQuorComboBox;
};

// Label showing its text as it is: an ampersand is a character, not an
// accelerator. It sizes itself to its text, never narrower than designed and
// never past its parent's right edge.
class TQuorStdLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TQuorStdLabel(QWidget* parent = nullptr);
    void setText(const QString& text);

private:
    int m_designWidth = -1;
    QString m_caption;
};

// Caption label with an accelerator that moves the focus to its buddy (the
// focus control). Without one the accelerator letter is still underlined and
// moves nothing.
class TQuorAttachLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TQuorAttachLabel(QWidget* parent = nullptr);
};

// Panel with a centred caption and an outer bevel.
class TQuorStdPanel : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(bool BevelLowered READ bevelLowered WRITE setBevelLowered)
public:
    explicit TQuorStdPanel(QWidget* parent = nullptr);
    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    bool bevelLowered() const { return frameShadow() == QFrame::Sunken; }
    void setBevelLowered(bool lowered);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
};

// Push button bound to an action by name; it keeps its own caption. A focused
// button takes Enter itself; Cancel marks the button that Esc presses.
class TQuorStdButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(QString Action READ actionName WRITE setActionName)
    Q_PROPERTY(bool Cancel MEMBER m_cancel)
public:
    explicit TQuorStdButton(QWidget* parent = nullptr);
    QString actionName() const { return m_actionName; }
    void setActionName(const QString& name) { m_actionName = name; }
    bool isCancel() const { return m_cancel; }
    void bindAction(QAction* action);
    QAction* boundAction() const { return m_action; }

private:
    QString m_actionName;
    bool m_cancel = false;
    QAction* m_action = nullptr;
};

// Memo with its text as lines; Tab moves the focus on. A line longer than any
// person reads is shown cut short: laying out megabytes of one line would keep
// the window from answering for many seconds.
class TQuorStdMemo : public QPlainTextEdit
{
    Q_OBJECT
    Q_PROPERTY(TStringList Lines READ lineList WRITE setLineList)
public:
    explicit TQuorStdMemo(QWidget* parent = nullptr);
    QStringList lines() const;
    void setLines(const QStringList& lines) { setLineList(TStringList(lines)); }
    TStringList lineList() const { return TStringList(lines()); }
    // Lines handed over joined are shown as they are, without being split.
    void setLineList(const TStringList& lines);
    void clearLines() { setLines({}); }

    static constexpr qsizetype kLongestShownLine = 20000;
};

// Status bar with two panels; the second shows today's date. It turns over
// once a day, shortly after midnight, and whenever the program becomes active
// again (a machine woken from sleep).
class TQuorStdStatusBar : public QStatusBar
{
    Q_OBJECT
public:
    explicit TQuorStdStatusBar(QWidget* parent = nullptr);
    QLabel* panel(int index) const { return index == 0 ? m_text : m_date; }

    // The clock the date is read from (tests put another in place).
    using TClock = std::function<QDateTime()>;
    void SetClock(TClock clock);

private:
    void showDate();

    QLabel* m_text;
    QLabel* m_date;
    QTimer* m_nextDay;
    TClock m_clock;
};

class TQuorMainMenu : public QMenuBar
{
    Q_OBJECT
public:
    using QMenuBar::QMenuBar;
};
