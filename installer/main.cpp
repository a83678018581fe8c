#include "run.hpp"

int main(int argc, char** argv) { return brq_install::run(argc, argv); }
