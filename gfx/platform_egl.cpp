// A GL context without a window on Linux, over EGL: for runs on machines
// with no display (batch and cluster nodes, CI). The device platform comes
// first (one EGL device per GPU, Mesa's software device among them), then
// Mesa's surfaceless platform. The context is a compatibility one, so the
// fixed-function drawing and the #version 120 shader run unchanged; the
// caller draws into a framebuffer object.
//
// Native handles stay in this file.
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <string>

#include "gfx/platform.h"
#include "util/text_util.h"

namespace {

struct EglState {
  EGLDisplay display;  // the initialised display of the context; EGL_NO_DISPLAY until one works
  EGLContext context;  // the current context; EGL_NO_CONTEXT until made
};

EglState egl = {EGL_NO_DISPLAY, EGL_NO_CONTEXT};

const int kMaxDevices = 16;

template <typename T>
T egl_function(const char* name) {
  return reinterpret_cast<T>(eglGetProcAddress(name));
}

// NOTE: a config is asked for only to be told the display can do desktop
// GL at all; with EGL_KHR_no_config_context the context needs none.
EGLConfig desktop_gl_config(EGLDisplay display) {
  const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (!eglChooseConfig(display, wanted, &config, 1, &count) || count < 1) return nullptr;
  return config;
}

// GL 4.5 compatibility first (compute shaders and the fixed-function
// pipeline together), then whatever legacy context the driver offers.
EGLContext create_context(EGLDisplay display, EGLConfig config) {
  const EGLint compat45[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                             EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                             EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compat45);
  if (context == EGL_NO_CONTEXT) context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  return context;
}

bool start_on(EGLDisplay display) {
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return false;
  EGLConfig config = desktop_gl_config(display);
  EGLContext context = eglBindAPI(EGL_OPENGL_API) ? create_context(display, config) : EGL_NO_CONTEXT;
  if (context != EGL_NO_CONTEXT && eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    egl.display = display;
    egl.context = context;
    return true;
  }
  if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
  eglTerminate(display);
  return false;
}

int query_devices(EGLDeviceEXT devices[kMaxDevices]) {
  auto query = egl_function<PFNEGLQUERYDEVICESEXTPROC>("eglQueryDevicesEXT");
  EGLint count = 0;
  if (!query || !query(kMaxDevices, devices, &count)) return 0;
  return count;
}

bool start_on_device(EGLDeviceEXT device) {
  auto platform_display = egl_function<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
  return platform_display && start_on(platform_display(EGL_PLATFORM_DEVICE_EXT, device, nullptr));
}

bool start_surfaceless() {
  auto platform_display = egl_function<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
  return platform_display &&
         start_on(platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr));
}

}  // namespace

bool platform_open_headless(int device, std::string* why) {
  EGLDeviceEXT devices[kMaxDevices];
  int count = query_devices(devices);
  if (device >= 0) {
    if (device < count && start_on_device(devices[device])) return true;
    *why = format_text("EGL device %d could not be used (%d devices found)", device, count);
    return false;
  }
  for (int k = 0; k < count; k++)
    if (start_on_device(devices[k])) return true;
  if (start_surfaceless()) return true;
  *why = format_text("no EGL device (%d found) nor Mesa's surfaceless platform gave a GL context", count);
  return false;
}

void* platform_headless_proc_address(const char* name) {
  return reinterpret_cast<void*>(eglGetProcAddress(name));
}
