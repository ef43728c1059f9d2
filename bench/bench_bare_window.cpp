// The least a program can do to show a frame as the editor does: GLFW, a window of the
// editor's size with the editor's OpenGL context, one frame cleared to the colour of the
// editor's top bar, then nothing until it is asked to close. bench_startup times it beside
// the editor.

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

typedef void (*Clear_Colour)(float, float, float, float);
typedef void (*Clear)(unsigned int);

int main() {
    if (!glfwInit()) return 1;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 5);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_MAXIMIZED, GLFW_TRUE);
    GLFWwindow* window = glfwCreateWindow(800, 600, "Quarn bare window", nullptr, nullptr);
    if (!window) return 1;
    glfwMakeContextCurrent(window);
    Clear_Colour clear_colour = (Clear_Colour)glfwGetProcAddress("glClearColor");
    Clear clear = (Clear)glfwGetProcAddress("glClear");
    // The top bar's colour as the editor's sRGB output writes it (3, 39, 66).
    clear_colour(3 / 255.0f, 39 / 255.0f, 66 / 255.0f, 1);
    clear(0x4000);  // GL_COLOR_BUFFER_BIT
    glfwSwapBuffers(window);
    while (!glfwWindowShouldClose(window)) glfwWaitEvents();
    glfwTerminate();
    return 0;
}
