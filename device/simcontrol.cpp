#include "simcontrol_p.h"

#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace kavri {
namespace detail {

namespace {

// The file the device manager loads: the adapter library beside the running executable.
std::string adapterPath()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return std::string();
    std::string path(exe, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    path.resize(slash + 1);
    return path + "libControlCAN.so";
}

} // namespace

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
        const std::string path = adapterPath();
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
