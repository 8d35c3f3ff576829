#include "kvbuffer.h"

#include "kvglobalset.h"
#include "kvidfiltermannger.h"
#include "localclock_p.h"

#include <mutex>

#include <cstring>

namespace {

constexpr int ChannelCount = 4;
constexpr auto Relaxed = std::memory_order_relaxed;

// "01 A2 FF": the first DataLen bytes (at most eight), two upper-case digits each, one blank
// between them.
QString dataText(const VCI_CAN_OBJ &frame)
{
    static const char digits[] = "0123456789ABCDEF";
    const int n = frame.DataLen < 8 ? frame.DataLen : 8;
    char text[8 * 3];
    int length = 0;
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            text[length++] = ' ';
        text[length++] = digits[frame.Data[i] >> 4];
        text[length++] = digits[frame.Data[i] & 0x0F];
    }
    return QString::fromLatin1(text, length);
}

} // namespace

KvBuffer &KvBuffer::instance(int channel)
{
    // The four channels' buffers, and a spare one for channels outside 0..3.
    static KvBuffer buffers[ChannelCount + 1];
    return buffers[(channel >= 0 && channel < ChannelCount) ? channel : ChannelCount];
}

KvBuffer::KvBuffer() = default;

KvBuffer::~KvBuffer() = default;

void KvBuffer::setChannel(int channel)
{
    this->channel.store(channel, Relaxed);
}

bool KvBuffer::init(int maxCount)
{
    const std::lock_guard<std::mutex> locker(frameLock);
    this->maxCount.store(maxCount, Relaxed);
    return true;
}

void KvBuffer::setMaxCount(int n)
{
    if (n == maxCount.load(Relaxed))
        return;
    {
        const std::lock_guard<std::mutex> locker(frameLock);
        maxCount.store(n, Relaxed);
    }
    reset();
}

int KvBuffer::getMaxCount() const
{
    return maxCount.load(Relaxed);
}

void KvBuffer::setRefreshCycle(int cycle)
{
    refreshCycle.store(cycle, Relaxed);
}

int KvBuffer::getRefreshCycle() const
{
    return refreshCycle.load(Relaxed);
}

void KvBuffer::setLooking(bool looking)
{
    this->looking.store(looking, Relaxed);
}

bool KvBuffer::getLooking() const
{
    return looking.load(Relaxed);
}

void KvBuffer::setHideSendFrame(bool hide)
{
    hideSendFrame.store(hide, Relaxed);
}

bool KvBuffer::getHideSendFrame() const
{
    return hideSendFrame.load(Relaxed);
}

int KvBuffer::addFrame(VCI_CAN_OBJ *frames, int count, bool send)
{
    if (count < 1 || !frames)
        return 0;

    KvGlobalSet &settings = KvGlobalSet::instance();
    int stored = 0;
    for (int i = 0; i < count; ++i) {
        const VCI_CAN_OBJ &frame = frames[i];
        frameTotal.fetch_add(1, Relaxed);
        bitTotal.fetch_add(getFramesBytes(&frames[i]), Relaxed);

        const int ch = channel.load(Relaxed);
        if (!storesFrame(frame, send, ch))
            continue;
        ++stored;

        const kavri::detail::TimeOfDay now = kavri::detail::localTimeOfDay();
        KvCanObj record;
        record.send = send;
        record.hour = now.hour;
        record.minute = now.minute;
        record.second = now.second;
        record.msec = now.msec;
        record.frame = frame;

        appendFrame(record);
        if (settings.isWatch())
            addWatchFrame(record);
        if (KvGlobalSet::isChannel(ch) && settings.channelSets[ch].rtSave.load(Relaxed))
            addRtSaveFrame(record);
    }
    return stored;
}

// The hide-sent rule for transmitted frames, the channel's ID filter for received ones.
bool KvBuffer::storesFrame(const VCI_CAN_OBJ &frame, bool send, int channel)
{
    if (send)
        return !hideSendFrame.load(Relaxed);
    return KvIdFilterMannger::instance(channel).isValid(frame.ID);
}

void KvBuffer::appendFrame(const KvCanObj &record)
{
    const std::lock_guard<std::mutex> locker(frameLock);
    frameList.push_back(record);
    if (frameList.size() > static_cast<size_t>(qMax(0, maxCount.load(Relaxed))))
        frameList.pop_front();
    frameCount.store(static_cast<int>(frameList.size()), Relaxed);
}

CanObjStr KvBuffer::getFrame(int index)
{
    CanObjStr text;
    const std::lock_guard<std::mutex> locker(frameLock);
    if (index >= 0 && static_cast<size_t>(index) < frameList.size()) {
        text = analyseData(frameList[static_cast<size_t>(index)]);
        text.index = QString::number(index);
    }
    return text;
}

CanObjStr KvBuffer::analyseData(const KvCanObj &record)
{
    const VCI_CAN_OBJ &frame = record.frame;
    CanObjStr text;
    text.id = QString::asprintf("%08X ", frame.ID);
    text.timeStamp =
        record.send ? QStringLiteral("NULL") : QString::asprintf("0x%X", frame.TimeStamp);
    text.systemTime = QString::asprintf("%02d:%02d:%02d:%03d", record.hour, record.minute,
                                        record.second, record.msec);
    text.frameType = frame.RemoteFlag == 1 ? QStringLiteral("Remote") : QStringLiteral("Data");
    text.frameFormat =
        frame.ExternFlag == 1 ? QStringLiteral("Extend") : QStringLiteral("Standard");
    text.dataLen = QString::number(frame.DataLen);
    text.data = dataText(frame);
    text.direction = record.send ? QStringLiteral("Tx") : QStringLiteral("Rx");
    return text;
}

bool KvBuffer::isSendFrame(VCI_CAN_OBJ *frame)
{
    return frame && frame->TimeStamp == 0;
}

int KvBuffer::getFramesBytes(VCI_CAN_OBJ *frame)
{
    const int header = frame->ExternFlag == 1 ? 64 : 44;
    return frame->RemoteFlag != 0 ? header : header + 8 * frame->DataLen;
}

void KvBuffer::addSize(int n)
{
    bitTotal.fetch_add(n, Relaxed);
}

int KvBuffer::size() const
{
    return bitTotal.load(Relaxed);
}

int KvBuffer::count() const
{
    return frameCount.load(Relaxed);
}

int KvBuffer::frames() const
{
    return frameTotal.load(Relaxed);
}

void KvBuffer::reset()
{
    emptyLists();
    frameTotal.store(0, Relaxed);
    bitTotal.store(0, Relaxed);
}

void KvBuffer::emptyLists()
{
    {
        const std::lock_guard<std::mutex> locker(frameLock);
        frameList.clear();
        frameCount.store(0, Relaxed);
    }
    clearW();
    {
        const std::lock_guard<std::mutex> locker(rtSaveLock);
        rtSaveList.clear();
        rtSaveCount.store(0, Relaxed);
    }
}

void KvBuffer::clear()
{
    const std::lock_guard<std::mutex> locker(frameLock);
    frameList.clear();
    frameCount.store(0, Relaxed);
}

// ---- Watch list ----------------------------------------------------------------------------

int KvBuffer::findWatchFrame(unsigned int id)
{
    const std::lock_guard<std::mutex> locker(watchLock);
    const auto it = watchIndex.constFind(id);
    return it == watchIndex.cend() ? -1 : static_cast<int>(it.value() - watchFrontSeq);
}

void KvBuffer::addWatchFrame(KvCanObj &record)
{
    const quint32 id = record.frame.ID;
    const std::lock_guard<std::mutex> locker(watchLock);
    const auto it = watchIndex.constFind(id);
    if (it == watchIndex.cend()) {
        watchIndex.insert(id, watchFrontSeq + static_cast<qint64>(watchList.size()));
        watchList.emplace_back(record);
        if (watchList.size() > static_cast<size_t>(qMax(0, maxCount.load(Relaxed)))) {
            watchIndex.remove(watchList.front().frame.frame.ID);
            watchList.pop_front();
            ++watchFrontSeq;
        }
        watchCount.store(static_cast<int>(watchList.size()), Relaxed);
        return;
    }

    KvCanObjWatch &watched = watchList[static_cast<size_t>(it.value() - watchFrontSeq)];
    for (int i = 0; i < 8; ++i) {
        if (record.frame.Data[i] != watched.frame.frame.Data[i] && !watched.changed.testBit(i))
            watched.changed.setBit(i);
    }
    watched.frame = record;
}

KvCanObjWatchStr KvBuffer::getWatchFrame(int index)
{
    KvCanObjWatchStr watch;
    watch.text.index = QStringLiteral("-1");
    const std::lock_guard<std::mutex> locker(watchLock);
    if (index >= 0 && static_cast<size_t>(index) < watchList.size()) {
        const KvCanObjWatch &watched = watchList[static_cast<size_t>(index)];
        watch.text = analyseData(watched.frame);
        watch.changed = watched.changed;
        watch.text.index = QString::number(index);
    }
    return watch;
}

int KvBuffer::countW() const
{
    return watchCount.load(Relaxed);
}

void KvBuffer::clearW()
{
    const std::lock_guard<std::mutex> locker(watchLock);
    watchList.clear();
    watchIndex.clear();
    watchFrontSeq = 0;
    watchCount.store(0, Relaxed);
}

// ---- Real-time save queue ------------------------------------------------------------------

void KvBuffer::addRtSaveFrame(KvCanObj &record)
{
    const std::lock_guard<std::mutex> locker(rtSaveLock);
    rtSaveList.push_back(record);
    rtSaveCount.store(static_cast<int>(rtSaveList.size()), Relaxed);
}

CanObjStr KvBuffer::getRtSaveFrame(int number)
{
    KvCanObj oldest;
    {
        const std::lock_guard<std::mutex> locker(rtSaveLock);
        if (rtSaveList.empty())
            return CanObjStr();
        oldest = rtSaveList.front();
        rtSaveList.pop_front();
        rtSaveCount.store(static_cast<int>(rtSaveList.size()), Relaxed);
    }
    CanObjStr text = analyseData(oldest);
    text.index = QString::number(number);
    return text;
}

int KvBuffer::countRt() const
{
    return rtSaveCount.load(Relaxed);
}

// ---- Side queues and error log -------------------------------------------------------------

VCI_CAN_OBJ KvBuffer::carriedFields(const VCI_CAN_OBJ &frame)
{
    VCI_CAN_OBJ carried{};
    carried.ID = frame.ID;
    carried.TimeStamp = frame.TimeStamp;
    carried.RemoteFlag = frame.RemoteFlag;
    carried.ExternFlag = frame.ExternFlag;
    carried.DataLen = frame.DataLen;
    std::memcpy(carried.Data, frame.Data, sizeof carried.Data);
    return carried;
}

void KvBuffer::setDBCRun(bool on)
{
    dbcRun.store(on, Relaxed);
}

bool KvBuffer::DBCRun() const
{
    return dbcRun.load(Relaxed);
}

int KvBuffer::addDBCFrame(VCI_CAN_OBJ *frames, int count)
{
    for (int i = 0; frames && i < count; ++i) {
        const VCI_CAN_OBJ carried = carriedFields(frames[i]);
        const std::lock_guard<std::mutex> locker(dbcLock);
        dbcQueue.push_back(carried);
    }
    return count;
}

bool KvBuffer::DBCFrame(VCI_CAN_OBJ &out)
{
    const std::lock_guard<std::mutex> locker(dbcLock);
    if (dbcQueue.empty())
        return false;
    out = dbcQueue.front();
    return true;
}

void KvBuffer::ClearDBC()
{
    const std::lock_guard<std::mutex> locker(dbcLock);
    dbcQueue.clear();
}

void KvBuffer::setGBT27930Run(bool on)
{
    gbtRun.store(on, Relaxed);
}

bool KvBuffer::GBT27930Run() const
{
    return gbtRun.load(Relaxed);
}

int KvBuffer::addGBT27930Frame(VCI_CAN_OBJ *frames, int count)
{
    for (int i = 0; frames && i < count; ++i) {
        if (frames[i].ExternFlag == 0)
            continue;
        const VCI_CAN_OBJ carried = carriedFields(frames[i]);
        const std::lock_guard<std::mutex> locker(gbtLock);
        gbtQueue.push_back(carried);
    }
    return count;
}

bool KvBuffer::GBT27930Frame(VCI_CAN_OBJ &out)
{
    const std::lock_guard<std::mutex> locker(gbtLock);
    if (gbtQueue.empty())
        return false;
    out = gbtQueue.front();
    gbtQueue.pop_front();
    return true;
}

bool KvBuffer::DeleteGBT27930Frame()
{
    const std::lock_guard<std::mutex> locker(gbtLock);
    if (gbtQueue.empty())
        return false;
    gbtQueue.pop_front();
    return true;
}

void KvBuffer::ClearGBT27930()
{
    const std::lock_guard<std::mutex> locker(gbtLock);
    gbtQueue.clear();
}

void KvBuffer::addErrorData(VCI_ERR_INFO &info)
{
    const std::lock_guard<std::mutex> locker(errorLock);
    errorQueue.push_back(info);
}

bool KvBuffer::getErrorData(VCI_ERR_INFO &out)
{
    const std::lock_guard<std::mutex> locker(errorLock);
    if (errorQueue.empty())
        return false;
    out = errorQueue.front();
    errorQueue.pop_front();
    return true;
}
