#include "relay/decode_chunk.h"

#include <cstdio>
#include <cstring>

#include "relay/picture_record.h"

bool open_decoder(Decoder *decoder) {
    decoder->codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    decoder->parser = av_parser_init(AV_CODEC_ID_H264);
    decoder->codec_ctx = decoder->codec ? avcodec_alloc_context3(decoder->codec) : nullptr;
    decoder->packet = av_packet_alloc();
    decoder->frame = av_frame_alloc();
    if (!decoder->codec || !decoder->parser || !decoder->codec_ctx ||
        !decoder->packet || !decoder->frame) {
        fwrite("no H.264 decoder\n", 1, 17, stderr);
        return false;
    }
    decoder->codec_ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    decoder->codec_ctx->thread_count = 1;
    // Larger pictures are refused inside the decoder, before any allocation.
    decoder->codec_ctx->max_pixels = MAX_PICTURE_PIXELS;
    if (avcodec_open2(decoder->codec_ctx, decoder->codec, nullptr) < 0) {
        fwrite("can't open the decoder\n", 1, 23, stderr);
        return false;
    }
    return true;
}

// Drains the decoder after one packet. Returns false when the pass failed.
static bool receive_pictures(Decoder *decoder, uint64_t *bytes_without_packet,
                             ClientState *client) {
    for (;;) {
        int ret = avcodec_receive_frame(decoder->codec_ctx, decoder->frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF || ret == AVERROR_INVALIDDATA) {
            *bytes_without_packet = 0;
            return true;
        }
        if (ret < 0) return false;
        if (!pack_picture(client, decoder->frame)) return false;
        av_frame_unref(decoder->frame);
    }
}

ChunkResult decode_chunk(Decoder *decoder, uint8_t *data, int n,
                         uint64_t *bytes_without_packet, ClientState *client) {
    memset(data + n, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    *bytes_without_packet += static_cast<uint64_t>(n);
    if (*bytes_without_packet > MAX_BYTES_WITHOUT_PACKET) {
        fwrite("no picture in the last 4 MB of the stream\n", 1, 42, stderr);
        return CHUNK_REFUSED;
    }
    const uint8_t *in = data;
    int len = n;
    while (len > 0) {
        uint8_t *out = nullptr;
        int out_size = 0;
        int ret = av_parser_parse2(decoder->parser, decoder->codec_ctx, &out, &out_size,
                                   in, len, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (ret < 0) return CHUNK_FAILED;
        // A parser that neither moves on nor gives a packet would spin here
        // for ever; the H.264 parser never does, so treat it as a failure.
        if (ret == 0 && out_size == 0) return CHUNK_FAILED;
        if (out_size >= 1) {
            decoder->packet->data = out;
            decoder->packet->size = out_size;
            int sent = avcodec_send_packet(decoder->codec_ctx, decoder->packet);
            if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR_INVALIDDATA)
                return CHUNK_FAILED;
            if (!receive_pictures(decoder, bytes_without_packet, client))
                return CHUNK_FAILED;
        }
        in += ret;
        len -= ret;
    }
    return CHUNK_USED;
}

void close_decoder(Decoder *decoder) {
    av_parser_close(decoder->parser);
    av_frame_free(&decoder->frame);
    av_packet_free(&decoder->packet);
    avcodec_free_context(&decoder->codec_ctx);
}
