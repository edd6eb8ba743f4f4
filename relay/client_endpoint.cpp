#include "relay/client_endpoint.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

void accept_client(ClientState *client) {
    int fd = accept(client->listen_fd, nullptr, nullptr);
    if (fd < 0) return;
    if (client->client_fd >= 0) {
        close(fd);
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    int send_buffer = CLIENT_SEND_BUFFER_SIZE;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof(send_buffer));
    client->client_fd = fd;
    client->header_sent = 0;
    client->send_offset = 0;
    client->pending_len = 0;
}

void drop_client(ClientState *client) {
    if (client->client_fd >= 0) close(client->client_fd);
    client->client_fd = -1;
    client->header_sent = 0;
    client->send_offset = 0;
    client->pending_len = 0;
}

void send_to_client(ClientState *client) {
    if (client->client_fd < 0) return;
    if (!client->header_sent) {
        // A fresh socket takes 116 bytes at once; one that doesn't is not worth
        // a resumable header.
        ssize_t n = send(client->client_fd, HTTP_RESPONSE_HEADER,
                         HTTP_RESPONSE_HEADER_SIZE, MSG_NOSIGNAL);
        if (n != static_cast<ssize_t>(HTTP_RESPONSE_HEADER_SIZE)) {
            drop_client(client);
            return;
        }
        client->header_sent = 1;
    }
    for (;;) {
        if (client->send_offset >= client->pending_len) {
            if (client->pending_len != 0 &&
                client->send_offset == client->pending_len) {
                client->sent_count += 1;
                client->send_offset = 0;
                client->pending_len = 0;
            }
            return;
        }
        ssize_t n = send(client->client_fd,
                         client->picture_buf + client->send_offset,
                         client->pending_len - client->send_offset, MSG_NOSIGNAL);
        if (n >= 1) {
            client->send_offset += static_cast<size_t>(n);
        } else if (n == 0) {
            drop_client(client);
            return;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN) {
            return;  // the loop waits for POLLOUT
        } else {
            drop_client(client);
            return;
        }
    }
}
