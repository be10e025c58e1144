// The C runtime's start-up calls main; the program takes nothing from it and
// hands over to its own entry point at once.
#include "program/prompt.h"

int main() { ProgramEntry(); }
