// kvcan charging: a DC charging session between a simulated charger and BMS, played live on two
// wired channels and decoded from the bus as an analyser sees it; or a recording of one.
#include "commands.h"

#include "chargingview.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvgbtmonitor.h"
#include "kvgbtsession.h"
#include "kvgbtsimulation.h"
#include "kvglobalset.h"
#include "kvpipe.h"
#include "session.h"
#include "stopsignals.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QTextStream>
#include <QtCore/QThread>

namespace {

constexpr int ChargerChannel = 0;
constexpr int BmsChannel = 1;
constexpr quint32 BitRate = 250000;

int runLive(bool fault, bool json)
{
    KvGbtSimulation::Options options;
    options.bclStops = fault;
    const std::vector<KvGbtSimFrame> frames = KvGbtSimulation::generate(options);

    KvDeviceSession device;
    device.setDevice(4, 0);
    device.addChannel(ChargerChannel, BitRate);
    device.addChannel(BmsChannel, BitRate);
    // The BMS's channel also receives what it sends itself, so its GB/T queue holds the whole
    // dialogue in bus order, as an analyser tapped in beside the BMS sees it.
    if (!device.start() || !device.wire(ChargerChannel, BmsChannel) ||
        !device.wire(BmsChannel, BmsChannel) || !device.setSimulatedBusTiming(true)) {
        const QString why = device.errorString();
        device.stop();
        return fail(
            QStringLiteral("cannot play the session on the simulated adapter: %1").arg(why));
    }
    KvBuffer &tap = KvBuffer::instance(BmsChannel);
    tap.ClearGBT27930();
    tap.setGBT27930Run(true);

    KvGbtSession session;
    session.setChannel(BmsChannel);
    ChargingView view(session, json);
    KvGbtMonitor monitor(tap, session);
    if (!json)
        out() << QStringLiteral("charger on channel %1, BMS on channel %2, %3 kbit/s%4\n")
                     .arg(ChargerChannel)
                     .arg(BmsChannel)
                     .arg(BitRate / 1000)
                     .arg(fault ? QStringLiteral(", the BMS stops sending BCL") : QString());

    // Each frame goes out when it is due and, when the other side sent the one before it, once
    // that one is on the bus: two transmit threads must not swap a CTS and the data packets it
    // asks for. The BMS's channel hears every frame: what its receive thread counted, plus what
    // still waits in the adapter (read in that order, a frame in between is counted in neither,
    // never twice).
    KvChannelSet &heard = KvGlobalSet::instance().channelSets[BmsChannel];
    const int receivedBefore = heard.receiveCount;
    const auto onTheBus = [&] {
        const int counted = heard.receiveCount - receivedBefore;
        return counted + int(device.device().getReceiveNum(BmsChannel));
    };
    int pushed = 0;
    KvGbtSimFrame::Sender lastSender = KvGbtSimFrame::Charger;
    size_t next = 0;
    QElapsedTimer clock;
    clock.start();
    bool complete = false;
    while (!stopsignals::requested()) {
        const qint64 now = clock.nsecsElapsed() / 1000;
        while (next < frames.size() && frames[next].time <= now) {
            const KvGbtSimFrame &f = frames[next];
            if (f.sender != lastSender && onTheBus() < pushed)
                break;
            lastSender = f.sender;
            const int channel = f.sender == KvGbtSimFrame::Charger ? ChargerChannel : BmsChannel;
            CanObj frame;
            frame.ID = f.id;
            frame.ExternFlag = 1;
            frame.DataLen = f.size;
            memcpy(frame.Data, f.data, 8);
            CanData one;
            one.push(frame);
            KvPipe::instance(channel).push(one);
            ++pushed;
            ++next;
        }
        monitor.poll();
        view.refresh();
        if (next == frames.size() && heard.receiveCount - receivedBefore >= int(frames.size())) {
            complete = true;
            break;
        }
        // Frames that never arrive (a refused transmit) must not hold the tool for ever.
        if (now > frames.back().time + 5000000)
            break;
        QCoreApplication::processEvents();
        QThread::usleep(500);
    }
    device.stop();
    monitor.poll();
    tap.setGBT27930Run(false);
    view.finish();
    if (stopsignals::requested())
        return 130;
    if (!complete)
        return fail(QStringLiteral("the session did not reach the bus in full: %1 of %2 frames")
                        .arg(heard.receiveCount - receivedBefore)
                        .arg(frames.size()));
    return 0;
}

int runReplayed(const QString &file, const QString &format, double speed, bool json)
{
    QString error;
    const std::unique_ptr<KvFrameReader> reader =
        KvFormatRegistry::openReader(file, format, &error);
    if (!reader)
        return fail(error, error.startsWith(QLatin1String("unknown format")) ? 2 : 1);
    KvGbtSession session;
    ChargingView view(session, json);
    QElapsedTimer clock;
    clock.start();
    qint64 first = -1;
    KvFrame f;
    KvFrameReader::Result r = KvFrameReader::End;
    while (!stopsignals::requested() && (r = reader->read(f)) != KvFrameReader::End &&
           r != KvFrameReader::Error) {
        if (r != KvFrameReader::Frame || f.error || f.remote || !f.extended)
            continue;
        const qint64 micros = f.timeNs / 1000;
        if (first < 0)
            first = micros;
        // Paced by the stamps, in slices, so a refresh and a stop are never far away.
        while (speed > 0 && !stopsignals::requested() &&
               clock.nsecsElapsed() / 1000 < qint64(double(micros - first) / speed)) {
            view.refresh();
            QThread::usleep(1000);
        }
        session.setChannel(f.channel);
        session.feedFrame(micros, f.id, f.data, f.dlc);
        view.refresh();
    }
    view.finish();
    if (stopsignals::requested())
        return 130;
    if (r == KvFrameReader::Error)
        return fail(reader->errorString());
    return 0;
}

} // namespace

int runCharging(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Show a GB/T 27930 DC charging session live: a simulated charger and BMS on two wired "
        "channels at 250 kbit/s, or a recording (--replay)."));
    parser.addHelpOption();
    parser.addOption({"fault", "The BMS stops sending BCL 3 s into charging."});
    parser.addOption({"replay", "Show the session of this recording instead.", "file"});
    parser.addOption({"format", "The recording's format (default: from its content).", "format"});
    parser.addOption(
        {"speed", "Replay speed: 1 is real time, 0 as fast as it reads.", "factor", "1"});
    parser.addOption({"json", "The messages and events as JSON lines."});
    if (!parser.parse(args))
        return fail(parser.errorText(), 2);
    if (parser.isSet("help")) {
        out() << commandHelp(parser, args.value(0));
        out().flush();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("charging takes no arguments"), 2);
    bool ok = false;
    const double speed = parser.value("speed").toDouble(&ok);
    if (!ok || speed < 0)
        return fail(QStringLiteral("bad --speed '%1'").arg(parser.value("speed")), 2);
    if (parser.isSet("replay") && parser.isSet("fault"))
        return fail(QStringLiteral("--fault is for the simulated session, not a recording"), 2);
    stopsignals::install();
    if (parser.isSet("replay"))
        return runReplayed(parser.value("replay"), parser.value("format"), speed,
                           parser.isSet("json"));
    return runLive(parser.isSet("fault"), parser.isSet("json"));
}
