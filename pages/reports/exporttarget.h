#pragma once

// Where an export goes: a name made of what it is, the equipment and the
// calibration date, in the folder last used for exports (remembered per
// user), with Chinese filters; the target checked before any work starts.

#include "storage/records.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace exporttarget {

enum class Format { Pdf, Docx, Xlsx, Xls };

// "校准记录_恒温箱 A_2024-05-01": `what`, the equipment and the date of the
// calibration's first sample, without characters a file name may not hold.
QString proposedName(const QString &what, const storage::RunHeader &header);
// The filter text of each format, e.g. "PDF 文件 (*.pdf)".
QString filterOf(Format format);
QString suffixOf(Format format);
// The folder last used for exports; the documents folder before the first.
QString lastFolder();
void rememberFolder(const QString &folder);

// Asks for the file (the first format is proposed), adds the chosen
// format's suffix when missing, remembers the folder and checks the target
// (a read-only file or one open in an office program is refused with a
// "失败" box). Empty when the operator cancelled or the target is refused;
// `chosen` receives the format of the file.
QString ask(QWidget *parent, const QString &what, const storage::RunHeader &header,
            const QList<Format> &formats, Format *chosen = nullptr);

} // namespace exporttarget
