// `ondrel register` / `ondrel unregister`: loads libondrel with QLibrary and calls its
// DllRegisterServer or DllUnregisterServer entry point, which write or remove the control's
// entries in the registration record (see ondrel/component.h for where that file is).
#pragma once

#include <string>
#include <vector>

namespace lantry::cli {

// Runs the subcommand with the arguments after its name; returns the exit status (0 done,
// 1 the entry point failed or the library could not be used, 2 bad arguments). Prints what
// it did to stdout and failures to stderr.
int runRegistration(bool registering, const std::vector<std::string>& args);

std::string registrationHelp();

}  // namespace lantry::cli
