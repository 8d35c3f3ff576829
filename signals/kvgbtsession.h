#ifndef KVGBTSESSION_H
#define KVGBTSESSION_H

#include "kavri_global.h"
#include "kvgbtmessage.h"
#include "kvj1939transport.h"

#include <functional>

struct _VCI_CAN_OBJ;

// Something that happened to a charging session, beside its messages.
struct KAVRI_EXPORT KvGbtEvent
{
    enum Kind : quint8 {
        Phase,   // `phase` was entered
        Timeout, // `code` was not seen for longer than its limit (once per silence)
        TpError, // a transfer failed: `tpError`
        Stop,    // the first BST or CST of a stop: `code` and the message in `stop`
    };

    Kind kind = Phase;
    qint64 time = 0; // microseconds
    int channel = 0;
    KvGbtPhase phase = KvGbtPhase::None;
    KvGbtCode code = KvGbtCode::Unknown;
    KvJ1939TpError tpError;
    KvGbtMessage stop;
};

// The current picture of a session. Numbers not yet seen are NaN, enumerations -1, texts empty.
// The last stop, error and statistics messages are kept whole (code Unknown until one came).
struct KAVRI_EXPORT KvGbtPicture
{
    KvGbtPhase phase = KvGbtPhase::None;
    // Recognition and configuration.
    QString chargerVersion; // CHM
    QString bmsVersion;     // BRM
    int batteryType = -1;   // BRM
    double ratedCapacityAh = qQNaN();
    double ratedVoltageV = qQNaN();
    QString vin;
    double maxChargeVoltageV = qQNaN(); // BCP (BHM before it)
    double maxChargeCurrentA = qQNaN(); // BCP
    double maxCellVoltageLimitV = qQNaN();
    double nominalEnergyKwh = qQNaN();
    double chargerMaxVoltageV = qQNaN(); // CML
    double chargerMaxCurrentA = qQNaN();
    int bmsReady = -1;     // BRO raw
    int chargerReady = -1; // CRO raw
    // Charging.
    double demandVoltageV = qQNaN(); // BCL
    double demandCurrentA = qQNaN();
    int chargeMode = -1;
    double measuredVoltageV = qQNaN(); // BCS
    double measuredCurrentA = qQNaN();
    double outputVoltageV = qQNaN(); // CCS
    double outputCurrentA = qQNaN();
    double socPercent = qQNaN(); // BCS (BCP before it)
    double maxCellVoltageV = qQNaN();
    int maxCellGroup = -1;
    double remainingMinutes = qQNaN();
    double chargingMinutes = qQNaN();
    double maxTemperatureC = qQNaN(); // BSM
    double minTemperatureC = qQNaN();
    int chargerAllowed = -1; // CCS pair
    int bmsAllowed = -1;     // BSM pair
    // Ending and errors.
    KvGbtMessage bst, cst, bem, cem, bsd, csd;
};

// Follows one charging session: takes the frames of a bus (a recording or a channel's GB/T
// 27930 queue) in order, reassembles the transported messages, decodes the 22 messages, keeps
// the session's picture and reports its events. Messages and events reach their handlers in
// the order they happened; time moves only with the frames' stamps and advance().
//
// Phases: the first message of a later phase enters it (the first message seen enters its own
// phase, so a recording may start in the middle); a CRM "not recognised" in the charging,
// ending or error phase goes back to recognition, a CHM in the error or ending phase to
// handshake; a BEM or CEM with any pair set enters error.
//
// Timeouts: while a message's phase lasts, the time since it was last seen is watched once it
// has been seen: BCL and CCS 1 s, the other periodic messages 5 s (BMV, BMT and BSP, which are
// optional, and BEM and CEM are not watched). One event per silence; the message coming again
// re-arms it. BRO and CRO are also watched for readiness: not ready for longer than 60 s from
// the first not-ready one gives a timeout event of its own.
//
// Decided here:
// - leaving a phase stops watching its messages; the ending phase watches BSD and CSD only,
//   since BST and CST stop by design once the other side has answered;
// - a stop event comes for the first BST (CST) of the session and again after a restart;
// - frames outside the 22 messages and the transport protocol are passed over silently.
class KAVRI_EXPORT KvGbtSession
{
public:
    static constexpr qint64 ShortLimit = 1000000; // microseconds
    static constexpr qint64 LongLimit = 5000000;
    static constexpr qint64 ReadyLimit = 60000000;

    using MessageHandler = std::function<void(const KvGbtMessage &)>;
    using EventHandler = std::function<void(const KvGbtEvent &)>;

    KvGbtSession();
    ~KvGbtSession();

    void setMessageHandler(MessageHandler handler);
    void setEventHandler(EventHandler handler);
    // The channel number messages and events carry.
    void setChannel(int channel);

    // One frame of the bus: 29-bit identifier, time in microseconds. Standard identifiers are
    // for the caller to leave out; feedFrame(VCI_CAN_OBJ) does.
    void feedFrame(qint64 time, quint32 canId, const quint8 *data, int size);
    void feedFrame(const _VCI_CAN_OBJ &frame, qint64 time);
    // A decoded message, e.g. from another reassembler.
    void feedMessage(const KvGbtMessage &message);
    // Reports what timed out before `time`.
    void advance(qint64 time);
    // Forgets the session, its transfers and its timers; handlers and channel stay.
    void reset();

    const KvGbtPicture &picture() const { return state; }
    const KvJ1939Transport &transport() const { return tp; }

private:
    Q_DISABLE_COPY(KvGbtSession)

    struct Watch
    {
        qint64 lastSeen = 0;
        qint64 notReadySince = -1;
        bool armed = false;
        bool fired = false;
        bool readyFired = false;
    };

    void onJ1939(const KvJ1939Message &message);
    void track(const KvGbtMessage &message);
    void followPhase(const KvGbtMessage &message);
    void enter(KvGbtPhase phase, qint64 time);
    void updatePicture(const KvGbtMessage &message);
    void emitEvent(KvGbtEvent &event);
    static qint64 limitOf(KvGbtCode code);

    KvJ1939Transport tp;
    KvGbtMessage scratch; // reused for every decoded message
    KvGbtPicture state;
    Watch watches[23];
    bool stopReported[2] = {false, false}; // BST, CST
    int channel = 0;
    qint64 now = 0;
    MessageHandler onMessage;
    EventHandler onEvent;
};

#endif // KVGBTSESSION_H
