#pragma once

// Runs "lumaro --convert ..." with the arguments from argv[first] on;
// returns the process exit code.
int RunBatchConvert(int argc, char** argv, int first);
