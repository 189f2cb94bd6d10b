#pragma once

// Raises an access violation and handles it inside the effect, as real plug-ins do when they
// probe memory or processor features; true when it was handled (always true off Windows,
// where nothing is raised).
bool RaiseAndHandleOwnFault();
