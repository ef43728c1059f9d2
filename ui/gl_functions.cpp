// The OpenGL loader. Entry points beyond OpenGL 1.x are only promised through
// glXGetProcAddressARB, so that is asked first; dlsym covers the rest.

#include "ui/gl_functions.h"
#include "foundation/log.h"

#include <dlfcn.h>

Gl_Functions gl;

typedef void* (*Get_Proc_Address)(const GLubyte* name);

#define GL_NAME(result, name, parameters) "gl" #name,
static const char* gl_function_names[] = {GL_FUNCTION_LIST(GL_NAME)};
#undef GL_NAME

static_assert(sizeof(gl_function_names) / sizeof(gl_function_names[0]) * sizeof(void*) == sizeof(Gl_Functions));

b8 load_gl_functions() {
    void* library = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        add_log(nullptr, LOG_ERROR, "OpenGL: could not open libGL.so.1: %s", dlerror());
        return false;
    }
    Get_Proc_Address get_proc_address = (Get_Proc_Address)dlsym(library, "glXGetProcAddressARB");

    void** slots = (void**)&gl;
    for (u32 i = 0; i < ARRAY_COUNT(gl_function_names); i++) {
        void* entry = get_proc_address ? get_proc_address((const GLubyte*)gl_function_names[i]) : nullptr;
        if (!entry) entry = dlsym(library, gl_function_names[i]);
        if (!entry) {
            add_log(nullptr, LOG_ERROR, "OpenGL: entry point %s not found.", gl_function_names[i]);
            return false;
        }
        slots[i] = entry;
    }
    // The library stays loaded for the life of the process: the pointers point into it.
    return true;
}
