// tarnwick: the windowed connection monitor.
#include "window_program.h"

int main(int argc, char** argv) { return tarnwick::RunWindowProgram(argc, argv); }
