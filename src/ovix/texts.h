// The fixed texts of the command line: banner/version and the usage text.
#pragma once

namespace velmora::ovix {

inline constexpr const char kVersionText[] = "ovix for windows (0.1.0.0)";

// Printed with the program's own argv[0] for %s; it does not mention -S and -c.
inline constexpr const char kUsageFormat[] = "Usage: %s [options]\t\t\t\t\n"
                                             "\t-a, --attach <host> <tapguid>\t\t\n"
                                             "\t\tAttach a remote L2 switch.\t\n"
                                             "\t\t\t\t\t\t\n"
                                             "\t-s, --server <tapguid>\t\t\t\n"
                                             "\t\tRun as L2 switch server.\t\n"
                                             "\t\t\t\t\t\t\n"
                                             "\t-d, --detach <tapguid>\t\t\t\n"
                                             "\t\tDetach from L2 switch.\t\n"
                                             "\t\t\t\t\t\t\n"
                                             "\t-D, --debug\t\t\t\t\n"
                                             "\t\tPrint debugging information.\t\n"
                                             "\t\t\t\t\t\t\n"
                                             "\t-v, --version\t\t\t\t\n"
                                             "\t\tShow version.\t\t\t\n"
                                             "\t\t\t\t\t\t\n"
                                             "\t-h, --help \t\t\t\t\n"
                                             "\t\tPrint this help.\t\t\n";

} // namespace velmora::ovix
