#include "settings/command_line_message.h"

void ShowCommandLineMessage() {}
