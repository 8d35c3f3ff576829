#ifndef COMMANDS_H
#define COMMANDS_H

#include "cansyntax.h"
#include "taskobj.h"

#include <QtCore/QStringList>

class KvDbcDatabase;
class QTableWidget;

// The subcommands of kvcan; each takes its own arguments (the subcommand name first) and returns
// the process exit code.
int runDemo(const QStringList &args);
int runMonitor(const QStringList &args);
int runSend(const QStringList &args);
int runReplay(const QStringList &args);
int runFlash(const QStringList &args);
int runTasks(const QStringList &args);
int runConvert(const QStringList &args);
int runDbc(const QStringList &args);
int runTop(const QStringList &args);
int runDecode(const QStringList &args);
int runCharging(const QStringList &args);
// Hooks of monitor and send for signals: monitor with --dbc FILE or --gbt, send with --dbc FILE
// (signalcommands.cpp).
bool wantsSignals(const QStringList &args);
int runMonitorSignals(const QStringList &args);
int runSendSignals(const QStringList &args);
// Loads a database for a command; its errors go to standard error with their lines. False when
// nothing usable was read.
bool loadDatabase(const QString &file, KvDbcDatabase &db);

// Helpers the subcommands share.
void printWatchList(uint channel, const cansyntax::IdFilter &filter = {});
// Loads a task-list document into a four-column table, as the application's task table holds it.
bool loadTasks(const QString &file, QTableWidget &table, QString &error);
taskQueue tasksOf(const QTableWidget &table);

#endif // COMMANDS_H
