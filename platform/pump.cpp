#include "pump.h"

namespace pagiro {
namespace {
PumpHandler g_handler = nullptr;
}

void pump() {
    if (g_handler) g_handler();
}

PumpHandler set_pump_handler(PumpHandler handler) {
    PumpHandler old = g_handler;
    g_handler = handler;
    return old;
}

}  // namespace pagiro
