// The Windows service "Velmora" as the windowed program uses it: the entry hands an empty command
// line to the service dispatcher first, -install and -remove manage the service, and Exit and the
// start retry ask whether autostart is on.
#pragma once
#ifdef _WIN32

namespace velmora::shell {

inline constexpr char kServiceName[] = "Velmora";

// Runs the service dispatcher. False when the process was not started by the service control
// manager (the interactive program then runs); true when the service ran and has ended.
bool runServiceDispatcher();
void installService(const char* vmxPath);
void removeService();
// True when the service exists with automatic start.
bool isAutostartEnabled();

} // namespace velmora::shell
#endif
