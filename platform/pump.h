#pragma once
// The message pump that long-running work calls so the window stays responsive.
// The window installs the real one; without a window (command line, tests) it
// does nothing unless a test installs its own.
namespace pagiro {

using PumpHandler = void (*)();

void pump();
// Installs the handler; returns the previous one. nullptr restores "do nothing".
PumpHandler set_pump_handler(PumpHandler handler);

}  // namespace pagiro
