// A small .ico file made in memory, for the native and the Windows tests: square 32-bit images of one
// colour each, every one with a clear AND mask. No OS calls.
#ifndef AKSFX_ICON_FIXTURE_H
#define AKSFX_ICON_FIXTURE_H

#include <stdint.h>
#include <vector>

namespace icon_fixture {

struct Image {
    uint32_t size; // width and height in pixels, 1-255
    uint32_t bgra; // the colour of every pixel: 0xAARRGGBB
};

inline void add16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back((uint8_t)x);
    v.push_back((uint8_t)(x >> 8));
}

inline void add32(std::vector<uint8_t>& v, uint32_t x)
{
    add16(v, x & 0xFFFF);
    add16(v, x >> 16);
}

// The bytes of one image: BITMAPINFOHEADER, colour rows, mask rows.
inline std::vector<uint8_t> imageBytes(const Image& image)
{
    const uint32_t w = image.size;
    const uint32_t maskRow = (w + 31) / 32 * 4;
    std::vector<uint8_t> b;
    add32(b, 40);                 // biSize
    add32(b, w);                  // biWidth
    add32(b, 2 * w);              // biHeight: colour and mask rows together
    add16(b, 1);                  // biPlanes
    add16(b, 32);                 // biBitCount
    add32(b, 0);                  // biCompression: BI_RGB
    add32(b, w * w * 4 + w * maskRow); // biSizeImage
    add32(b, 0);                  // biXPelsPerMeter
    add32(b, 0);                  // biYPelsPerMeter
    add32(b, 0);                  // biClrUsed
    add32(b, 0);                  // biClrImportant
    for (uint32_t i = 0; i < w * w; i++)
        add32(b, image.bgra);
    b.resize(b.size() + w * maskRow, 0); // AND mask: every pixel drawn
    return b;
}

// ICONDIR, one ICONDIRENTRY per image, then the images in the same order.
inline std::vector<uint8_t> makeIcon(const std::vector<Image>& images)
{
    std::vector<uint8_t> f;
    add16(f, 0);                          // reserved
    add16(f, 1);                          // type: icon
    add16(f, (uint32_t)images.size());    // count
    uint32_t offset = 6 + 16 * (uint32_t)images.size();
    std::vector<uint8_t> data;
    for (const Image& image : images) {
        std::vector<uint8_t> bytes = imageBytes(image);
        f.push_back((uint8_t)image.size); // width
        f.push_back((uint8_t)image.size); // height
        f.push_back(0);                   // colour count: no palette
        f.push_back(0);                   // reserved
        add16(f, 1);                      // planes
        add16(f, 32);                     // bit count
        add32(f, (uint32_t)bytes.size()); // bytes in image
        add32(f, offset);                 // image offset
        offset += (uint32_t)bytes.size();
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

} // namespace icon_fixture

#endif
