#pragma once
// The command line: `pagiro convert TEXTFILE [options]` runs the generator
// without a display; `--help` and `--version` say what they say.
namespace pagiro {

// Exit codes: 0 done, 1 the run failed, 2 bad usage, 130/143 stopped by SIGINT/SIGTERM.
int run_cli(int argc, char** argv);

}  // namespace pagiro
