// The H.264 side of the relay: parser and decoder over chunks of the stream,
// each decoded picture handed to pack_picture.
#pragma once

#include <cstdint>

#include "relay/client_endpoint.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

struct Decoder {
    const AVCodec *codec;
    AVCodecParserContext *parser;
    AVCodecContext *codec_ctx;
    AVPacket *packet;
    AVFrame *frame;
};

constexpr int64_t MAX_PICTURE_PIXELS = 2073600;  // 1920 x 1080
constexpr uint64_t MAX_BYTES_WITHOUT_PACKET = 4194304;

enum ChunkResult {
    CHUNK_USED,     // every byte went to the parser
    CHUNK_FAILED,   // parsing, decoding or a picture failed
    CHUNK_REFUSED,  // too many bytes without a packet; nothing was parsed
};

// Creates the parser and decoder objects and opens the decoder single-threaded
// in low-delay mode. Prints why and returns false on failure; whatever was
// created is left for the end of the process.
bool open_decoder(Decoder *decoder);

// Parses and decodes the n bytes at data, which must have
// AV_INPUT_BUFFER_PADDING_SIZE writable bytes behind them.
// bytes_without_packet carries the 4 MiB rule from chunk to chunk.
ChunkResult decode_chunk(Decoder *decoder, uint8_t *data, int n,
                         uint64_t *bytes_without_packet, ClientState *client);

// Frees the decoder objects, parser first.
void close_decoder(Decoder *decoder);
