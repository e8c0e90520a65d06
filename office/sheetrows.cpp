#include "office/sheetrows.h"

#include <QFile>
#include <cmath>
#include <cstring>
#include <ctime>
#include <zip.h>

namespace office {

QByteArray columnName(int column)
{
    QByteArray name;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        name.prepend(char('A' + (c - 1) % 26));
    return name;
}

void RowText::begin(int row)
{
    m_row = QByteArray::number(row);
    m_out->append("<row r=\"").append(m_row).append("\">");
}

void RowText::ref(int column)
{
    m_out->append("<c r=\"").append(columnName(column)).append(m_row).append('"');
}

void RowText::number(int column, qint64 value)
{
    ref(column);
    m_out->append("><v>").append(QByteArray::number(value)).append("</v></c>");
}

// A plain decimal: a sign, digits, and a point with more digits; what XML
// Schema calls a double and Excel reads as exactly as the text says.
static bool plainDecimal(const char *p, const char *end)
{
    if (end - p > 24)
        return false;
    if (p < end && *p == '-')
        ++p;
    const char *digits = p;
    while (p < end && *p >= '0' && *p <= '9')
        ++p;
    if (p == digits)
        return false;
    if (p < end && *p == '.') {
        const char *decimals = ++p;
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
        if (p == decimals)
            return false;
    }
    return p == end;
}

static void appendEscaped(QByteArray *out, const char *p, const char *end)
{
    for (; p < end; ++p) {
        switch (*p) {
        case '&':
            out->append("&amp;");
            break;
        case '<':
            out->append("&lt;");
            break;
        case '>':
            out->append("&gt;");
            break;
        default:
            // Control characters are not allowed in XML 1.0, apart from these.
            if (uchar(*p) >= 0x20 || *p == '\t' || *p == '\n' || *p == '\r')
                out->append(*p);
        }
    }
}

void RowText::value(int column, const char *begin, const char *end, int style)
{
    if (begin == end)
        return;
    if (plainDecimal(begin, end)) {
        ref(column);
        m_out->append(" s=\"").append(QByteArray::number(style)).append("\"><v>");
        m_out->append(begin, int(end - begin)).append("</v></c>");
        return;
    }
    // Blanks or a plus sign around a number: the number. Anything else as text.
    bool ok = false;
    const double v = QByteArray(begin, int(end - begin)).trimmed().toDouble(&ok);
    if (ok && std::isfinite(v)) {
        ref(column);
        m_out->append(" s=\"").append(QByteArray::number(style)).append("\"><v>");
        m_out->append(QByteArray::number(v, 'g', 17)).append("</v></c>");
        return;
    }
    text(column, QByteArray(begin, int(end - begin)));
}

void RowText::text(int column, const QByteArray &utf8)
{
    ref(column);
    m_out->append(" t=\"inlineStr\"><is><t xml:space=\"preserve\">");
    appendEscaped(m_out, utf8.constData(), utf8.constData() + utf8.size());
    m_out->append("</t></is></c>");
}

void RowText::end()
{
    m_out->append("</row>");
}

namespace {

// The sheet's part as libzip reads it: the part before the end of the
// sheet data, the rows as they are made, then the rest.
struct SheetStream
{
    QByteArray head, tail;
    const RowSource *rows = nullptr;
    const base::Progress *progress = nullptr;
    QByteArray pending;
    int stage = 0; // 0 head, 1 rows, 2 tail, 3 done
    qint64 offset = 0;
    bool cancelled = false;
    zip_error_t error;

    bool refill()
    {
        pending.clear();
        offset = 0;
        while (pending.isEmpty() && stage < 3) {
            if (stage == 0) {
                pending = head;
                stage = 1;
            } else if (stage == 1) {
                if (progress->cancelled()) {
                    cancelled = true;
                    zip_error_set(&error, ZIP_ER_CANCELLED, 0);
                    return false;
                }
                if (!(*rows)(&pending))
                    stage = 2;
            } else {
                pending = tail;
                stage = 3;
            }
        }
        return true;
    }

    zip_int64_t read(char *out, zip_uint64_t len)
    {
        zip_uint64_t done = 0;
        while (done < len) {
            if (offset >= pending.size()) {
                if (stage == 3)
                    break;
                if (!refill())
                    return -1;
                continue;
            }
            const zip_uint64_t n = qMin<zip_uint64_t>(len - done, zip_uint64_t(pending.size() - offset));
            std::memcpy(out + done, pending.constData() + offset, n);
            offset += qint64(n);
            done += n;
        }
        return zip_int64_t(done);
    }
};

zip_int64_t sheetCallback(void *user, void *data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto *s = static_cast<SheetStream *>(user);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        s->stage = 0;
        s->pending.clear();
        s->offset = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return s->read(static_cast<char *>(data), len);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *st = static_cast<zip_stat_t *>(data);
        zip_stat_init(st);
        st->mtime = std::time(nullptr);
        st->valid |= ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

base::Status streamSheetRows(const QString &xlsx, const QByteArray &part, int lastRow,
                             int lastColumn, const RowSource &rows,
                             const base::Progress &progress)
{
    using base::Status;
    int code = 0;
    zip_t *z = zip_open(QFile::encodeName(xlsx).constData(), 0, &code);
    if (!z)
        return Status::failure(QStringLiteral("不能打开工作簿（错误 %1）").arg(code));
    auto fail = [&](const QString &why) {
        zip_discard(z);
        return Status::failure(why);
    };
    const zip_int64_t index = zip_name_locate(z, part.constData(), 0);
    if (index < 0)
        return fail(QStringLiteral("工作簿中没有 %1").arg(QString::fromUtf8(part)));
    zip_stat_t st;
    zip_file_t *f = zip_stat_index(z, zip_uint64_t(index), 0, &st) == 0
                        ? zip_fopen_index(z, zip_uint64_t(index), 0)
                        : nullptr;
    if (!f)
        return fail(QString::fromLocal8Bit(zip_strerror(z)));
    QByteArray xml(int(st.size), Qt::Uninitialized);
    const zip_int64_t got = zip_fread(f, xml.data(), st.size);
    zip_fclose(f);
    if (got != zip_int64_t(st.size))
        return fail(QStringLiteral("不能读取 %1").arg(QString::fromUtf8(part)));

    // The dimension covers the rows to come; the rows go before the end of
    // the sheet data (an empty sheet data element is opened first).
    const int dim = xml.indexOf("<dimension ref=\"");
    if (dim >= 0) {
        const int from = dim + int(strlen("<dimension ref=\""));
        const int to = xml.indexOf('"', from);
        if (to > from)
            xml.replace(from, to - from,
                        "A1:" + columnName(lastColumn) + QByteArray::number(qMax(1, lastRow)));
    }
    xml.replace("<sheetData/>", "<sheetData></sheetData>");
    const int close = xml.indexOf("</sheetData>");
    if (close < 0)
        return fail(QStringLiteral("工作表 %1 的格式不对").arg(QString::fromUtf8(part)));

    SheetStream stream;
    zip_error_init(&stream.error);
    stream.head = xml.left(close);
    stream.tail = xml.mid(close);
    stream.rows = &rows;
    stream.progress = &progress;
    zip_source_t *src = zip_source_function(z, sheetCallback, &stream);
    // Deleted and added again rather than replaced: a replaced entry keeps
    // the library's slowest compression whatever is asked for.
    zip_int64_t added = -1;
    if (src && zip_delete(z, zip_uint64_t(index)) == 0)
        added = zip_file_add(z, part.constData(), src, ZIP_FL_ENC_UTF_8);
    if (added < 0) {
        if (src)
            zip_source_free(src);
        zip_error_fini(&stream.error);
        return fail(QString::fromLocal8Bit(zip_strerror(z)));
    }
    // Fast compression: the rows are many and alike.
    if (zip_set_file_compression(z, zip_uint64_t(added), ZIP_CM_DEFLATE, 1) != 0) {
        zip_error_fini(&stream.error);
        return fail(QString::fromLocal8Bit(zip_strerror(z)));
    }
    if (zip_close(z) != 0) {
        const QString why = stream.cancelled ? QStringLiteral("已取消")
                                             : QString::fromLocal8Bit(zip_strerror(z));
        zip_discard(z);
        zip_error_fini(&stream.error);
        return Status::failure(why);
    }
    zip_error_fini(&stream.error);
    return Status();
}

} // namespace office
