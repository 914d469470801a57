// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorcontrols.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDate>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QTimer>
#include <algorithm>

int TQuorListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_batch.size() + m_tail.size());
}

QVariant TQuorListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const qsizetype row = index.row();
    if (row < m_batch.size())
        return m_batch.at(row);
    if (row - m_batch.size() < m_tail.size())
        return m_tail.at(row - m_batch.size());
    return {};
}

void TQuorListModel::clear()
{
    beginResetModel();
    m_batch = TCompactStrings();
    m_tail.clear();
    endResetModel();
}

void TQuorListModel::addBatch(const TCompactStrings& items)
{
    if (items.isEmpty())
        return;
    if (rowCount() == 0) {
        beginResetModel();
        m_batch = items;
        endResetModel();
        return;
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + int(items.size()) - 1);
    m_tail += items.toStringList();
    endInsertRows();
}

void TQuorListModel::add(const QString& item)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_tail.append(item);
    endInsertRows();
}

TQuorComboBox::TQuorComboBox(QWidget* parent) : QComboBox(parent), m_model(new TQuorListModel(this))
{
    setModel(m_model);
    // The width is the window's design, never measured from thousands of entries.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);
    setMaxVisibleItems(20);
    connect(this, &QComboBox::activated, this, [this](int) { Q_EMIT OnChange(this); });
    view()->installEventFilter(this);
}

bool TQuorComboBox::eventFilter(QObject* watched, QEvent* event)
{
    // An open list takes Esc (close the list) and Enter (choose) before the
    // window's shortcuts see them.
    if (watched == view() && event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)
            event->accept();
    }
    return QComboBox::eventFilter(watched, event);
}

void TQuorComboBox::SetItemIndex(int index)
{
    setCurrentIndex(index < count() ? index : -1);
}

QString TQuorComboBox::ItemText(int index) const
{
    return itemText(index);
}

QStringList TQuorComboBox::Items() const
{
    return m_model->items();
}

void TQuorComboBox::ClearItems()
{
    m_model->clear();
    setCurrentIndex(-1);
}

void TQuorComboBox::AddItems(const TCompactStrings& items)
{
    const int index = currentIndex();
    m_model->addBatch(items);
    // Adding entries leaves the selection where it was.
    setCurrentIndex(index);
}

void TQuorComboBox::AddItem(const QString& item)
{
    const int index = currentIndex();
    m_model->add(item);
    setCurrentIndex(index);
}

void TQuorComboBox::focusInEvent(QFocusEvent* event)
{
    QComboBox::focusInEvent(event);
    const bool returning = event->reason() == Qt::PopupFocusReason ||
                           (event->reason() == Qt::ActiveWindowFocusReason && m_lostToOtherWindow);
    m_lostToOtherWindow = false;
    if (!returning)
        Q_EMIT OnEnter(this);
}

void TQuorComboBox::focusOutEvent(QFocusEvent* event)
{
    m_lostToOtherWindow =
        event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
    QComboBox::focusOutEvent(event);
}

TQuorStdLabel::TQuorStdLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void TQuorStdLabel::setText(const QString& text)
{
    if (m_designWidth < 0)
        m_designWidth = width();
    // A label with a designed accessible name shows a value: a screen reader
    // hears the text shown, and the name designed where nothing is shown.
    if (m_caption.isEmpty())
        m_caption = accessibleName();
    QLabel::setText(text);
    if (!m_caption.isEmpty()) {
        setAccessibleDescription(m_caption);
        const QString name = text.isEmpty() ? m_caption : text;
        // Qt tells a screen reader of the new name itself.
        setAccessibleName(name);
    }
    int wanted = std::max(m_designWidth, fontMetrics().horizontalAdvance(text) + 2 * margin() + 4);
    if (parentWidget())
        wanted = std::min(wanted, std::max(m_designWidth, parentWidget()->width() - x() - 8));
    resize(wanted, height());
}

TQuorAttachLabel::TQuorAttachLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // Without a focus target the label is its own buddy: the accelerator is shown
    // underlined and, since a label takes no focus, moves nothing.
    setBuddy(this);
}

TQuorStdPanel::TQuorStdPanel(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
}

void TQuorStdPanel::setCaption(const QString& caption)
{
    m_caption = caption;
    update();
}

void TQuorStdPanel::setBevelLowered(bool lowered)
{
    setFrameShadow(lowered ? QFrame::Sunken : QFrame::Raised);
}

void TQuorStdPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (m_caption.isEmpty())
        return;
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, m_caption);
}

TQuorStdButton::TQuorStdButton(QWidget* parent) : QPushButton(parent)
{
    // Enter on a focused button presses that button, as in a dialog.
    setAutoDefault(true);
}

void TQuorStdButton::bindAction(QAction* action)
{
    if (m_action)
        disconnect(m_action, nullptr, this, nullptr);
    m_action = action;
    if (!action)
        return;
    setEnabled(action->isEnabled());
    connect(this, &QPushButton::clicked, action, [action] { action->trigger(); });
    connect(action, &QAction::changed, this, [this, action] { setEnabled(action->isEnabled()); });
}

TQuorStdMemo::TQuorStdMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

QStringList TQuorStdMemo::lines() const
{
    if (document()->isEmpty())
        return {};
    return toPlainText().split(u'\n');
}

void TQuorStdMemo::setLineList(const TStringList& lines)
{
    const QString text = lines.JoinedLines();
    if (text.size() <= kLongestShownLine) {
        setPlainText(text);
        return;
    }
    // Only a text with an over-long line is built anew.
    QString shown;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        const QStringView line = QStringView(text).mid(start, end - start);
        if (line.size() > kLongestShownLine) {
            if (shown.isNull())
                shown = text.left(start);
            shown += line.left(kLongestShownLine);
            shown += QStringLiteral(" … (gekürzt)");
        } else if (!shown.isNull()) {
            shown += line;
        }
        if (!shown.isNull() && end < text.size())
            shown += u'\n';
        start = end + 1;
    }
    setPlainText(shown.isNull() ? text : shown);
}

TQuorStdStatusBar::TQuorStdStatusBar(QWidget* parent)
    : QStatusBar(parent), m_text(new QLabel(this)), m_date(new QLabel(this))
{
    setSizeGripEnabled(false);
    m_text->setObjectName(QStringLiteral("StatusBarPanel1"));
    m_date->setObjectName(QStringLiteral("StatusBarPanel2"));
    m_text->setFixedWidth(670);
    m_date->setFixedWidth(50);
    for (QLabel* label : {m_text, m_date}) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        addWidget(label);
    }
    m_nextDay = new QTimer(this);
    m_nextDay->setSingleShot(true);
    m_nextDay->setTimerType(Qt::PreciseTimer);
    connect(m_nextDay, &QTimer::timeout, this, &TQuorStdStatusBar::showDate);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    showDate();
            });
    SetClock(&QDateTime::currentDateTime);
}

void TQuorStdStatusBar::SetClock(TClock clock)
{
    m_clock = std::move(clock);
    showDate();
}

void TQuorStdStatusBar::showDate()
{
    const QDateTime now = m_clock();
    m_date->setText(QLocale(QLocale::German, QLocale::Germany)
                        .toString(now.date(), QStringLiteral("dd.MM.yy")));
    // Wakes once, a second past the coming midnight.
    const QDateTime midnight(now.date().addDays(1), QTime(0, 0));
    m_nextDay->start(int(std::clamp<qint64>(now.msecsTo(midnight), 0, 86400000)) + 1000);
}
