// PictureRecord: a PictureHeader of four little-endian 32-bit words, then the
// Y, U and V planes with rows packed without padding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "relay/client_endpoint.h"

extern "C" {
#include <libavutil/frame.h>
}

struct PictureHeader {
    uint32_t magic;
    uint32_t width;
    uint32_t height;
    uint32_t sequence;  // low 32 bits of decoded_count, this picture included
};

// "FPV1" as a little-endian word: the first letter is the lowest byte.
constexpr uint32_t PICTURE_MAGIC = 0x31565046;
constexpr size_t PICTURE_HEADER_SIZE = 16;
constexpr int MAX_PICTURE_WIDTH = 1920;
constexpr int MAX_PICTURE_HEIGHT = 1080;

// Tests and counts the picture in frame and packs it into the client's record
// buffer when the client is ready for it (counted as dropped while a record is
// pending). Returns false after printing why the run cannot go on; the frame
// is then already unreferenced, otherwise the caller unreferences it.
bool pack_picture(ClientState *client, AVFrame *frame);
