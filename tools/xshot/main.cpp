// xshot: saves an X window (or the whole screen) as a PNG file, for the
// screenshots of the documentation; a part of it with X Y WIDTH HEIGHT.
// Usage: xshot WINDOW-ID|root OUT.png [X Y WIDTH HEIGHT]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 7) {
        std::fprintf(stderr, "usage: xshot WINDOW-ID|root OUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xshot: no display\n");
        return 1;
    }
    const std::string which = argv[1];
    ::Window window = which == "root" ? DefaultRootWindow(display)
                                      : static_cast<::Window>(std::strtoul(argv[1], nullptr, 0));
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        std::fprintf(stderr, "xshot: no such window\n");
        return 1;
    }
    int x0 = 0, y0 = 0;
    if (argc == 7) {
        x0 = std::max(0, std::atoi(argv[3]));
        y0 = std::max(0, std::atoi(argv[4]));
        attributes.width = std::min(std::atoi(argv[5]), attributes.width - x0);
        attributes.height = std::min(std::atoi(argv[6]), attributes.height - y0);
    }
    XImage* image =
        XGetImage(display, window, x0, y0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "xshot: cannot read the window\n");
        return 1;
    }
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "xshot: cannot write %s\n", argv[2]);
        return 1;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, attributes.width, attributes.height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(attributes.width) * 3);
    for (int y = 0; y < attributes.height; ++y) {
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            row[x * 3 + 0] = static_cast<png_byte>((pixel & image->red_mask) >> 16);
            row[x * 3 + 1] = static_cast<png_byte>((pixel & image->green_mask) >> 8);
            row[x * 3 + 2] = static_cast<png_byte>(pixel & image->blue_mask);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    XDestroyImage(image);
    XCloseDisplay(display);
    return 0;
}
