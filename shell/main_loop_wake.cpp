// Waking the main loop from other threads. GLFW may be asked for an empty event only
// while it is initialised: start-up allows it once the window exists and shut-down
// forbids it before glfwTerminate, under one lock, so no thread ever calls into a GLFW
// that is being torn down.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include "shell/main_loop.h"

static u8 wake_lock;        // guards main_loop_can_be_woken and the call into GLFW
static b8 main_loop_can_be_woken;

void allow_waking_main_loop() {
    spin_lock(&wake_lock);
    main_loop_can_be_woken = true;
    spin_unlock(&wake_lock);
}

void stop_waking_main_loop() {
    spin_lock(&wake_lock);
    main_loop_can_be_woken = false;
    spin_unlock(&wake_lock);
}

void wake_main_loop() {
    spin_lock(&wake_lock);
    if (main_loop_can_be_woken) glfwPostEmptyEvent();
    spin_unlock(&wake_lock);
}
