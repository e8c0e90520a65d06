#pragma once

// Fills a Word (.docx) template by bookmark name, the way inserting text at a
// bookmark in Word leaves a document: the text goes where the bookmark
// starts, the bookmark stays in front of it, and of several texts inserted
// at one bookmark the one inserted last comes first. Everything else in the
// package is copied unchanged; a bookmark the template lacks is skipped.
// Blanks are kept; a "\n" starts a new paragraph with the same paragraph
// properties (or, where the bookmark is not directly in a paragraph, a line
// break).

#include "storage/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace office {

struct Insertion
{
    QString bookmark;
    QString text;
};

// The filled word/document.xml; `missing` receives bookmarks not found.
base::Result<QByteArray> fillDocumentXml(const QByteArray &xml,
                                            const QList<Insertion> &insertions,
                                            QStringList *missing = nullptr);

// Reads `templatePath`, fills it and writes `outPath`. Nothing is written
// when anything fails.
base::Status fillDocx(const QString &templatePath, const QString &outPath,
                         const QList<Insertion> &insertions, QStringList *missing = nullptr);

} // namespace office
