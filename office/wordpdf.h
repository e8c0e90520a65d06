#pragma once

// The workstation's own Word layouts (the standard certificate, and the
// record and certificate of the installed templates) drawn straight to PDF,
// without the office suite: the same package is read as Word would read it
// (paragraphs and their styles, tables with their grid, borders, shading
// and repeated heading rows, the page's size and margins, the header and
// footer with their page fields, inline pictures) and drawn page by page
// with Word's page rules: a paragraph kept with the next, a row never
// split, heading rows repeated, "第 x 页 共 y 页" filled in.
//
// The PDF is PDF/A-1b, with the Noto CJK SC faces embedded and subset
// (宋体 and Times New Roman drawn as Noto Serif CJK SC, 黑体 and Arial as Noto
// Sans CJK SC, 新宋体 as Noto Sans Mono CJK SC). A laboratory's own template
// may use anything Word has, and goes through LibreOffice instead.

#include "base/result.h"
#include "base/task.h"
#include "office/zippackage.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace office {

// Whether the template at `path` is one the workstation installs (its
// document and styles as shipped, wherever the file lies): documents
// filled from it are drawn directly.
bool isInstalledTemplate(const QString &path);

// What a drawn document came to.
struct DrawnPdf
{
    QByteArray bytes;
    int pages = 0;
};

// Draws the package to PDF bytes; fails on a package that is no Word file,
// when the fonts are missing, or when cancelled.
// The package is taken by value: its document is let go once read.
base::Result<DrawnPdf> drawWordPdf(QList<ZipEntry> package,
                                   const base::Progress &progress = base::Progress());

// The same, written to `target` whole (a file beside it, then renamed).
base::Status writeWordPdf(QList<ZipEntry> package, const QString &target,
                          const base::Progress &progress = base::Progress());

} // namespace office
