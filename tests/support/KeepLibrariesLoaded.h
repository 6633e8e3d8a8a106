#pragma once
// Marks every library loaded now as never to be unloaded. Qt's platforms load the GL stack
// (Mesa's EGL and its driver) and unload it when the application goes; the leak check runs
// after that, when the memory those libraries still hold is no longer reachable from anything
// it scans and their code has no name, so it reports leaks "from <unknown module>" that no
// suppression can match. Kept loaded, what they hold stays reachable, and a real leak in them
// is reported with their names.
#include <dlfcn.h>
#include <link.h>

namespace testsupport {

inline void KeepLibrariesLoaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0')
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);  // only raises a flag
            return 0;
        },
        nullptr);
}

}  // namespace testsupport
