#include "office/conversionfonts.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
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
        // The face's own directory, then its tables, each on four bytes.
        const int n = tables.size();
        QByteArray out;
        out.append(collection.constData() + at, 4); // the face's version
        put16(out, quint16(n));
        put16(out, r.u16(at + 6));
        put16(out, r.u16(at + 8));
        put16(out, r.u16(at + 10));
        quint32 offset = quint32(12 + 16 * n);
        for (const Table &t : tables) {
            put32(out, t.tag);
            put32(out, t.checksum);
            put32(out, offset);
            put32(out, t.length);
            offset += (t.length + 3) & ~3u;
        }
        const QString postscript = nameOf(r, tables, 6);
        for (const Table &t : tables) {
            const qint64 start = out.size();
            out.append(collection.constData() + t.offset, int(t.length));
            if (t.tag == tag("CFF "))
                nameCff(out, start, t.length, postscript);
            while (out.size() % 4)
                out.append('\0');
        }
        return out;
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
            xml += QStringLiteral("  <alias binding=\"same\"><family>%1</family><prefer>").arg(name);
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
    for (const QString &root : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                         QStringLiteral("fonts"),
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
    const QStringList wanted{QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
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

} // namespace office
