// What the tests that open their window in-process under an X server of their own share
// (defined in x11_pixels.cpp, a file of its own because Xlib's headers name types Font and
// Glyph, as Quarn's do).
#pragma once

#include <sys/types.h>

#include <stdint.h>

#include <vector>

struct GLFWwindow;

// From GLFW's native interface, declared here for the same reason.
extern "C" unsigned long glfwGetX11Window(GLFWwindow* handle);

pid_t start_xvfb_for_window_tests();  // DISPLAY points at it afterwards; -1 when it failed
void stop_xvfb_for_window_tests(pid_t* pid);  // and forgets it; nothing when none started

void note_gl_driver_opened();
// The leak check at exit crashes now and then scanning the thread-local blocks the OpenGL
// driver leaves behind, and the driver keeps blocks it never frees: a process that opened
// it goes without. ctest runs every test in a process of its own, so the others keep it.

std::vector<uint32_t> read_x11_window_pixels(GLFWwindow* handle, uint32_t width, uint32_t height);
// Rows of 0xRRGGBB.

bool wait_for_window_focus(GLFWwindow* handle);
// Polls until the window has the keyboard focus, asking for it now and then (there is no
// window manager to give it); false when it has not got it by the tests' deadline.
