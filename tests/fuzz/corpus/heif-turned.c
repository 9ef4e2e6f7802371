/* Writes a small HEIC whose picture the file itself turns (irot) and mirrors (imir) as the EXIF
 * orientation given (1 to 8) says: heif-enc writes no such boxes.
 *   heif-turned OUTPUT.heic ORIENTATION */
#include <libheif/heif.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const int width = 24, height = 16;
    struct heif_image* image = NULL;
    if (heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code ||
        heif_image_add_plane(image, heif_channel_interleaved, width, height, 8).code)
        return 1;
    int stride = 0;
    uint8_t* pixels = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = pixels + y * stride + x * 3;
            p[0] = (uint8_t)(x * 10);
            p[1] = (uint8_t)(y * 15);
            p[2] = x < width / 2 ? 200 : 40;
        }
    struct heif_context* context = heif_context_alloc();
    struct heif_encoder* encoder = NULL;
    struct heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = (enum heif_orientation)atoi(argv[2]);
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code ||
        heif_context_encode_image(context, image, encoder, options, NULL).code ||
        heif_context_write_to_file(context, argv[1]).code)
        return 1;
    heif_encoder_release(encoder);
    heif_encoding_options_free(options);
    heif_context_free(context);
    heif_image_release(image);
    return 0;
}
