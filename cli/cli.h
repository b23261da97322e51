#pragma once
// The command line: `pagiro convert TEXTFILE [options]` runs the generator
// without a display; `--help` (also after convert) and `--version` (or -v) say
// what they say.
namespace pagiro {

// Exit codes: 0 done, 1 the run failed, 2 bad usage, 130/143 stopped by SIGINT/SIGTERM.
int run_cli(int argc, char** argv);

// What `pagiro` without arguments says when there is no display for the window:
// where to turn instead. Exit code 2.
int no_display();

}  // namespace pagiro
