// Internal to the kvcan tests.
#ifndef KVCANRUN_H
#define KVCANRUN_H

#include <QtCore/QProcess>
#include <QtCore/QString>
#include <QtCore/QStringList>

namespace kvcantest {

// What a finished kvcan run left: its exit code (-1 when it had to be killed after the timeout,
// -2 when it crashed) and everything it printed.
struct Result
{
    int code = -1;
    QString out;
    QString err;
};

// Runs kvcan (or `program`) to its end, as a user's shell would.
inline Result run(const QStringList &args, int timeoutMs = 120000,
                  const QString &program = QStringLiteral(KVCAN_PATH))
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromLocal8Bit(p.readAllStandardOutput()), QStringLiteral("timed out")};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace kvcantest

#endif // KVCANRUN_H
