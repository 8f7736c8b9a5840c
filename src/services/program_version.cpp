#include "services/program_version.h"

const char* ProgramVersionText() { return LUMARO_VERSION; }
