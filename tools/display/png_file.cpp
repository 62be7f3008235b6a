#include "tools/display/png_file.h"

#include <png.h>

std::string WritePng(const Picture& picture, const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width;
    image.height = picture.height;
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, picture.rgb.data(), 0, nullptr) == 0) {
        std::string message = path + ": cannot write the picture (" + image.message + ")";
        png_image_free(&image);
        return message;
    }
    return "";
}
