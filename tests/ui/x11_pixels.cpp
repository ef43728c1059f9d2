// Reads a window's pixels from the X server. A file of its own: Xlib's headers name types
// Font and Glyph, as Quarn's do.
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

#include <stdint.h>

#include <vector>

std::vector<uint32_t> read_x11_window_pixels(GLFWwindow* handle, uint32_t width, uint32_t height) {
    Display* display = glfwGetX11Display();
    XSync(display, False);
    std::vector<uint32_t> pixels((uint64_t)width * height);
    XImage* image = XGetImage(display, glfwGetX11Window(handle), 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++) pixels[(uint64_t)y * width + x] = (uint32_t)XGetPixel(image, (int)x, (int)y);
    }
    XDestroyImage(image);
    return pixels;
}
