#include "chargingview.h"

#include "chargingtext.h"
#include "kvgbtjson.h"
#include "kvgbtsession.h"
#include "session.h"

#include <QtCore/QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

// The picture, the message count, a blank line and the five latest events: the block is never
// shorter, so a redraw always covers what the last one wrote.
constexpr int RecentEvents = 5;

} // namespace

ChargingView::ChargingView(KvGbtSession &session, bool json)
    : session(session), json(json), tty(!json && isatty(fileno(stdout)))
{
    session.setMessageHandler([this](const KvGbtMessage &m) {
        ++messages;
        if (this->json)
            out() << KvGbtJson::message(m) << '\n';
    });
    session.setEventHandler([this](const KvGbtEvent &e) {
        if (this->json) {
            out() << KvGbtJson::event(e) << '\n';
        } else if (tty) {
            recent << chargingtext::event(e);
            if (recent.size() > RecentEvents)
                recent.removeFirst();
        } else {
            out() << chargingtext::event(e) << '\n';
        }
    });
}

void ChargingView::refresh(bool force)
{
    if (!tty || (!force && shown.isValid() && shown.elapsed() < 200))
        return;
    shown.start();
    QStringList lines = chargingtext::picture(session.picture());
    const int height = lines.size() + 2 + RecentEvents;
    lines << QStringLiteral("messages      %1").arg(messages) << QString() << recent;
    while (lines.size() < height)
        lines << QString();
    if (drawnLines > 0)
        out() << "\033[" << drawnLines << 'A';
    for (const QString &line : lines)
        out() << "\r\033[K" << line << '\n';
    drawnLines = lines.size();
    out().flush();
}

void ChargingView::finish()
{
    if (tty) {
        refresh(true);
    } else if (!json) {
        out() << QStringLiteral("%1 messages; the session at the end:\n").arg(messages);
        for (const QString &line : chargingtext::picture(session.picture()))
            out() << "  " << line << '\n';
    }
    out().flush();
}
