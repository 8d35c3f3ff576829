#include "kvformatregistry.h"

#include "kvblf_p.h"
#include "kvtextformats_p.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>

namespace {

const int HeadBytes = 16 * 1024;

bool anyBytes(const QByteArray &head)
{
    return !head.isEmpty();
}

template <typename T> KvFrameReader *make()
{
    return new T;
}

template <typename T> KvFrameWriter *makeWriter()
{
    return new T;
}

QVector<KvFormat> buildFormats()
{
    using namespace kavri;
    // Order: the most specific content checks first; detection takes the first match unless the
    // suffix names another that matches too.
    return {
        {QStringLiteral("blf"),
         {QStringLiteral("blf")},
         QStringLiteral("binary logging format (zlib containers)"),
         1,
         true,
         true,
         true,
         true,
         -1,
         looksLikeBlf,
         make<BlfFrameReader>,
         makeWriter<BlfFrameWriter>},
        {QStringLiteral("candump"),
         {QStringLiteral("log"), QStringLiteral("candump")},
         QStringLiteral("candump log"),
         1000,
         true,
         true,
         true,
         true,
         -1,
         looksLikeCandump,
         make<CandumpFrameReader>,
         makeWriter<CandumpFrameWriter>},
        {QStringLiteral("csv"),
         {QStringLiteral("csv")},
         QStringLiteral("CSV recording"),
         1000,
         true,
         true,
         true,
         false,
         1,
         looksLikeCsv,
         make<CsvFrameReader>,
         makeWriter<CsvFrameWriter>},
        {QStringLiteral("asc"),
         {QStringLiteral("asc")},
         QStringLiteral("ASC recording"),
         1000,
         true,
         true,
         true,
         true,
         2,
         looksLikeOwnAsc,
         [] { return (KvFrameReader *)new AscFrameReader(true); },
         [] { return (KvFrameWriter *)new AscFrameWriter(true); }},
        {QStringLiteral("asclog"),
         {QStringLiteral("asc")},
         QStringLiteral("ASC as other tools write it"),
         1000,
         true,
         true,
         true,
         true,
         -1,
         looksLikeAscLog,
         [] { return (KvFrameReader *)new AscFrameReader(false); },
         [] { return (KvFrameWriter *)new AscFrameWriter(false); }},
        {QStringLiteral("bin"),
         {QStringLiteral("bin")},
         QStringLiteral("payload bytes"),
         0,
         false,
         false,
         false,
         false,
         0,
         anyBytes,
         make<BinFrameReader>,
         nullptr},
    };
}

// The first bytes of a file, cut after the last line end when the file goes on.
QByteArray headOf(QFile &file)
{
    QByteArray head = file.read(HeadBytes);
    if (head.size() == HeadBytes && !file.atEnd()) {
        const int cut = qMax(head.lastIndexOf('\n'), head.lastIndexOf('\r'));
        if (cut > 0)
            head.truncate(cut + 1);
    }
    return head;
}

} // namespace

const QVector<KvFormat> &KvFormatRegistry::formats()
{
    static const QVector<KvFormat> all = buildFormats();
    return all;
}

const KvFormat *KvFormatRegistry::find(const QString &name)
{
    for (const KvFormat &f : formats()) {
        if (f.name.compare(name, Qt::CaseInsensitive) == 0)
            return &f;
    }
    return nullptr;
}

const KvFormat *KvFormatRegistry::forSuffix(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const KvFormat &f : formats()) {
        if (f.suffixes.contains(suffix))
            return &f;
    }
    return nullptr;
}

QString KvFormatRegistry::names(bool writableOnly)
{
    QStringList list;
    for (const KvFormat &f : formats()) {
        if (!writableOnly || f.newWriter)
            list << f.name;
    }
    const QString last = list.takeLast();
    return list.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

const KvFormat *KvFormatRegistry::detect(const QString &path, const QString &name, QString *error)
{
    QString ignored;
    QString &message = error ? *error : ignored;
    const KvFormat *asked = nullptr;
    if (!name.isEmpty()) {
        asked = find(name);
        if (!asked) {
            message = QStringLiteral("unknown format '%1': use %2").arg(name, names());
            return nullptr;
        }
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        message = QStringLiteral("%1: no such file").arg(path);
        return nullptr;
    }
    if (!info.isFile()) {
        message = QStringLiteral("%1: not a regular file").arg(path);
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        message = QStringLiteral("%1: %2").arg(path, file.errorString());
        return nullptr;
    }
    const QByteArray head = headOf(file);
    if (head.isEmpty()) {
        message = QStringLiteral("%1: the file is empty").arg(path);
        return nullptr;
    }
    if (asked) {
        if (asked->matches(head))
            return asked;
        message = QStringLiteral("%1: not a %2 recording (%3)")
                      .arg(path, asked->name, asked->description);
        return nullptr;
    }
    const KvFormat *bySuffix = forSuffix(path);
    const KvFormat *first = nullptr;
    const QString suffix = info.suffix().toLower();
    for (const KvFormat &f : formats()) {
        if (f.name == QLatin1String("bin") || !f.matches(head))
            continue;
        if (f.suffixes.contains(suffix))
            return &f;
        if (!first)
            first = &f;
    }
    if (first)
        return first;
    if (bySuffix && bySuffix->name == QLatin1String("bin"))
        return bySuffix;
    message = QStringLiteral("%1: not a recording of any known format (%2)").arg(path, names());
    return nullptr;
}

std::unique_ptr<KvFrameReader> KvFormatRegistry::openReader(const QString &path,
                                                            const QString &name, QString *error,
                                                            const KvFormat **format)
{
    const KvFormat *f = detect(path, name, error);
    if (format)
        *format = f;
    if (!f)
        return nullptr;
    std::unique_ptr<KvFrameReader> reader(f->newReader());
    if (!reader->open(path)) {
        if (error)
            *error = reader->errorString();
        return nullptr;
    }
    return reader;
}

std::unique_ptr<KvFrameWriter> KvFormatRegistry::newWriter(const QString &name)
{
    const KvFormat *f = find(name);
    return std::unique_ptr<KvFrameWriter>(f && f->newWriter ? f->newWriter() : nullptr);
}
