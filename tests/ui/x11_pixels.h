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

std::vector<uint32_t> read_x11_window_pixels(GLFWwindow* handle, uint32_t width, uint32_t height);
// Rows of 0xRRGGBB.

bool wait_for_window_focus(GLFWwindow* handle);
// Polls until the window has the keyboard focus, asking for it now and then (there is no
// window manager to give it); false after five seconds.
