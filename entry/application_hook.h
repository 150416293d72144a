// The one function through which the plug-in runtime reaches the application.
//
// Hook names (exact): "Initialize" and "Terminate" with the Tessel object,
// "Run" with the invoke's tslData. Returns the application's result; -1 for a
// null name or pointer, an unknown name, or "Run" without an application.
// "Initialize"/"Terminate" never overlap other calls; "Run" may be called from
// many threads at once.
#pragma once

#include <cstdint>

int32_t TesselApplicationHook(const char *hookName, void *object);
