// Internal: not part of the installed API.
#ifndef SIMCONTROL_P_H
#define SIMCONTROL_P_H

#include <QtCore/QString>

#include <cstdint>

namespace kavri {
namespace detail {

// The simulated adapter's control functions, looked up at run time in the adapter library the
// device manager loaded. The engine never links them: with the maker's library they are simply
// absent, and each request says so instead of changing anything.
//
// The lookup takes a reference of its own on the already loaded library (it never loads one) and
// gives it back on destruction. Used from the thread that owns the device session.
class SimControl
{
public:
    SimControl();
    ~SimControl();
    SimControl(const SimControl &) = delete;
    SimControl &operator=(const SimControl &) = delete;

    // Both return false with `error` set when the function is not there:
    //   "the adapter library has no simulator control (VSIM_Connect)"
    bool connect(uint32_t type, uint32_t index, uint32_t channelA, uint32_t channelB,
                 QString &error);
    bool setBusTiming(bool on, QString &error);

private:
    typedef void (*Connect)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
    typedef void (*SetBusTiming)(int);

    void *symbol(const char *name, QString &error);

    void *handle = nullptr;
    bool looked = false;
};

} // namespace detail
} // namespace kavri

#endif // SIMCONTROL_P_H
