#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

// Ctrl-C and SIGTERM as a request to finish, not a kill: the tools' loops look at requested()
// between their steps, stop their threads, reset the channels and print their summary.
//
//     stopsignals::install();
//     while (!stopsignals::requested()) { ... }
//     return cutShort ? 130 : 0;
//
// The handler only sets a flag (async-signal-safe); a second signal of either kind while the
// first is being honoured ends the process at once with the conventional status, for a user
// whose tool does not stop fast enough.
namespace stopsignals {

void install();
bool requested();
// The signal received (SIGINT or SIGTERM), 0 when none.
int signalNumber();
// Forgets a request, for tests that drive several commands in one process.
void clear();

} // namespace stopsignals

#endif // STOPSIGNALS_H
