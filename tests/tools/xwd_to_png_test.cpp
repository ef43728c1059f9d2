// The screenshot converter of `make run`: Xvfb at each depth a screen may have, windows of
// known colours on its root, the dump xwd takes of it turned into a PNG, and the PNG read
// back pixel by pixel against what the X server says the screen shows.
#include "tests/ui/x_session.h"

#include <stb/stb_image.h>
#include <stdlib.h>

#include <filesystem>

namespace {

// Runs a program to its end; its exit status, or -1.
int run(const std::vector<std::string>& argv, const std::string& display) {
    int status = -1;
    pid_t pid = spawn(argv, display, nullptr);
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(XwdToPng, TheScreenOfEveryDepthComesOutAsTheServerShowsIt) {
    char pattern[] = "/tmp/quarn-xwd-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string directory = pattern;
    // True colour of 24 and 16 bits a pixel, and a colour map of 8 bits.
    for (const char* screen : {"64x48x24", "64x48x16", "64x48x8"}) {
        SCOPED_TRACE(screen);
        X_Session s;
        ASSERT_TRUE(s.start_xvfb(screen)) << "Xvfb did not start";
        Window root = DefaultRootWindow(s.x);
        Colormap colours = DefaultColormap(s.x, DefaultScreen(s.x));
        struct Box { int x, y, width, height; unsigned short r, g, b; };
        const Box boxes[] = {{3, 4, 20, 10, 0xFFFF, 0x8000, 0}, {30, 20, 25, 20, 0x2000, 0xC000, 0xE000}};
        for (const Box& box : boxes) {
            XColor colour = {0, box.r, box.g, box.b, DoRed | DoGreen | DoBlue, 0};
            ASSERT_TRUE(XAllocColor(s.x, colours, &colour));
            Window w = XCreateSimpleWindow(s.x, root, box.x, box.y, box.width, box.height, 0, 0, colour.pixel);
            XMapWindow(s.x, w);
        }
        XSync(s.x, False);

        std::string dump = directory + "/screen.xwd", png = directory + "/screen.png";
        ASSERT_EQ(run({"xwd", "-root", "-silent", "-out", dump}, s.display), 0);
        ASSERT_EQ(run({QUARN_PYTHON, QUARN_XWD_TO_PNG, dump, png}, ""), 0);
        int width = 0, height = 0, channels = 0;
        unsigned char* pixels = stbi_load(png.c_str(), &width, &height, &channels, 3);
        ASSERT_NE(pixels, nullptr) << stbi_failure_reason();
        EXPECT_EQ(width, 64);
        EXPECT_EQ(height, 48);

        // What the server shows, as the colours it gives for each pixel value.
        XImage* image = XGetImage(s.x, root, 0, 0, 64, 48, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        std::vector<XColor> shown(64 * 48);
        for (int i = 0; i < 64 * 48; i++) shown[i].pixel = XGetPixel(image, i % 64, i / 64);
        XDestroyImage(image);
        XQueryColors(s.x, colours, shown.data(), (int)shown.size());
        int wrong = 0;
        for (int i = 0; i < 64 * 48 && width == 64 && height == 48; i++) {
            const unsigned char* p = pixels + 3 * i;
            wrong += abs(p[0] - (shown[i].red >> 8)) > 1 || abs(p[1] - (shown[i].green >> 8)) > 1 ||
                     abs(p[2] - (shown[i].blue >> 8)) > 1;
        }
        EXPECT_EQ(wrong, 0);
        const unsigned char* orange = pixels + 3 * (8 * 64 + 10);  // inside the first box
        EXPECT_GT(orange[0], 240);
        EXPECT_LT(orange[2], 16);
        stbi_image_free(pixels);
    }
    std::filesystem::remove_all(directory);
}
