// Converts a PNG picture to a JPEG file with skarvel's own image library, so
// that the bundled example's JPEG is made by nothing but this project.
// generate_example.py builds and runs it (see there):
//
//   png_to_jpeg input.png output.jpg

#include <cerrno>
#include <cstdio>

#include "image/image.h"
#include "image/image_file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: png_to_jpeg input.png output.jpg\n");
    return 2;
  }
  skarvel::Image image;
  if (!skarvel::Image_ReadFile(argv[1], "RGBA", image)) {
    std::fprintf(stderr, "png_to_jpeg: cannot read %s (errno = %d)\n", argv[1], errno);
    return 1;
  }
  if (!skarvel::Image_WriteFile(argv[2], "RGBA", image.pixels.bytes(), image.width, image.height,
                                image.stride)) {
    std::fprintf(stderr, "png_to_jpeg: cannot write %s (errno = %d)\n", argv[2], errno);
    return 1;
  }
  return 0;
}
