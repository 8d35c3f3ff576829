#include "busmapping_p.h"
#include "simboard_p.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QStringList>

#include <cstdlib>
#include <unistd.h>

namespace {

using simboard::channelCount;

// A mapping is a few lines; a larger file is not one.
constexpr qint64 MaxIniBytes = 1 << 20;

QString executableFolder()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return QString();
    const QString path = QString::fromLocal8Bit(exe, int(n));
    return path.left(path.lastIndexOf('/') + 1);
}

} // namespace

BusMapping BusMapping::parse(const QString &text)
{
    static const QRegularExpression entryForm(
        QStringLiteral("^\\s*(\\d+)\\s*:\\s*(\\d+)\\s*:\\s*(\\d+)\\s*=(.*)$"));
    BusMapping mapping;
    for (const QString &entry : text.split(QRegularExpression(QStringLiteral("[;\\r\\n]")))) {
        if (entry.trimmed().startsWith('#'))
            continue;
        const QRegularExpressionMatch m = entryForm.match(entry);
        if (!m.hasMatch())
            continue;
        bool ok1, ok2, ok3;
        const uint32_t type = m.captured(1).toUInt(&ok1);
        const uint32_t index = m.captured(2).toUInt(&ok2);
        const uint32_t channel = m.captured(3).toUInt(&ok3);
        if (!ok1 || !ok2 || !ok3 || channel >= channelCount(type))
            continue;
        const QString target = m.captured(4).trimmed();
        const int colon = target.indexOf(':');
        BusTarget t;
        if (colon > 0) {
            t.plugin = target.left(colon).trimmed();
            t.interface = target.mid(colon + 1).trimmed();
        }
        mapping.entries[Key(type, index, channel)] = t;
    }
    return mapping;
}

BusMapping BusMapping::load(const char *envValue, const QString &iniPath)
{
    if (envValue)
        return parse(QString::fromLocal8Bit(envValue));
    // Only a regular file of sane size: a FIFO would block the open, a device never end.
    if (iniPath.isEmpty() || !QFileInfo(iniPath).isFile())
        return BusMapping();
    QFile file(iniPath);
    if (file.size() > MaxIniBytes || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return BusMapping();
    const QByteArray text = file.read(MaxIniBytes + 1);
    if (text.size() > MaxIniBytes) // it grew since
        return BusMapping();
    return parse(QString::fromUtf8(text));
}

BusMapping BusMapping::current()
{
    const QString folder = executableFolder();
    return load(std::getenv("KAVRI_CANBUS"),
                folder.isEmpty() ? QString() : folder + QStringLiteral("ControlCAN.ini"));
}

std::map<uint32_t, BusTarget> BusMapping::device(uint32_t type, uint32_t index) const
{
    std::map<uint32_t, BusTarget> channels;
    for (auto it = entries.lower_bound(Key(type, index, 0));
         it != entries.end() && std::get<0>(it->first) == type && std::get<1>(it->first) == index;
         ++it)
        channels[std::get<2>(it->first)] = it->second;
    return channels;
}
