// ovix-pipetap.exe: the ovix program with the stand-in adapter (see pipe_tap_win.h) in place of
// the TAP driver's device; everything else is the program's own code.
#include <cstdio>

#include "ovix/ovix.h"
#include "pipe_tap_win.h"

int main(int argc, char* argv[]) {
    velmora::ovix::set_tap_driver(&velmora::ovix::testing::pipe_tap_driver());
    return velmora::ovix::ovix_main(argc, argv, stdout);
}
