// An H.264 byte stream, cut into chunks, through the relay's decode_chunk and
// pack_picture with a fresh decoder, as the poll loop would feed it. The first
// byte picks the chunk size, whether the client takes each record before the
// next chunk, and whether the 4 MiB count starts near its limit.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "relay/client_endpoint.h"
#include "relay/decode_chunk.h"
#include "relay/picture_record.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int READ_CHUNK_SIZE = 65536;
// Never used for a system call here: only its sign tells that a client is on.
constexpr int SOME_CLIENT_FD = 1000;

uint32_t le32(const uint8_t *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The record a client would receive next: a header and three packed planes.
void check_pending_record(const ClientState &client, uint32_t *last_sequence) {
    if (client.pending_len == 0) return;
    if (client.pending_len > client.picture_cap || client.send_offset != 0)
        fuzz_fail("pending record beyond the buffer or already sent from");
    const uint8_t *r = client.picture_buf;
    const uint32_t w = le32(r + 4), h = le32(r + 8), sequence = le32(r + 12);
    if (le32(r) != PICTURE_MAGIC) fuzz_fail("record without its magic");
    if (w < 2 || w > 1920 || h < 2 || h > 1080 || w % 2 || h % 2)
        fuzz_fail("record of a size the relay refuses");
    if (client.pending_len != PICTURE_HEADER_SIZE + static_cast<size_t>(w) * h * 3 / 2)
        fuzz_fail("record length is not its header's size");
    // The count of pictures decoded, this one included: it never goes back.
    if (sequence == 0 || sequence < *last_sequence ||
        sequence > static_cast<uint64_t>(client.decoded_count))
        fuzz_fail("record sequence out of order");
    *last_sequence = sequence;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    const int chunk = 1 << (mode % 17);  // 1 to 65536 bytes a read
    const bool client_keeps_up = (mode & 0x20) != 0;
    data += 1;
    size -= 1;

    Decoder decoder;
    if (!open_decoder(&decoder)) fuzz_fail("decoder set-up failed");
    // Exactly a read and its padding, so a write past them is caught.
    uint8_t *read_buf =
        static_cast<uint8_t *>(malloc(READ_CHUNK_SIZE + AV_INPUT_BUFFER_PADDING_SIZE));
    ClientState client;
    memset(&client, 0, sizeof(client));
    client.listen_fd = -1;
    client.client_fd = SOME_CLIENT_FD;
    client.header_sent = 1;
    uint64_t bytes_without_packet =
        (mode & 0x40) ? MAX_BYTES_WITHOUT_PACKET - static_cast<uint64_t>(chunk) + (mode >> 7) : 0;
    uint32_t last_sequence = 0;

    for (size_t at = 0; at < size;) {
        const int n = static_cast<int>(size - at < static_cast<size_t>(chunk) ? size - at : chunk);
        memcpy(read_buf, data + at, n);
        // Whatever a previous read left behind the data must not reach the parser.
        memset(read_buf + n, 0xA5, AV_INPUT_BUFFER_PADDING_SIZE);
        at += n;
        const uint64_t before = bytes_without_packet;
        const int64_t decoded_before = client.decoded_count;
        const ChunkResult result =
            decode_chunk(&decoder, read_buf, n, &bytes_without_packet, &client);
        const bool over = before + n > MAX_BYTES_WITHOUT_PACKET;
        if ((result == CHUNK_REFUSED) != over) fuzz_fail("4 MiB rule misapplied");
        if (result == CHUNK_REFUSED) {
            if (client.decoded_count != decoded_before) fuzz_fail("refused chunk was decoded");
            break;
        }
        if (result == CHUNK_USED && bytes_without_packet != 0 && bytes_without_packet != before + n)
            fuzz_fail("count without a packet is neither reset nor grown by the chunk");
        if (client.decoded_count < decoded_before ||
            client.dropped_count > client.decoded_count)
            fuzz_fail("counters out of step");
        check_pending_record(client, &last_sequence);
        if (result == CHUNK_FAILED) break;
        if (client_keeps_up && client.pending_len != 0) {
            client.pending_len = 0;
            client.sent_count += 1;
        }
    }

    close_decoder(&decoder);
    free(read_buf);
    free(client.picture_buf);
    return 0;
}
