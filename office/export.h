#pragma once

// Writing a calibration record or certificate: the texts, the filled Word
// file and, for a PDF, the conversion. Runs start to end on the calling
// thread (a worker thread, or a command-line tool); every temporary file
// lives in a private temporary directory that is gone when it returns.

#include "office/documents.h"
#include "base/result.h"
#include "base/task.h"

#include <atomic>
#include <functional>

namespace office {

struct DocumentJob
{
    DocumentKind kind = DocumentKind::Record;
    results::Calibration calibration;
    QVector<results::PointResult> points;
    DocumentSources sources;
    QString templatePath;
    QString target;         // a Word file when it ends in .docx, a PDF otherwise
    int timeoutMs = 180000; // for the conversion
};

// True when `path` names a Word file (".docx", in any case).
bool isWordFile(const QString &path);
// `name` with the suffix of `selectedFilter` ("Pdf 文件(*.pdf)") added when
// it has none of the suffixes `allowed` holds (compared without case).
QString withSuffix(const QString &name, const QString &selectedFilter, const QStringList &allowed);

using base::Progress;

// Whether an export may write `path`: its folder exists, and an existing
// file is neither read-only nor open in an office program (a lock file
// ".~lock.NAME#" or "~$NAME" beside it). Checked before any conversion.
base::Status checkTarget(const QString &path);

// Copies `from` over `to` through a file beside `to`, so `to` is either the
// old file or the whole new one.
base::Status replaceFile(const QString &from, const QString &to);

base::Status writeDocument(const DocumentJob &job, const Progress &progress = Progress());

// Writes a Word file with `makeDocx` straight to `target` when it is one;
// otherwise to a private folder, then converts it to PDF at `target`.
base::Status writeWordOrPdf(const QString &target, int timeoutMs, const Progress &progress,
                            const std::function<base::Status(const QString &docx)> &makeDocx);

} // namespace office
