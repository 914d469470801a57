// SPDX-License-Identifier: GPL-3.0-or-later
#include "jsonfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

QString printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString printableLines(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = printable(line);
    return lines.join(QLatin1Char('\n'));
}

QString keyText(const TStoreKey& key)
{
    QStringList fields;
    for (const QString& field : key)
        fields << printable(field);
    return fields.join(QLatin1Char('/'));
}

QJsonObject readJsonFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFileFormatError{
            EFileFormatError::Malformed,
            QStringLiteral("%1: kann nicht gelesen werden: %2").arg(fileName, file.errorString())};
    const QByteArray data = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const auto line = data.left(parseError.offset).count('\n') + 1;
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1, Zeile %2: kein gültiges JSON: %3")
                                   .arg(fileName)
                                   .arg(line)
                                   .arg(parseError.errorString())};
    }
    return document.object();
}

void writeFileWhole(const QString& fileName, const QByteArray& bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1: kann nicht geschrieben werden: %2")
                                   .arg(fileName, file.errorString())};
}

void refuseUnknownFields(const QJsonObject& object, const QStringList& known, const QString& where)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!known.contains(it.key()))
            throw EFileFormatError{
                EFileFormatError::Malformed,
                QStringLiteral("%1: unbekanntes Feld „%2“").arg(where, it.key())};
}

void refuseNul(const QStringList& texts, const QString& where)
{
    for (const QString& text : texts)
        if (text.contains(QChar(0)))
            throw EFileFormatError{
                EFileFormatError::Refused,
                QStringLiteral("%1: „%2“ enthält ein NUL-Zeichen; Namen und Kurzbeschreibungen "
                               "dürfen keines enthalten.")
                    .arg(where, printable(text))};
}

void TKeysSeen::refuseRepeated(const TStoreKey& key, int number)
{
    const QStringList fields(key.begin(), key.end());
    const auto it = m_seen.constFind(fields);
    if (it != m_seen.constEnd())
        throw EFileFormatError{EFileFormatError::Malformed,
                               QStringLiteral("%1 %2 und %1 %3 haben denselben Schlüssel „%4“")
                                   .arg(m_what)
                                   .arg(*it)
                                   .arg(number)
                                   .arg(keyText(key))};
    m_seen.insert(fields, number);
}
