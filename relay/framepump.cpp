// framepump: relays a local H.264 stream as raw pictures to one local client.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "relay/client_endpoint.h"
#include "relay/command_line.h"
#include "relay/decode_chunk.h"

constexpr int LISTEN_BACKLOG = 2;
constexpr int CONNECT_ATTEMPTS = 100;
constexpr long CONNECT_RETRY_DELAY_MS = 100;
constexpr int READ_CHUNK_SIZE = 65536;
constexpr int POLL_TIMEOUT_MS = 1000;
constexpr double STATS_INTERVAL_S = 5.0;
constexpr int EXIT_USAGE = 2;

static volatile sig_atomic_t stop_requested = 0;

static void on_stop_signal(int) { stop_requested = 1; }

// Sockets must never take the numbers of the standard streams: had whoever
// started us closed one, statistics, end lines and FFmpeg's log lines would go
// into a socket, the client's picture stream among them. While the lower
// numbers are open, open gives the one that is missing.
static void open_standard_descriptors() {
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
}

static sockaddr_in loopback_address(int port) {
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

static bool open_listen_socket(int output_port, ClientState *client) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    int one = 1;
    // A restart must not wait for the connections of the last run to close.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address = loopback_address(output_port);
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        listen(fd, LISTEN_BACKLOG) != 0) {
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    memset(client, 0, sizeof(*client));
    client->listen_fd = fd;
    client->client_fd = -1;
    return true;
}

// One connection attempt; fd is left blocking when it succeeds. The connect
// itself is non-blocking and its completion is awaited in ppoll, which lets a
// stop signal through, so that a stop also ends an attempt that a source which
// never accepts would leave hanging.
static bool connect_once(int fd, const sockaddr_in &address, const sigset_t &wait_mask) {
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        if (errno != EINPROGRESS) return false;
        pollfd connecting = {fd, POLLOUT, 0};
        if (ppoll(&connecting, 1, nullptr, &wait_mask) != 1) return false;
        int error = 0;
        socklen_t error_size = sizeof(error);
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &error_size) != 0 || error != 0)
            return false;
    }
    fcntl(fd, F_SETFL, flags);
    return true;
}

// Returns the connected, blocking socket, or -1 after the last attempt or a
// stop request.
static int connect_input(int input_port, const sigset_t &wait_mask) {
    sockaddr_in address = loopback_address(input_port);
    for (int attempts = CONNECT_ATTEMPTS; attempts > 0; attempts--) {
        if (stop_requested) return -1;
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return -1;
        if (connect_once(fd, address, wait_mask)) return fd;
        close(fd);
        // A stop that cut the attempt short ends it now, not after the pause; one
        // that comes later is held until the pause starts and cuts it short.
        if (stop_requested) return -1;
        timespec pause = {0, CONNECT_RETRY_DELAY_MS * 1000000L};
        ppoll(nullptr, 0, &pause, &wait_mask);
    }
    return -1;
}

static double monotonic_seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_nsec) / 1000000000.0 + static_cast<double>(now.tv_sec);
}

static void report_stats(const ClientState &client, double *last_stats_time) {
    double now = monotonic_seconds();
    if (now - *last_stats_time < STATS_INTERVAL_S) return;
    fprintf(stderr, "decoded %ld, sent %ld, dropped %ld%s\n", client.decoded_count,
            client.sent_count, client.dropped_count,
            client.client_fd >= 0 ? "" : " (no page)");
    *last_stats_time = now;
}

int main(int argc, char **argv) {
    open_standard_descriptors();
    int input_port, output_port;
    if (!parse_command_line(argc, argv, &input_port, &output_port)) {
        fputs("usage: framepump [--input PORT] [--output PORT]\n", stderr);
        return EXIT_USAGE;
    }

    struct sigaction stop_action;
    memset(&stop_action, 0, sizeof(stop_action));
    stop_action.sa_handler = on_stop_signal;
    sigemptyset(&stop_action.sa_mask);
    // No SA_RESTART: a stop signal must cut the waits short.
    stop_action.sa_flags = 0;
    sigaction(SIGINT, &stop_action, nullptr);
    sigaction(SIGTERM, &stop_action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A stop that landed between a test of the flag and the wait after it would
    // go unseen for the whole wait. So the stop signals stay blocked, and every
    // wait is a ppoll that unblocks them atomically with the mask from before:
    // a stop is either delivered inside a wait, cutting it short, or held
    // pending until the next wait starts or the loop's next pass lets it in.
    sigset_t stop_signals, wait_mask;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop_signals, &wait_mask);

    ClientState client;
    if (!open_listen_socket(output_port, &client)) {
        fprintf(stderr, "can't listen on 127.0.0.1:%d\n", output_port);
        return EXIT_FAILURE;
    }
    int input_fd = connect_input(input_port, wait_mask);
    if (input_fd < 0) {
        fprintf(stderr, "can't reach the stream on 127.0.0.1:%d\n", input_port);
        return EXIT_FAILURE;
    }
    Decoder decoder;
    if (!open_decoder(&decoder)) return EXIT_FAILURE;
    fprintf(stderr, "ready: reading 127.0.0.1:%d, pictures on 127.0.0.1:%d\n", input_port,
            output_port);
    uint8_t *read_buf =
        static_cast<uint8_t *>(malloc(READ_CHUNK_SIZE + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!read_buf) return EXIT_FAILURE;

    double last_stats_time = monotonic_seconds();
    bool failed = false;
    uint64_t bytes_without_packet = 0;
    const timespec poll_timeout = {POLL_TIMEOUT_MS / 1000, POLL_TIMEOUT_MS % 1000 * 1000000L};
    pollfd poll_fds[3];
    for (;;) {
        // ppoll lets a held stop through only when it has to wait, and a relay
        // whose input is always ready may never wait: so each pass opens the
        // mask for a moment before it tests the flag.
        sigprocmask(SIG_SETMASK, &wait_mask, nullptr);
        sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
        if (stop_requested) break;
        poll_fds[0] = {input_fd, POLLIN, 0};
        poll_fds[1] = {client.listen_fd, POLLIN, 0};
        // An idle client stays in the set with no events so that its error or
        // hang-up still shows.
        short client_events = (!client.header_sent || client.pending_len != 0) ? POLLOUT : 0;
        poll_fds[2] = {client.client_fd, client_events, 0};
        nfds_t nfds = client.client_fd >= 0 ? 3 : 2;
        int rc = ppoll(poll_fds, nfds, &poll_timeout, &wait_mask);
        if (rc < 0 && errno != EINTR) break;
        if (rc > 0) {
            if (poll_fds[1].revents & POLLIN) accept_client(&client);
            if (client.client_fd >= 0 && (poll_fds[2].revents & (POLLERR | POLLHUP)))
                drop_client(&client);
            send_to_client(&client);
            if (poll_fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
                ssize_t n = read(input_fd, read_buf, READ_CHUNK_SIZE);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                ChunkResult result = decode_chunk(&decoder, read_buf, static_cast<int>(n),
                                                  &bytes_without_packet, &client);
                if (result == CHUNK_REFUSED) {
                    failed = true;
                    break;
                }
                send_to_client(&client);
                if (result == CHUNK_FAILED) {
                    report_stats(client, &last_stats_time);
                    failed = true;
                    break;
                }
            }
        }
        report_stats(client, &last_stats_time);
    }

    fprintf(stderr, "end: decoded %ld, sent %ld, dropped %ld%s\n", client.decoded_count,
            client.sent_count, client.dropped_count, failed ? " (error)" : "");
    if (client.client_fd >= 0) close(client.client_fd);
    close(client.listen_fd);
    close(input_fd);
    close_decoder(&decoder);
    free(read_buf);
    free(client.picture_buf);
    return failed ? EXIT_FAILURE : EXIT_SUCCESS;
}
