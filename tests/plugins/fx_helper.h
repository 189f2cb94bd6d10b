// A helper DLL an effect ships beside itself, as real effects do with their own libraries.
#pragma once

#ifdef FX_HELPER_BUILD
#define FX_HELPER_API extern "C" __declspec(dllexport)
#else
#define FX_HELPER_API extern "C" __declspec(dllimport)
#endif

// 0.5: what the effect scales its sound by, so its output shows the helper ran.
FX_HELPER_API float HelperGain();
