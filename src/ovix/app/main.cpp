// The ovix console program.
#include <cstdio>

#include "ovix/ovix.h"

int main(int argc, char* argv[]) {
    return velmora::ovix::ovix_main(argc, argv, stdout);
}
