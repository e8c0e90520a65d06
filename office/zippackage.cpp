#include "office/zippackage.h"

#include <QFile>
#include <zip.h>

namespace office {

static QString zipError(zip_t *z)
{
    return QString::fromLocal8Bit(zip_strerror(z));
}

static QString openError(int code)
{
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    const QString text = QString::fromLocal8Bit(zip_error_strerror(&e));
    zip_error_fini(&e);
    return text;
}

// Every entry of an open package (`what` names it in a failure); closes it.
static base::Result<QList<ZipEntry>> readEntries(zip_t *z, const QString &what)
{
    using R = base::Result<QList<ZipEntry>>;
    QList<ZipEntry> entries;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, zip_uint64_t(i), 0, &st) != 0) {
            const QString why = zipError(z);
            zip_discard(z);
            return R::failure(why);
        }
        ZipEntry e;
        e.name = QString::fromUtf8(st.name);
        zip_file_t *f = zip_fopen_index(z, zip_uint64_t(i), 0);
        if (!f) {
            const QString why = zipError(z);
            zip_discard(z);
            return R::failure(why);
        }
        e.data.resize(int(st.size));
        const zip_int64_t got = st.size ? zip_fread(f, e.data.data(), st.size) : 0;
        zip_fclose(f);
        if (got != zip_int64_t(st.size)) {
            zip_discard(z);
            return R::failure(QStringLiteral("%1：%2 读取不完整").arg(what, e.name));
        }
        entries << e;
    }
    zip_discard(z);
    return entries;
}

base::Result<QList<ZipEntry>> readZip(const QString &path)
{
    using R = base::Result<QList<ZipEntry>>;
    if (!QFile::exists(path))
        return R::failure(QStringLiteral("文件不存在：%1").arg(path));
    int code = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!z)
        return R::failure(QStringLiteral("%1 不是有效的文档包：%2").arg(path, openError(code)));
    return readEntries(z, path);
}

base::Result<QList<ZipEntry>> readZipBytes(const QByteArray &bytes)
{
    using R = base::Result<QList<ZipEntry>>;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source =
        zip_source_buffer_create(bytes.constData(), zip_uint64_t(bytes.size()), 0, &error);
    zip_t *z = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!z) {
        const QString why = QString::fromLocal8Bit(zip_error_strerror(&error));
        zip_error_fini(&error);
        if (source)
            zip_source_free(source);
        return R::failure(QStringLiteral("不是有效的文档包：%1").arg(why));
    }
    zip_error_fini(&error);
    return readEntries(z, QStringLiteral("文档包"));
}

base::Status writeZip(const QString &path, const QList<ZipEntry> &entries)
{
    int code = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!z)
        return base::Status::failure(QStringLiteral("不能写入 %1：%2").arg(path, openError(code)));
    for (const ZipEntry &e : entries) {
        // The data must live until zip_close: libzip reads it then.
        zip_source_t *src =
            zip_source_buffer(z, e.data.constData(), zip_uint64_t(e.data.size()), 0);
        if (!src || zip_file_add(z, e.name.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8) < 0) {
            if (src)
                zip_source_free(src);
            const QString why = zipError(z);
            zip_discard(z);
            return base::Status::failure(QStringLiteral("不能写入 %1：%2").arg(path, why));
        }
    }
    if (zip_close(z) != 0) {
        const QString why = zipError(z);
        zip_discard(z);
        return base::Status::failure(QStringLiteral("不能写入 %1：%2").arg(path, why));
    }
    return {};
}

base::Result<bool>
fillEntry(QList<ZipEntry> &entries, const QString &name,
          const std::function<base::Result<QByteArray>(const QByteArray &)> &fill)
{
    for (ZipEntry &e : entries) {
        if (e.name != name)
            continue;
        const base::Result<QByteArray> data = fill(e.data);
        if (!data)
            return base::failure(data.error);
        e.data = data.value;
        return true;
    }
    return false;
}

} // namespace office
