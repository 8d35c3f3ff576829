#include "firmwarecheck.h"

void FirmwareCheck::add(const QString &idText, const QString &direction, const QString &dataText)
{
    if (direction != QLatin1String("Rx"))
        return;
    // "01 A2 FF" -> 01 A2 FF
    const QByteArray data = QByteArray::fromHex(dataText.toLatin1());
    switch (idText.trimmed().toUInt(nullptr, 16)) {
    case 0x110:
        started = true;
        finished = false;
        frames = 0;
        bytes = 0;
        hash.reset();
        sha.clear();
        break;
    case 0x111:
        hash.addData(data);
        bytes += data.size();
        ++frames;
        break;
    case 0x113:
        sha += data;
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
    return complete() && sha.size() == 20 && hash.result() == sha;
}
