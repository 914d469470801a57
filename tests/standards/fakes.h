// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "choicelists.h"
#include "description.h"

#include <QObject>
#include <QStringList>

// A choice list as plain data.
class FakeChoiceList final : public TChoiceList
{
public:
    QStringList items;
    int selected = -1;
    void Clear() override
    {
        items.clear();
        selected = -1;
    }
    void AddNames(const TCompactStrings& names) override { items += names.toStringList(); }
    void AddMarkerSelected(const QString& marker) override
    {
        items.append(marker);
        selected = int(items.size()) - 1;
    }
    QString selectedText() const { return selected < 0 ? QString() : items.at(selected); }
};

// Stands for the window's memo: the form store fills its "Lines".
class FakeMemo : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList Lines MEMBER lines)
public:
    using QObject::QObject;
    QStringList lines;
};

class FakeDescriptionView final : public TDescriptionView
{
public:
    explicit FakeDescriptionView(FakeMemo& memo) : m_memo(memo) {}
    QString name = QStringLiteral("(alt)");
    QString shortDescription = QStringLiteral("(alt)");
    void SetName(const QString& text) override { name = text; }
    void SetShortDescription(const QString& text) override { shortDescription = text; }
    void ClearLongDescription() override { m_memo.lines.clear(); }

private:
    FakeMemo& m_memo;
};
