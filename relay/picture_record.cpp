#include "relay/picture_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/pixfmt.h>
}

static void put_le32(uint8_t *out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

static void write_picture_header(uint8_t *out, const PictureHeader &header) {
    put_le32(out, header.magic);
    put_le32(out + 4, header.width);
    put_le32(out + 8, header.height);
    put_le32(out + 12, header.sequence);
}

static uint8_t *copy_plane(uint8_t *out, const uint8_t *plane, int linesize,
                           int row_bytes, int rows) {
    for (int r = 0; r < rows; r++) {
        memcpy(out, plane + static_cast<int64_t>(r) * linesize, row_bytes);
        out += row_bytes;
    }
    return out;
}

bool pack_picture(ClientState *client, AVFrame *frame) {
    if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) {
        fprintf(stderr, "only 8-bit 4:2:0 pictures (got format %d)\n", frame->format);
        av_frame_unref(frame);
        return false;
    }
    int w = frame->width;
    int h = frame->height;
    if (w < 1 || w > MAX_PICTURE_WIDTH || h < 1 || h > MAX_PICTURE_HEIGHT ||
        w % 2 != 0 || h % 2 != 0) {
        fprintf(stderr, "picture size %dx%d not handled\n", w, h);
        av_frame_unref(frame);
        return false;
    }
    client->decoded_count += 1;
    if (client->client_fd < 0 || !client->header_sent) return true;
    if (client->pending_len != 0) {
        client->dropped_count += 1;
        return true;
    }
    size_t size = PICTURE_HEADER_SIZE + static_cast<size_t>(w) * h +
                  static_cast<size_t>(h / 2) * w;
    if (size > client->picture_cap) {
        uint8_t *grown = static_cast<uint8_t *>(realloc(client->picture_buf, size));
        if (!grown) {
            fwrite("out of memory\n", 1, 14, stderr);
            av_frame_unref(frame);
            return false;
        }
        client->picture_buf = grown;
        client->picture_cap = size;
    }
    PictureHeader header = {PICTURE_MAGIC, static_cast<uint32_t>(w),
                            static_cast<uint32_t>(h),
                            static_cast<uint32_t>(client->decoded_count)};
    write_picture_header(client->picture_buf, header);
    uint8_t *out = client->picture_buf + PICTURE_HEADER_SIZE;
    out = copy_plane(out, frame->data[0], frame->linesize[0], w, h);
    out = copy_plane(out, frame->data[1], frame->linesize[1], w / 2, h / 2);
    copy_plane(out, frame->data[2], frame->linesize[2], w / 2, h / 2);
    client->send_offset = 0;
    client->pending_len = size;
    return true;
}
