#include "simcontrol_p.h"
#include "vcilibrary_p.h"

#include <dlfcn.h>

namespace kavri {
namespace detail {

SimControl::SimControl() = default;

SimControl::~SimControl()
{
    if (handle)
        dlclose(handle);
}

void *SimControl::symbol(const char *name, QString &error)
{
    if (!looked) {
        looked = true;
        const std::string path = VciLibrary::besideExecutable();
        // RTLD_NOLOAD: only a library that is loaded already; nothing new enters the process.
        if (!path.empty())
            handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    }
    if (!handle) {
        error = QStringLiteral("no adapter library is loaded");
        return nullptr;
    }
    void *function = dlsym(handle, name);
    if (!function)
        error = QStringLiteral("the adapter library has no simulator control (%1)")
                    .arg(QLatin1String(name));
    return function;
}

bool SimControl::connect(uint32_t type, uint32_t index, uint32_t channelA, uint32_t channelB,
                         QString &error)
{
    const auto wire = reinterpret_cast<Connect>(symbol("VSIM_Connect", error));
    if (!wire)
        return false;
    wire(type, index, channelA, type, index, channelB);
    return true;
}

bool SimControl::setBusTiming(bool on, QString &error)
{
    const auto timing = reinterpret_cast<SetBusTiming>(symbol("VSIM_SetBusTiming", error));
    if (!timing)
        return false;
    timing(on ? 1 : 0);
    return true;
}

} // namespace detail
} // namespace kavri
