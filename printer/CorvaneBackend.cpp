// corvane-backend: the print-system backend of the Corvane fax printer.
#include "printer/Backend.h"

int main(int argc, char** argv) { return RunCorvaneBackend(argc, argv); }
