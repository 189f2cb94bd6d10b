// The platform's own way of showing the one command-line message: a message box on Windows,
// nothing in the native builds, which have no user to tell.
#pragma once

void ShowCommandLineMessage();
