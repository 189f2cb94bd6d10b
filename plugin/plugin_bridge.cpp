#include "plugin/plugin_bridge.h"

// No plug-in host yet: every block is declined and the playback block keeps what it held.
bool ProcessWithPlugin(const int16_t* /*input*/, int16_t* /*output*/, uint32_t /*frames*/) {
    return false;
}
