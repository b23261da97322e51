#pragma once
// The message pump of the window: installed for the whole program when the
// window is open (and by the window benchmark).
namespace pagiro {

// Processes the window's pending events, but only when a few milliseconds have
// passed since it last did: a run calls the pump before every character, and
// processing events costs far more than laying out one character.
void window_pump();

// Installs window_pump as the program's pump and the message box for code
// without a window of its own.
void install_window_services();

}  // namespace pagiro
