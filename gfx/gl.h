// The one place that pulls in the GL headers, so every file sees the same
// declarations on every platform.
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif
#include <GL/gl.h>
#include <GL/glext.h>
