#include "kvbuffer.h"

#include "kvglobalset.h"
#include "kvidfiltermannger.h"
#include "localclock_p.h"
#include "savequeue_p.h"

#include <mutex>

#include <algorithm>
#include <cstring>
#include <iterator>

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

// The display formats written out by hand: the display converts thousands of records a second,
// and a printf-style formatter parses its format for every field. Each gives exactly what its
// printf format gives, and falls back to that format for values outside the common range.

// "%08X ":  0x123 -> "00000123 "
QString idText(quint32 id)
{
    static const char digits[] = "0123456789ABCDEF";
    char text[9];
    for (int i = 7; i >= 0; --i, id >>= 4)
        text[i] = digits[id & 0x0F];
    text[8] = ' ';
    return QString::fromLatin1(text, 9);
}

// "0x%X":  0x1F40 -> "0x1F40", 0 -> "0x0"
QString stampText(quint32 stamp)
{
    static const char digits[] = "0123456789ABCDEF";
    char text[10];
    int at = 10;
    do {
        text[--at] = digits[stamp & 0x0F];
        stamp >>= 4;
    } while (stamp != 0);
    text[--at] = 'x';
    text[--at] = '0';
    return QString::fromLatin1(text + at, 10 - at);
}

// "%02d:%02d:%02d:%03d":  9, 5, 3, 7 -> "09:05:03:007"
QString timeText(int hour, int minute, int second, int msec)
{
    const auto twoDigits = [](int v) { return v >= 0 && v <= 99; };
    if (!twoDigits(hour) || !twoDigits(minute) || !twoDigits(second) || msec < 0 || msec > 999)
        return QString::asprintf("%02d:%02d:%02d:%03d", hour, minute, second, msec);
    const char text[12] = {
        char('0' + hour / 10),   char('0' + hour % 10),      ':',
        char('0' + minute / 10), char('0' + minute % 10),    ':',
        char('0' + second / 10), char('0' + second % 10),    ':',
        char('0' + msec / 100),  char('0' + msec / 10 % 10), char('0' + msec % 10)};
    return QString::fromLatin1(text, 12);
}

} // namespace

KvBuffer &KvBuffer::instance(int channel)
{
    // The four channels' buffers, and a spare one for channels outside 0..3.
    static KvBuffer buffers[ChannelCount + 1];
    return buffers[(channel >= 0 && channel < ChannelCount) ? channel : ChannelCount];
}

KvBuffer::KvBuffer() : rtSaveList(new kavri::detail::SaveQueue) {}

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

    // The stored records of a call go into each list a chunk at a time, so that each list's lock
    // is taken once per adapter read rather than once per frame: the receive thread then meets
    // the application's reader and the save queue's drain far less often. The switches are read
    // once per chunk; a change applies from the next one.
    KvGlobalSet &settings = KvGlobalSet::instance();
    KvCanObj records[StoreChunk];
    int stored = 0;
    for (int first = 0; first < count; first += StoreChunk) {
        const int last = qMin(count, first + StoreChunk);
        int kept = 0;
        int ch = channel.load(Relaxed);
        for (int i = first; i < last; ++i) {
            const VCI_CAN_OBJ &frame = frames[i];
            frameTotal.fetch_add(1, Relaxed);
            bitTotal.fetch_add(getFramesBytes(&frames[i]), Relaxed);

            ch = channel.load(Relaxed);
            if (!storesFrame(frame, send, ch))
                continue;

            const kavri::detail::TimeOfDay now = kavri::detail::localTimeOfDay();
            KvCanObj &record = records[kept++];
            record.send = send;
            record.hour = now.hour;
            record.minute = now.minute;
            record.second = now.second;
            record.msec = now.msec;
            record.frame = frame;
        }
        if (kept == 0)
            continue;
        stored += kept;
        appendFrames(records, kept);
        if (settings.isWatch())
            mergeWatchFrames(records, kept);
        if (KvGlobalSet::isChannel(ch) && settings.channelSets[ch].rtSave.load(Relaxed))
            rtSaveList->append(records, kept);
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

// Each appended record displaces at most one oldest record, so a list longer than a lowered
// maximum keeps its length instead of shrinking at once.
void KvBuffer::appendFrames(const KvCanObj *records, int n)
{
    const std::lock_guard<std::mutex> locker(frameLock);
    const size_t maximum = static_cast<size_t>(qMax(0, maxCount.load(Relaxed)));
    for (int i = 0; i < n; ++i) {
        frameList.push_back(records[i]);
        if (frameList.size() > maximum)
            frameList.pop_front();
    }
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
    text.id = idText(frame.ID);
    text.timeStamp = record.send ? QStringLiteral("NULL") : stampText(frame.TimeStamp);
    text.systemTime = timeText(record.hour, record.minute, record.second, record.msec);
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
    rtSaveList->clear();
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
    mergeWatchFrames(&record, 1);
}

void KvBuffer::mergeWatchFrames(const KvCanObj *records, int n)
{
    const std::lock_guard<std::mutex> locker(watchLock);
    for (int i = 0; i < n; ++i)
        mergeWatchFrame(records[i]);
    watchCount.store(static_cast<int>(watchList.size()), Relaxed);
}

void KvBuffer::mergeWatchFrame(const KvCanObj &record)
{
    const quint32 id = record.frame.ID;
    const auto it = watchIndex.constFind(id);
    if (it == watchIndex.cend()) {
        watchIndex.insert(id, watchFrontSeq + static_cast<qint64>(watchList.size()));
        watchList.emplace_back(record);
        if (watchList.size() > static_cast<size_t>(qMax(0, maxCount.load(Relaxed)))) {
            watchIndex.remove(watchList.front().frame.frame.ID);
            watchList.pop_front();
            ++watchFrontSeq;
        }
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
        // Bits of its own, never a shared copy: the receive thread's setBit() detaches the
        // record's array while the caller may still hold a share of the old one, and the last
        // release of that share would then rest on reference counting done inside Qt, which the
        // thread checker cannot see. Eight bits cost nothing to copy.
        for (int i = 0; i < 8; ++i)
            watch.changed.setBit(i, watched.changed.testBit(i));
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
    rtSaveList->append(&record, 1);
}

CanObjStr KvBuffer::getRtSaveFrame(int number)
{
    KvCanObj oldest;
    if (!rtSaveList->take(oldest))
        return CanObjStr();
    CanObjStr text = analyseData(oldest);
    text.index = QString::number(number);
    return text;
}

int KvBuffer::takeRtSaveFrames(QVector<KvCanObj> &out, int max)
{
    if (max <= 0)
        return 0;
    const int before = out.size();
    out.resize(before + max);
    const int taken = rtSaveList->take(out.data() + before, max);
    out.resize(before + taken);
    return taken;
}

int KvBuffer::countRt() const
{
    return rtSaveList->count();
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

int KvBuffer::takeDBCFrames(QVector<VCI_CAN_OBJ> &out, int max)
{
    const std::lock_guard<std::mutex> locker(dbcLock);
    const int n = int(std::min<size_t>(dbcQueue.size(), size_t(std::max(max, 0))));
    out.reserve(out.size() + n);
    std::copy(dbcQueue.begin(), dbcQueue.begin() + n, std::back_inserter(out));
    dbcQueue.erase(dbcQueue.begin(), dbcQueue.begin() + n);
    return n;
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

int KvBuffer::takeGBT27930Frames(QVector<VCI_CAN_OBJ> &out, int max)
{
    const std::lock_guard<std::mutex> locker(gbtLock);
    const int n = int(std::min<size_t>(gbtQueue.size(), size_t(std::max(max, 0))));
    for (int i = 0; i < n; ++i) {
        out.append(gbtQueue.front());
        gbtQueue.pop_front();
    }
    return n;
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
    trimErrors();
}

void KvBuffer::trimErrors()
{
    const size_t bound = size_t(maxErrors.load());
    if (errorQueue.size() <= bound)
        return;
    const size_t excess = errorQueue.size() - bound;
    errorQueue.erase(errorQueue.begin(), errorQueue.begin() + std::ptrdiff_t(excess));
    errorDrops.fetch_add(excess);
}

void KvBuffer::setMaxErrorCount(int count)
{
    const std::lock_guard<std::mutex> locker(errorLock);
    maxErrors = qMax(1, count);
    trimErrors();
}

int KvBuffer::maxErrorCount() const
{
    return maxErrors;
}

quint64 KvBuffer::droppedErrorCount() const
{
    return errorDrops;
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
