// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>

#include "tstringlist.h"

// Text in which a form store files string-list properties of its window's
// components ("scStanBez.Items", "msText.Lines", ...) in one record's blob.
// The format is described in docs/formstore-text.md.
struct TFormProperty {
    QString path;
    TStringList lines;
};
using TFormProperties = QList<TFormProperty>;

QStringList formatFormStoreText(const TFormProperties& properties);

// Tolerant of damage: unknown lines are skipped, items beyond the count are
// dropped, missing items are left out.
TFormProperties parseFormStoreText(const QStringList& lines);

// The blob a form store writes: the text as UTF-8 with byte-order mark, CR LF lines.
QByteArray formStoreBlob(const TFormProperties& properties);
TFormProperties parseFormStoreBlob(const QByteArray& blob);

// The lines of one property, or nullptr when the text does not hold it.
const TStringList* findFormProperty(const TFormProperties& properties, const QString& path);
