#include "plugin/plugin_host.h"

// No editor windows exist outside Windows.
void CloseEditorWindow(void* /*window*/) {}

bool ResizeEditorWindow(void* /*window*/, int32_t /*width*/, int32_t /*height*/) {
    return false;
}
