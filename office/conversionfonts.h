#pragma once

// The fonts LibreOffice converts with. The documents name the fonts a
// Chinese Word has: 宋体 (SimSun) and 黑体 (SimHei) for Chinese text, 新宋体
// (NSimSun) for the fixed-width columns, Times New Roman and Arial for Latin.
// On Linux these are mapped to the Noto CJK SC faces. The faces come in
// collections (.ttc) whose first face is the Japanese one, and LibreOffice
// embeds that first face whatever face was matched: so each SC face is
// taken out of its collection into a font file of its own, in a folder of
// the user's cache, and the conversion's fontconfig file uses those and
// hides the collections.

#include "base/result.h"

#include <QByteArray>
#include <QString>

namespace office {

// The fontconfig file a conversion runs with (FONTCONFIG_FILE), made once
// per user and version; empty with the reason when the Noto CJK fonts are
// not installed (the conversion then runs on the system's configuration).
QString conversionFontConfig(QString *why = nullptr);

// The faces the workstation draws its own PDFs with: 宋体 and Times New Roman
// as Serif, 黑体 and Arial as Sans, 新宋体 as Mono.
enum class FontFace { Serif, Sans, Mono };
// The file of that Noto CJK SC face, taken out of its collection as for
// the conversion (the same folder); empty with the reason when missing.
QString simplifiedChineseFace(FontFace face, bool bold, QString *why = nullptr);

// A face as the workstation draws with it: its family renamed ("Noto" at
// its start becomes `prefix`, of the same length; the PostScript name a PDF
// shows stays), so that it is told from the installed face; and characters
// that share a glyph with one written far more often (⻚ and 页) left out of
// its character map, so that a PDF's text reads as drawn.
base::Result<QByteArray> drawingFace(const QByteArray &face, const QByteArray &prefix);
// That face of simplifiedChineseFace() as a file in the user's cache, made
// once ("Orvn Serif CJK SC" and so on); empty with the reason when missing.
QString drawingFaceFile(FontFace face, bool bold, QString *why = nullptr);

// The face of a font collection whose family is `family` (English name),
// as a font file of its own. Fails on a file that is no collection or has
// no such face.
base::Result<QByteArray> faceOfCollection(const QByteArray &collection, const QString &family);

// The families of each face of a collection, in order (for tests and a
// look at what a collection holds).
QStringList collectionFamilies(const QByteArray &collection);

} // namespace office
