#include "Options.h"

#include <cstdio>

int RunCapture(const CaptureOptions&) {
    std::fprintf(stderr, "klt-capture: receiving is not built yet\n");
    return EXIT_PORT_OR_FILE_ERROR;
}
