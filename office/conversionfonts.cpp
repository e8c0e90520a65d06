#include "office/conversionfonts.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace office {

namespace {

// Big-endian fields of a font file, each read only inside the data.
struct Reader
{
    const QByteArray &data;
    bool has(qint64 at, qint64 size) const
    {
        return at >= 0 && size >= 0 && at + size <= data.size();
    }
    quint32 u32(qint64 at) const
    {
        if (!has(at, 4))
            return 0;
        const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
        return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    }
    quint16 u16(qint64 at) const
    {
        if (!has(at, 2))
            return 0;
        const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
        return quint16(quint16(p[0]) << 8 | p[1]);
    }
};

void put32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

void put16(QByteArray &out, quint16 v)
{
    out.append(char(v >> 8)).append(char(v));
}

struct Table
{
    quint32 tag = 0, checksum = 0, offset = 0, length = 0;
};

// The table directory of the face that starts at `at`; empty when it does
// not fit in the data.
QVector<Table> tablesAt(const Reader &r, qint64 at)
{
    const int n = r.u16(at + 4);
    if (!r.has(at, 12 + qint64(n) * 16))
        return {};
    QVector<Table> out;
    for (int i = 0; i < n; ++i) {
        const qint64 rec = at + 12 + qint64(i) * 16;
        Table t{r.u32(rec), r.u32(rec + 4), r.u32(rec + 8), r.u32(rec + 12)};
        if (!r.has(t.offset, t.length))
            return {};
        out << t;
    }
    return out;
}

constexpr quint32 tag(const char (&s)[5])
{
    return quint32(uchar(s[0])) << 24 | quint32(uchar(s[1])) << 16 | quint32(uchar(s[2])) << 8 |
           uchar(s[3]);
}

// A name of a face from its Windows English names: `id` 1 family, 6
// PostScript name, 16 typographic family.
QString nameOf(const Reader &r, const QVector<Table> &tables, int id)
{
    for (const Table &t : tables) {
        if (t.tag != tag("name"))
            continue;
        const int count = r.u16(t.offset + 2);
        const qint64 strings = qint64(t.offset) + r.u16(t.offset + 4);
        for (int i = 0; i < count; ++i) {
            const qint64 rec = qint64(t.offset) + 6 + qint64(i) * 12;
            if (!r.has(rec, 12) || rec + 12 > qint64(t.offset) + t.length)
                break;
            const quint16 platform = r.u16(rec), language = r.u16(rec + 4);
            const quint16 found = r.u16(rec + 6), length = r.u16(rec + 8);
            const qint64 at = strings + r.u16(rec + 10);
            if (platform != 3 || language != 0x409 || found != id || !r.has(at, length))
                continue;
            QString text;
            for (int k = 0; k + 1 < length; k += 2)
                text.append(QChar(r.u16(at + k)));
            return text;
        }
    }
    return {};
}

QString familyOf(const Reader &r, const QVector<Table> &tables)
{
    const QString typographic = nameOf(r, tables, 16);
    return typographic.isEmpty() ? nameOf(r, tables, 1) : typographic;
}

// The faces of a collection share one CFF table, named after the first
// face's region ("NotoSerifCJKjp-Regular"); a PDF shows that name. A face
// taken out gets its own region there ("…CJKsc…", from its PostScript
// name), in place: the names keep their length, nothing moves.
void nameCff(QByteArray &font, qint64 cff, quint32 length, const QString &postscript)
{
    const int region = postscript.indexOf(QLatin1String("CJK"));
    if (region < 0 || region + 5 > postscript.size())
        return;
    const QByteArray wanted = postscript.mid(region, 5).toLatin1(); // "CJKsc"
    const Reader r{font};
    if (!r.has(cff, length) || length < 4)
        return;
    const qint64 index = cff + uchar(font[int(cff + 2)]); // the name index, after the header
    const int offSize = r.has(index, 3) ? uchar(font[int(index + 2)]) : 0;
    if (r.u16(index) != 1 || offSize < 1 || offSize > 4 || !r.has(index + 3, 2 * offSize))
        return;
    auto offset = [&](int k) {
        quint32 v = 0;
        for (int b = 0; b < offSize; ++b)
            v = v << 8 | uchar(font[int(index + 3 + k * offSize + b)]);
        return v;
    };
    const qint64 data = index + 3 + 2 * offSize - 1; // offsets count from 1
    const quint32 first = offset(0), end = offset(1);
    if (end < first || data + end > cff + length)
        return;
    const QByteArray name = font.mid(int(data + first), int(end - first));
    const int at = name.indexOf("CJK");
    if (at < 0 || at + 5 > name.size())
        return;
    // The font's name, and the names of its parts that start with it
    // ("NotoSerifCJKjp-Regular-Kana" in the string index).
    QByteArray renamed = name;
    renamed.replace(at, 5, wanted);
    for (qint64 i = font.indexOf(name, int(cff)); i >= 0 && i + name.size() <= cff + length;
         i = font.indexOf(name, int(i + name.size())))
        font.replace(int(i), name.size(), renamed);
}

// Characters that share their glyph with a character written far more
// often (⻚ and 页, 〜 and ～, ‒ and –): a PDF writer that maps glyphs back to
// text by the lowest character of a glyph would give the former for every
// latter, and copied or searched text would be wrong.
bool shadowsAnother(quint32 c)
{
    return (c >= 0x2E80 && c <= 0x2FDF) || c == 0x2003 || c == 0x2012 || c == 0x2035 ||
           c == 0x2215 || c == 0x2329 || c == 0x232A || c == 0x301C;
}

// A format 12 subtable (every character to its glyph) without those
// characters; empty when `at` holds none.
QByteArray groupsWithoutShadows(const Reader &r, qint64 at, qint64 end)
{
    if (r.u16(at) != 12 || at + 16 > end)
        return {};
    const quint32 groups = r.u32(at + 12);
    if (at + 16 + qint64(groups) * 12 > end)
        return {};
    QByteArray body;
    quint32 kept = 0;
    auto group = [&](quint32 first, quint32 last, quint32 glyph) {
        put32(body, first);
        put32(body, last);
        put32(body, glyph);
        ++kept;
    };
    for (quint32 g = 0; g < groups; ++g) {
        const qint64 rec = at + 16 + qint64(g) * 12;
        const quint32 first = r.u32(rec), last = r.u32(rec + 4), glyph = r.u32(rec + 8);
        if (last < first)
            return {};
        quint32 from = first;
        for (quint32 c = first; c <= last && c < 0x30000; ++c) {
            if (!shadowsAnother(c))
                continue;
            if (c > from)
                group(from, c - 1, glyph + (from - first));
            from = c + 1;
        }
        if (from <= last)
            group(from, last, glyph + (from - first));
    }
    QByteArray out;
    put16(out, 12);
    put16(out, 0);
    put32(out, quint32(16 + body.size()));
    put32(out, r.u32(at + 8)); // language
    put32(out, kept);
    return out + body;
}

// The cmap with its format 12 subtable rebuilt without the shadowing
// characters (a reader takes that one before the 16-bit one); the other
// subtables as they were.
QByteArray cmapWithoutShadows(const QByteArray &table)
{
    const Reader r{table};
    const int n = r.u16(2);
    if (!r.has(0, 4 + qint64(n) * 8))
        return table;
    QMap<quint32, QByteArray> subtables; // by old offset, shared ones once
    for (int i = 0; i < n; ++i) {
        const quint32 offset = r.u32(4 + qint64(i) * 8 + 4);
        if (subtables.contains(offset) || !r.has(offset, 8))
            continue;
        const quint16 format = r.u16(offset);
        qint64 length = format >= 8 && format != 14 ? r.u32(offset + 4)
                        : format == 14              ? r.u32(offset + 2)
                                                    : r.u16(offset + 2);
        if (!r.has(offset, length))
            return table;
        const QByteArray rebuilt = groupsWithoutShadows(r, offset, offset + length);
        subtables.insert(offset, rebuilt.isEmpty() ? table.mid(int(offset), int(length)) : rebuilt);
    }
    QByteArray out;
    put16(out, r.u16(0));
    put16(out, quint16(n));
    QMap<quint32, quint32> moved;
    quint32 at = quint32(4 + n * 8);
    for (auto it = subtables.cbegin(); it != subtables.cend(); ++it) {
        moved.insert(it.key(), at);
        at += quint32(it.value().size());
    }
    for (int i = 0; i < n; ++i) {
        const qint64 rec = 4 + qint64(i) * 8;
        put16(out, r.u16(rec));
        put16(out, r.u16(rec + 2));
        put32(out, moved.value(r.u32(rec + 4)));
    }
    for (const QByteArray &sub : subtables)
        out += sub;
    return out;
}

// A family name of the face's name table ("Noto" at its start) given the
// same length's `prefix`, in place: the PostScript name stays.
void renameFamily(QByteArray &table, const QByteArray &prefix)
{
    const Reader r{table};
    const int count = r.u16(2);
    const qint64 strings = r.u16(4);
    for (int i = 0; i < count; ++i) {
        const qint64 rec = 6 + qint64(i) * 12;
        if (!r.has(rec, 12))
            return;
        const quint16 platform = r.u16(rec), id = r.u16(rec + 6), length = r.u16(rec + 8);
        const qint64 at = strings + r.u16(rec + 10);
        if ((id != 1 && id != 4 && id != 16) || !r.has(at, length))
            continue;
        QByteArray wide;
        for (char ch : prefix)
            wide.append('\0').append(ch);
        const QByteArray &to = platform == 3 || platform == 0 ? wide : prefix;
        const QByteArray from =
            platform == 3 || platform == 0 ? QByteArray("\0N\0o\0t\0o", 8) : QByteArray("Noto");
        if (to.size() == from.size() && length >= from.size() &&
            table.mid(int(at), from.size()) == from)
            table.replace(int(at), to.size(), to);
    }
}

// A font file of one face: `directory` (its first 12 bytes: version, the
// number of tables, the search fields), then a record per table, then the
// tables, each on four bytes. Checksums are the tables' own (the head's is
// kept as it was: its adjustment counts the whole file).
QByteArray packFace(const QByteArray &directory, const QVector<Table> &tables,
                    const QVector<QByteArray> &data)
{
    const int n = tables.size();
    QByteArray out = directory.left(12);
    quint32 offset = quint32(12 + 16 * n);
    for (int i = 0; i < n; ++i) {
        quint32 sum = 0;
        const QByteArray &b = data[i];
        for (int k = 0; k < b.size(); k += 4) {
            quint32 word = 0;
            for (int j = 0; j < 4; ++j)
                word = word << 8 | (k + j < b.size() ? uchar(b[k + j]) : 0u);
            sum += word;
        }
        put32(out, tables[i].tag);
        put32(out, tables[i].tag == tag("head") ? tables[i].checksum : sum);
        put32(out, offset);
        put32(out, quint32(b.size()));
        offset += (quint32(b.size()) + 3) & ~3u;
    }
    for (const QByteArray &b : data) {
        out += b;
        while (out.size() % 4)
            out.append('\0');
    }
    return out;
}

QVector<qint64> faceOffsets(const Reader &r)
{
    QVector<qint64> out;
    if (r.u32(0) != tag("ttcf"))
        return out;
    const quint32 n = r.u32(8);
    if (n > 256 || !r.has(12, qint64(n) * 4))
        return out;
    for (quint32 i = 0; i < n; ++i)
        out << r.u32(12 + qint64(i) * 4);
    return out;
}

} // namespace

QStringList collectionFamilies(const QByteArray &collection)
{
    const Reader r{collection};
    QStringList out;
    for (const qint64 at : faceOffsets(r))
        out << familyOf(r, tablesAt(r, at));
    return out;
}

base::Result<QByteArray> faceOfCollection(const QByteArray &collection, const QString &family)
{
    const Reader r{collection};
    const QVector<qint64> faces = faceOffsets(r);
    if (faces.isEmpty())
        return base::failure(QStringLiteral("不是字体集合（.ttc）"));
    for (const qint64 at : faces) {
        const QVector<Table> tables = tablesAt(r, at);
        if (tables.isEmpty() || familyOf(r, tables) != family)
            continue;
        // The face's tables, its CFF named after the face itself.
        const QString postscript = nameOf(r, tables, 6);
        QVector<QByteArray> data;
        for (const Table &t : tables) {
            QByteArray bytes = collection.mid(int(t.offset), int(t.length));
            if (t.tag == tag("CFF "))
                nameCff(bytes, 0, t.length, postscript);
            data << bytes;
        }
        return packFace(collection.mid(int(at), 12), tables, data);
    }
    return base::failure(QStringLiteral("字体集合中没有“%1”").arg(family));
}

namespace {

const char kFontsVersion[] = "4"; // of the folder's layout and the file below

QString configText(const QString &dir)
{
    // Each name a document uses, the face it is drawn with.
    const QList<QPair<QStringList, QStringList>> aliases{
        {{QStringLiteral("宋体"), QStringLiteral("SimSun")}, {QStringLiteral("Noto Serif CJK SC")}},
        {{QStringLiteral("黑体"), QStringLiteral("SimHei")}, {QStringLiteral("Noto Sans CJK SC")}},
        {{QStringLiteral("新宋体"), QStringLiteral("NSimSun")},
         {QStringLiteral("Noto Sans Mono CJK SC")}},
        {{QStringLiteral("Times New Roman")},
         {QStringLiteral("Liberation Serif"), QStringLiteral("Noto Serif CJK SC")}},
        {{QStringLiteral("Arial")},
         {QStringLiteral("Liberation Sans"), QStringLiteral("Noto Sans CJK SC")}},
    };
    QString xml = QStringLiteral(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
        "<fontconfig>\n"
        "  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n");
    xml += QStringLiteral("  <dir>%1</dir>\n  <cachedir>%1/cache</cachedir>\n").arg(dir);
    xml += QStringLiteral("  <selectfont><rejectfont><glob>*/Noto*CJK*.ttc</glob></rejectfont>"
                          "</selectfont>\n");
    for (const auto &a : aliases)
        for (const QString &name : a.first) {
            xml +=
                QStringLiteral("  <alias binding=\"same\"><family>%1</family><prefer>").arg(name);
            for (const QString &face : a.second)
                xml += QStringLiteral("<family>%1</family>").arg(face);
            xml += QStringLiteral("</prefer></alias>\n");
        }
    xml += QStringLiteral("</fontconfig>\n");
    return xml;
}

} // namespace

QString conversionFontConfig(QString *why)
{
    static QMutex lock;
    const QMutexLocker held(&lock);
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        QStringLiteral("/orven/fonts-") + QLatin1String(kFontsVersion);
    const QString config = dir + QStringLiteral("/fonts.conf");
    if (QFile::exists(config))
        return config;
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return QString();
    };
    QStringList collections;
    for (const QString &root :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("fonts"),
                                   QStandardPaths::LocateDirectory)) {
        QDirIterator it(root, {QStringLiteral("Noto*CJK*.ttc")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            collections << it.next();
    }
    if (collections.isEmpty())
        return fail(QStringLiteral("没有找到 Noto CJK 字体（fonts-noto-cjk）"));
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("不能建立字体目录 %1").arg(dir));
    const QStringList wanted{QStringLiteral("Noto Serif CJK SC"),
                             QStringLiteral("Noto Sans CJK SC"),
                             QStringLiteral("Noto Sans Mono CJK SC")};
    int written = 0;
    for (const QString &path : collections) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = file.readAll();
        const QStringList families = collectionFamilies(data);
        for (const QString &family : wanted) {
            if (!families.contains(family))
                continue;
            const base::Result<QByteArray> face = faceOfCollection(data, family);
            if (!face)
                continue;
            QString name = QFileInfo(path).completeBaseName() + QLatin1Char('-') + family;
            name.remove(QLatin1Char(' '));
            QSaveFile out(dir + QLatin1Char('/') + name + QStringLiteral(".otf"));
            if (!out.open(QIODevice::WriteOnly) || out.write(face.value) != face.value.size() ||
                !out.commit())
                return fail(QStringLiteral("不能写入字体 %1").arg(out.fileName()));
            ++written;
        }
    }
    if (written == 0)
        return fail(QStringLiteral("Noto CJK 字体中没有简体中文字形"));
    QSaveFile out(config);
    const QByteArray text = configText(dir).toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        return fail(QStringLiteral("不能写入 %1").arg(config));
    return config;
}

base::Result<QByteArray> drawingFace(const QByteArray &face, const QByteArray &prefix)
{
    const Reader r{face};
    const QVector<Table> tables = tablesAt(r, 0);
    if (tables.isEmpty() || r.u32(0) == tag("ttcf"))
        return base::failure(QStringLiteral("不是字体文件"));
    QVector<QByteArray> data;
    for (const Table &t : tables) {
        QByteArray bytes = face.mid(int(t.offset), int(t.length));
        if (t.tag == tag("cmap"))
            bytes = cmapWithoutShadows(bytes);
        else if (t.tag == tag("name"))
            renameFamily(bytes, prefix);
        data << bytes;
    }
    return packFace(face, tables, data);
}

QString simplifiedChineseFace(FontFace face, bool bold, QString *why)
{
    const QString config = conversionFontConfig(why);
    if (config.isEmpty())
        return QString();
    const QString family = face == FontFace::Serif  ? QStringLiteral("NotoSerifCJKSC")
                           : face == FontFace::Sans ? QStringLiteral("NotoSansCJKSC")
                                                    : QStringLiteral("NotoSansMonoCJKSC");
    const QString weight = bold ? QStringLiteral("-Bold-") : QStringLiteral("-Regular-");
    const QDir dir = QFileInfo(config).dir();
    for (const QString &name : dir.entryList({QStringLiteral("*.otf")}, QDir::Files, QDir::Name))
        if (name.endsWith(weight + family + QStringLiteral(".otf")))
            return dir.filePath(name);
    if (why)
        *why = QStringLiteral("没有找到字体 %1%2").arg(family, weight.chopped(1));
    return QString();
}

QString drawingFaceFile(FontFace face, bool bold, QString *why)
{
    const QString source = simplifiedChineseFace(face, bold, why);
    if (source.isEmpty())
        return QString();
    // Beside the conversion's folder, not in it: LibreOffice never sees them.
    static QMutex lock;
    const QMutexLocker held(&lock);
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        QStringLiteral("/orven/drawing-") + QLatin1String(kFontsVersion);
    const QString path = dir + QLatin1Char('/') + QFileInfo(source).fileName();
    if (QFileInfo(path).isFile())
        return path;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        if (why)
            *why = QStringLiteral("不能读取字体 %1").arg(source);
        return QString();
    }
    const base::Result<QByteArray> drawn = drawingFace(in.readAll(), "Orvn");
    if (!drawn) {
        if (why)
            *why = drawn.error;
        return QString();
    }
    QSaveFile out(path);
    if (!QDir().mkpath(dir) || !out.open(QIODevice::WriteOnly) ||
        out.write(drawn.value) != drawn.value.size() || !out.commit()) {
        if (why)
            *why = QStringLiteral("不能写入字体 %1").arg(path);
        return QString();
    }
    return path;
}

} // namespace office
