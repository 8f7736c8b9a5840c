// The program's version as the build gives it ("3.0.0").
#pragma once

const char* ProgramVersionText();
