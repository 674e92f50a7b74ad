// Process entry of the engine program.
#include "shell/shell.h"

int main(int argc, char** argv) { return shell::run_program(argc, argv); }
