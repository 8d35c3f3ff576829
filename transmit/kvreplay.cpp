#include "kvreplay.h"

#include "kvdevicesession.h"

#include <QtCore/QDeadlineTimer>

#include <algorithm>
#include <iterator>

namespace {

// How grave an end is, for the one reason of several threads.
int gravity(KvSendFileThread::EndReason why)
{
    switch (why) {
    case KvSendFileThread::Refused:
    case KvSendFileThread::NotRun:
        return 5;
    case KvSendFileThread::TransmitRefused:
        return 4;
    case KvSendFileThread::Stopped:
        return 3;
    case KvSendFileThread::ReadError:
        return 2;
    case KvSendFileThread::EndOfData:
        break;
    }
    return 1;
}

bool channelNumber(const QString &text, int &channel)
{
    bool ok = false;
    channel = text.trimmed().toInt(&ok);
    return ok && channel >= 0 && channel <= 3;
}

} // namespace

KvReplay::KvReplay(KvDeviceSession &s, QObject *parent) : QObject(parent), session(s)
{
    // The session is about to take the channels down: the pass ends here, with its counts, and
    // no other starts. The session would wait for the threads anyway.
    connect(&session, &KvDeviceSession::aboutToStop, this, [this] {
        stop();
        waitForFinished();
    });
    // The threads are watched from here rather than through their finished() signals: a queued
    // connection leaves the emitting thread's bookkeeping inside the connection, freed with the
    // thread object here, out of sight of the thread checker. 10 ms is a pass's added end time.
    progressTimer.setInterval(10);
    connect(&progressTimer, &QTimer::timeout, this, [this] {
        publishProgress();
        threadEnded();
    });
    stopAgain.setInterval(20);
    connect(&stopAgain, &QTimer::timeout, this, [this] {
        for (auto &t : threads)
            t->stop();
    });
}

KvReplay::~KvReplay()
{
    stopping = true;
    for (auto &t : threads) {
        t->stop();
        t->waitForFinish();
        session.removeSender(t.get());
    }
}

bool KvReplay::parseChannelMap(const QString &text, QVector<QPair<int, int>> &map, QString &error)
{
    QVector<QPair<int, int>> result;
    for (const QString &entry : text.split(QLatin1Char(','))) {
        const QStringList sides = entry.split(QLatin1Char('='));
        int from = 0, to = 0;
        if (sides.size() != 2 || !channelNumber(sides.at(0), from) ||
            !channelNumber(sides.at(1), to)) {
            error = QStringLiteral("bad channel map entry '%1': expected FROM=TO with channels 0 "
                                   "to 3, as in 1=0,2=1")
                        .arg(entry.trimmed());
            return false;
        }
        for (const auto &p : qAsConst(result)) {
            if (p.first == from) {
                error = QStringLiteral("channel %1 is mapped twice").arg(from);
                return false;
            }
        }
        result.append({from, to});
    }
    map = result;
    return true;
}

void KvReplay::setFormat(const QString &name)
{
    format = name;
    fileType = -1;
}

void KvReplay::setFileType(int type)
{
    fileType = type;
    format.clear();
}

QVector<int> KvReplay::targetChannels() const
{
    QVector<int> targets;
    if (mapping.isEmpty())
        targets << defaultChannel;
    for (const auto &m : mapping)
        targets << m.second;
    return targets;
}

qint64 KvReplay::sentFromChannel(int recordingChannel) const
{
    return recordingChannel >= 0 && recordingChannel <= 4 ? perRecording[recordingChannel] : 0;
}

bool KvReplay::start()
{
    if (running) {
        error = QStringLiteral("a replay is running");
        return false;
    }
    if (!session.isStarted()) {
        error = QStringLiteral("the device session has not started");
        return false;
    }
    if (!mapping.isEmpty() && fileType >= 0) {
        error = QStringLiteral("a channel map needs the channels of a format reader");
        return false;
    }
    running = true;
    stopping = false;
    published = -1;
    progressTimer.start();
    passes = 0;
    sent = skipped = errors = 0;
    std::fill(std::begin(perRecording), std::end(perRecording), 0);
    perTarget.clear();
    reason = KvSendFileThread::NotRun;
    error.clear();
    startPass();
    return true;
}

void KvReplay::stop()
{
    if (!running)
        return;
    stopping = true;
    for (auto &t : threads)
        t->stop();
    stopAgain.start();
}

void KvReplay::startPass()
{
    QVector<QPair<int, int>> plan; // recording channel (-1: all) -> engine channel
    if (mapping.isEmpty())
        plan.append({-1, defaultChannel});
    plan += mapping;
    for (const auto &p : qAsConst(plan)) {
        threads.emplace_back(new KvSendFileThread(ulong(p.second)));
        threadChannels << p.second;
        KvSendFileThread &t = *threads.back();
        if (fileType >= 0)
            t.setFileType(fileType);
        else
            t.setFormat(format);
        t.setMaxGap(maxGapMs);
        t.setSpeed(speedFactor);
        t.setChannelFilter(p.first);
        t.setFileName(file);
        t.setParameter(startTask);
        // The pass's first thread tells the file position. It only stores the percent; a timer
        // here publishes it, so no event crosses from the threads (one per frame would be
        // hundreds of thousands a second) and none can arrive after the replay has finished.
        if (threads.size() == 1) {
            progress = 0;
            connect(
                &t, &KvSendFileThread::progressValueChanged, this,
                [this](int v) { progress.store(v, std::memory_order_relaxed); },
                Qt::DirectConnection);
        }
        session.addSender(&t);
    }
    ++passes;
    emit passStarted(passes);
    for (auto &t : threads)
        t->start();
}

bool KvReplay::waitForFinished(int msecs)
{
    if (!running)
        return true;
    const QDeadlineTimer deadline =
        msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs);
    for (auto &t : threads) {
        if (msecs < 0)
            t->waitForFinish();
        else if (!t->wait(deadline))
            return false;
    }
    stopping = true;
    endPass();
    return true;
}

void KvReplay::publishProgress()
{
    const int v = progress.load(std::memory_order_relaxed);
    if (running && v != published) {
        published = v;
        emit progressChanged(v);
    }
}

void KvReplay::threadEnded()
{
    // Nothing to watch once waitForFinished() or a stop ended the pass itself.
    if (!running || threads.empty())
        return;
    for (const auto &t : threads) {
        if (!t->isFinished())
            return;
    }
    endPass();
}

void KvReplay::endPass()
{
    KvSendFileThread::EndReason why = KvSendFileThread::EndOfData;
    const qint64 before = sent;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        KvSendFileThread *t = threads[i].get();
        // Finished already: this only collects the worker's state.
        t->waitForFinish();
        session.removeSender(t);
        sent += t->sentFrames();
        skipped += t->skippedLines();
        errors += t->errorFrames();
        perTarget[threadChannels.at(int(i))] += t->sentFrames();
        for (int c = 0; c < 5; ++c)
            perRecording[c] += t->sentFromChannel(c);
        const KvSendFileThread::EndReason ended = t->endReason();
        if (!t->errorString().isEmpty())
            error = t->errorString();
        if (gravity(ended) > gravity(why))
            why = ended;
    }
    threads.clear();
    threadChannels.clear();
    if (why == KvSendFileThread::EndOfData && !stopping && passes < loops && sent > before) {
        startPass();
        return;
    }
    // A stop that came after the last frame of the last pass cut nothing short.
    const bool cut = stopping && why == KvSendFileThread::EndOfData && passes < loops;
    finish(cut ? KvSendFileThread::Stopped : why);
}

void KvReplay::finish(KvSendFileThread::EndReason why)
{
    reason = why;
    running = false;
    stopAgain.stop();
    progressTimer.stop();
    emit finished();
}
