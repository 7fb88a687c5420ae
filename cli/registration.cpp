// Registration through the library's own entry points; see registration.h.
#include "registration.h"

#include <QFileInfo>
#include <QLibrary>

#include <dlfcn.h>
#include <cstdint>
#include <cstdio>

#include "ondrel/component.h"

namespace lantry::cli {

namespace {

// The libondrel this program runs with: the file that holds one of its functions.
QString linkedLibrary() {
    Dl_info info{};
    const auto probe = reinterpret_cast<void*>(&lantry::registryFile);
    if (dladdr(probe, &info) == 0 || !info.dli_fname)
        return {};
    return QString::fromLocal8Bit(info.dli_fname);
}

}  // namespace

std::string registrationHelp() {
    return R"(Usage: ondrel register [--library FILE]
       ondrel unregister [--library FILE]

register writes the control's entries (programmatic identifier Lantry.Ondrel, its class,
type library and interfaces, and the library's path) into the registration record, so that
hosts can create the control by name; unregister removes exactly those entries. Both call the
library's own DllRegisterServer / DllUnregisterServer.

  --library FILE   the libondrel to register (default: the one this program runs with)

The record is the file named by ONDREL_REGISTRY, or else
$XDG_CONFIG_HOME/Lantry/components.ini (~/.config/Lantry/components.ini).
)";
}

int runRegistration(bool registering, const std::vector<std::string>& args) {
    const char* verb = registering ? "register" : "unregister";
    QString path;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--library" && i + 1 < args.size()) {
            path = QString::fromStdString(args[++i]);
        } else if (args[i].rfind("--library=", 0) == 0) {
            path = QString::fromStdString(args[i].substr(10));
        } else {
            std::fprintf(stderr, "ondrel %s: unexpected argument \"%s\"\n", verb, args[i].c_str());
            return 2;
        }
    }
    if (path.isEmpty())
        path = linkedLibrary();
    if (path.isEmpty()) {
        std::fprintf(stderr, "ondrel %s: cannot tell which libondrel to use; give --library\n",
                     verb);
        return 1;
    }

    QLibrary library(path);
    if (!library.load()) {
        std::fprintf(stderr, "ondrel %s: cannot load %s: %s\n", verb, qPrintable(path),
                     qPrintable(library.errorString()));
        return 1;
    }
    using EntryPoint = std::int32_t (*)();
    const char* symbol = registering ? "DllRegisterServer" : "DllUnregisterServer";
    const auto entry = reinterpret_cast<EntryPoint>(library.resolve(symbol));
    if (!entry) {
        std::fprintf(stderr, "ondrel %s: %s has no entry point %s\n", verb, qPrintable(path),
                     symbol);
        return 1;
    }
    const std::int32_t result = entry();
    const QString record = lantry::registryFile();
    if (result != lantry::kResultOk) {
        std::fprintf(stderr, "ondrel %s: %s failed with 0x%08x; the record %s was not %s\n", verb,
                     symbol, static_cast<unsigned>(result), qPrintable(record),
                     registering ? "written" : "changed");
        return 1;
    }
    const QString file = QFileInfo(library.fileName()).canonicalFilePath();
    if (registering)
        std::printf("The Ondrel control (Lantry.Ondrel) in %s is registered in %s.\n",
                    qPrintable(file), qPrintable(record));
    else
        std::printf("The Ondrel control's entries for %s are removed from %s.\n", qPrintable(file),
                    qPrintable(record));
    return 0;
}

}  // namespace lantry::cli
