#include "bufferfeed.h"

#include "canobjstr.h"
#include "kvbuffer.h"

#include <QtCore/QStringList>

BufferFeed::BufferFeed(KvBuffer &b) : buffer(b) {}

QVector<KvCanObj> BufferFeed::take()
{
    const int count = buffer.count();
    const quint32 frames = quint32(buffer.frames());
    // The frame total is a wrapping 32-bit counter: a difference above half its range is a reset.
    const quint32 counted = frames - lastFrames;
    fresh = count < lastCount || counted > 0x80000000u || (total == 0 && lastCount == 0);
    int news = count - lastCount;
    if (fresh) {
        news = count;
        total = 0;
    } else if (count >= buffer.getMaxCount()) {
        // Full: every stored frame pushed one out, so the count no longer tells.
        news = int(std::min<quint32>(counted, quint32(count)));
    }
    lastCount = count;
    lastFrames = frames;
    QVector<KvCanObj> records;
    records.reserve(news);
    for (int row = count - news; row < count; ++row)
        records << recordOf(buffer.getFrame(row));
    total += records.size();
    return records;
}

KvCanObj BufferFeed::recordOf(const CanObjStr &texts)
{
    KvCanObj r;
    r.send = texts.direction == QLatin1String("Tx");
    const QStringList time = texts.systemTime.split(QLatin1Char(':'));
    if (time.size() == 4) {
        r.hour = time.at(0).toInt();
        r.minute = time.at(1).toInt();
        r.second = time.at(2).toInt();
        r.msec = time.at(3).toInt();
    }
    VCI_CAN_OBJ &f = r.frame;
    f.ID = texts.id.trimmed().toUInt(nullptr, 16);
    f.TimeStamp = r.send ? 0 : texts.timeStamp.toUInt(nullptr, 16); // "0x1F40": base 16 takes 0x
    f.RemoteFlag = texts.frameType == QLatin1String("Remote") ? 1 : 0;
    f.ExternFlag = texts.frameFormat == QLatin1String("Extend") ? 1 : 0;
    const QByteArray bytes = QByteArray::fromHex(texts.data.toLatin1());
    f.DataLen = quint8(std::min(texts.dataLen.toInt(), 8));
    memcpy(f.Data, bytes.constData(), size_t(std::min(int(bytes.size()), 8)));
    return r;
}
