// corvane-backend: the print-system backend of the Corvane fax printer.
#include "printer/Backend.h"

// Under LeakSanitizer: fontconfig, which poppler loads for PDF fonts, keeps
// its configuration until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) { return RunCorvaneBackend(argc, argv); }
