// The lumvet program. SIGPIPE keeps its default action, so `lumvet -R big | head`
// ends silently as soon as the reader is gone.
#include <cstdio>

#include "cli/lumvet.h"

int main(int argc, char** argv) { return lumvet::run_lumvet(argc, argv, stdout, stderr); }
