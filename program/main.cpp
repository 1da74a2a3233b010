#include "program/start.hpp"

int main(int argc, char** argv) { return kel::program_start(argc, argv); }
