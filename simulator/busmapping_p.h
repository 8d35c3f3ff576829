// Internal to the adapter library; not installed.
#ifndef BUSMAPPING_P_H
#define BUSMAPPING_P_H

#include <QtCore/QString>

#include <cstdint>
#include <map>
#include <tuple>

// Which adapter channels the user has put on a Qt CAN bus interface instead of the simulation.
//
// One entry per channel, "TYPE:INDEX:CHANNEL=plugin:interface", taken from the environment
// variable KAVRI_CANBUS (entries separated by ';') or, when that variable is unset, from
// ControlCAN.ini beside the executable (one entry per line, '#' starts a comment line):
//   "4:0:0=socketcan:can0"                  -> channel 0 of device type 4 index 0 on socketcan can0
//   "4:0:1=virtualcan:tcp://host:35468/can1" -> the interface keeps every ':' after the plugin
// An entry whose key does not parse, or names a channel the device type does not have, is skipped:
// it cannot be tied to a channel. An entry with a good key but no plugin or interface is kept with
// an empty target, so that opening that device fails instead of silently simulating it.
struct BusTarget
{
    QString plugin;
    QString interface;
    bool isValid() const { return !plugin.isEmpty() && !interface.isEmpty(); }
    bool operator==(const BusTarget &o) const
    {
        return plugin == o.plugin && interface == o.interface;
    }
};

class BusMapping
{
public:
    using Key = std::tuple<uint32_t, uint32_t, uint32_t>; // type, index, channel

    // Entries separated by ';' or line breaks; a later entry for a channel replaces an earlier one.
    static BusMapping parse(const QString &text);
    // The mapping in force: `envValue` when it is set (even empty), else the file at `iniPath`
    // (none when it cannot be read, is not a regular file, or is larger than 1 MiB).
    static BusMapping load(const char *envValue, const QString &iniPath);
    // What the adapter library reads at each open: KAVRI_CANBUS, else ControlCAN.ini beside the
    // executable of the running process.
    static BusMapping current();

    // The mapped channels of one device, by channel number; empty for a simulated device.
    std::map<uint32_t, BusTarget> device(uint32_t type, uint32_t index) const;
    int size() const { return int(entries.size()); }

private:
    std::map<Key, BusTarget> entries;
};

#endif // BUSMAPPING_P_H
