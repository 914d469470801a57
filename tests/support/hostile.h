// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Named settings as people and damaged programs leave them in a shared store:
// odd names and broken texts. Each has a short label for test output.
struct HostileSetting {
    QString label;
    QString name;
    QString kurz;
    QByteArray blob;
    // A PostgreSQL store cannot hold it (NUL in a text, a key over the index limit).
    bool sqliteOnly = false;
};

// large: also the 50 MB text and the text of 100,000 lines.
QList<HostileSetting> hostileSettings(bool large);

// The stored-settings text a posting must write for this source: the same bytes,
// but every line ended by CR LF in the source's encoding.
QByteArray expectedCopy(const QByteArray& source);
