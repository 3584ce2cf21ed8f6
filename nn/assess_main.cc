// lumqet: the network-based blur assessor.
#include <cstdio>

#include "nn/assessor.h"

int main(int argc, char** argv) { return lumvet::run_network_assessor(argc, argv, stdout, stderr); }
