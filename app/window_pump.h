#pragma once
// The message pump of the window: installed for the whole program when the
// window is open (and by the window benchmark).
namespace pagiro {

// Processes the window's pending events, but only when some 25 milliseconds have
// passed since it last did: a run calls the pump before every character, and
// processing events costs far more than laying out one character.
void window_pump();

// What the pump does just before it processes events: the window shows the
// latest progress texts of a run then. One window registers itself; nullptr clears.
using DisplayFlush = void (*)(void* context);
void set_display_flush(DisplayFlush flush, void* context);
void* display_flush_context();

// Installs window_pump as the program's pump and the message box for code
// without a window of its own.
void install_window_services();

}  // namespace pagiro
