#include "firmwarecheck.h"

#include <QtCore/QCryptographicHash>

void FirmwareCheck::add(const QString &idText, const QString &direction, const QString &dataText)
{
    if (direction != QLatin1String("Rx"))
        return;
    // "01 A2 FF" -> 01 A2 FF
    const QByteArray bytes = QByteArray::fromHex(dataText.toLatin1());
    switch (idText.trimmed().toUInt(nullptr, 16)) {
    case 0x110:
        started = true;
        finished = false;
        frames = 0;
        data.clear();
        sha.clear();
        break;
    case 0x111:
        data += bytes;
        ++frames;
        break;
    case 0x113:
        sha += bytes;
        break;
    case 0x114:
        finished = true;
        break;
    default:
        break;
    }
}

bool FirmwareCheck::digestMatches() const
{
    return complete() && sha.size() == 20 &&
           QCryptographicHash::hash(data, QCryptographicHash::Sha1) == sha;
}
