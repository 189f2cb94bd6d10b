// The two start-up options: -pN (or /pN) picks settings slot N, -t (or /t) starts the
// program hidden in the notification area. The letter is taken in either case.
#pragma once

// True while the main window lives in the notification area; set by -t.
extern bool startInTray;

// Reads the options from text (what follows the program name) into currentSlotIndex and
// startInTray, left to right. Tokens are separated by single spaces, and each space that
// ends a token is overwritten with the terminator. A slot number outside 0..7 shows the
// message, selects slot 0 and parsing goes on; every other fault shows the message and ends
// the parse, keeping whatever was set before. Null text does nothing.
void ParseCommandLine(wchar_t* text);

// How the user is told that the command line was not understood: the program's message box,
// in its language. The default, which null puts back, tells nobody.
using CommandLineMessageFn = void (*)();
void SetCommandLineMessageHandler(CommandLineMessageFn handler);
