// The output side of the relay: one client at a time, one record in flight.
#pragma once

#include <cstddef>
#include <cstdint>

struct ClientState {
    int listen_fd;
    int client_fd;         // -1 when no client is connected
    int header_sent;       // 1 once the whole response header went out
    uint8_t *picture_buf;  // the one record buffer; survives clients
    size_t pending_len;    // 0 when nothing is pending
    size_t picture_cap;    // grown, never shrunk
    size_t send_offset;    // bytes of the pending record already sent
    int64_t decoded_count;
    int64_t sent_count;
    int64_t dropped_count;
};

constexpr int CLIENT_SEND_BUFFER_SIZE = 262144;

// The body is the rest of the connection: records back to back, no framing.
constexpr char HTTP_RESPONSE_HEADER[] =
    "HTTP/1.0 200 OK\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Cache-Control: no-store\r\n"
    "\r\n";
constexpr size_t HTTP_RESPONSE_HEADER_SIZE = sizeof(HTTP_RESPONSE_HEADER) - 1;
static_assert(HTTP_RESPONSE_HEADER_SIZE == 116, "response header size");

// Takes one waiting connection; a newcomer while a client is served is closed.
void accept_client(ClientState *client);
// Sends what is due without blocking: the header, then the pending record.
void send_to_client(ClientState *client);
// Closes the client; a pending record is discarded, the counters stay.
void drop_client(ClientState *client);
