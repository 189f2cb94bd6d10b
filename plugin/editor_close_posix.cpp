#include "plugin/plugin_host.h"

// No editor windows exist outside Windows.
void CloseEditorWindow(void* /*window*/) {}
