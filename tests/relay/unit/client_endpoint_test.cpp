#include "relay/client_endpoint.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A client socket (the relay's end) and the peer the test reads from.
struct Connection {
    int fds[2] = {-1, -1};
    Connection() {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        int small = 4096;
        setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    }
    ~Connection() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    int relay_end() const { return fds[0]; }
    // Everything available now, without waiting.
    std::string drain() {
        std::string got;
        char buf[65536];
        for (;;) {
            ssize_t n = recv(fds[1], buf, sizeof(buf), MSG_DONTWAIT);
            if (n <= 0) return got;
            got.append(buf, n);
        }
    }
    void fill_relay_side() {
        char junk[4096] = {};
        while (send(fds[0], junk, sizeof(junk), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
        }
        ASSERT_EQ(errno, EAGAIN);
    }
};

ClientState with_client(int fd) {
    ClientState client;
    memset(&client, 0, sizeof(client));
    client.listen_fd = -1;
    client.client_fd = fd;
    return client;
}

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(SendToClient, HeaderAloneFirstThenTheRecord) {
    Connection c;
    ClientState client = with_client(c.relay_end());
    send_to_client(&client);
    EXPECT_EQ(client.header_sent, 1);
    EXPECT_EQ(c.drain(), std::string(HTTP_RESPONSE_HEADER, 116));
    // With the header out and nothing pending, nothing more goes out.
    send_to_client(&client);
    EXPECT_EQ(c.drain(), "");

    std::vector<uint8_t> record(100, 0x5A);
    client.picture_buf = record.data();
    client.pending_len = record.size();
    send_to_client(&client);
    EXPECT_EQ(c.drain(), std::string(100, 0x5A));
    EXPECT_EQ(client.sent_count, 1);
    EXPECT_EQ(client.pending_len, 0u);
    EXPECT_EQ(client.send_offset, 0u);
    client.picture_buf = nullptr;
    drop_client(&client);
    c.fds[0] = -1;  // closed by drop_client
}

TEST(SendToClient, HeaderThatDoesNotGoOutWholeDropsTheClient) {
    Connection c;
    c.fill_relay_side();
    ClientState client = with_client(c.relay_end());
    client.sent_count = 3;
    testing::internal::CaptureStderr();
    send_to_client(&client);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(client.client_fd, -1);
    EXPECT_EQ(client.header_sent, 0);
    EXPECT_EQ(client.sent_count, 3);
    EXPECT_FALSE(is_open(c.fds[0]));
    c.fds[0] = -1;
}

TEST(SendToClient, PartialSendsResumeWhereTheyStopped) {
    Connection c;
    ClientState client = with_client(c.relay_end());
    send_to_client(&client);
    ASSERT_EQ(c.drain().size(), 116u);
    std::vector<uint8_t> record(1 << 20);
    for (size_t i = 0; i < record.size(); i++) record[i] = static_cast<uint8_t>(i * 31 + 7);
    client.picture_buf = record.data();
    client.pending_len = record.size();
    std::string got;
    int calls = 0;
    while (client.pending_len != 0 && calls < 100000) {
        send_to_client(&client);
        calls++;
        if (client.pending_len != 0) {
            EXPECT_GT(client.send_offset, got.size());
            EXPECT_LT(client.send_offset, record.size());
            EXPECT_EQ(client.sent_count, 0);
        }
        got += c.drain();
    }
    got += c.drain();
    EXPECT_GT(calls, 1) << "the socket never pushed back";
    EXPECT_EQ(client.sent_count, 1);
    EXPECT_EQ(client.send_offset, 0u);
    ASSERT_EQ(got.size(), record.size());
    EXPECT_EQ(memcmp(got.data(), record.data(), record.size()), 0);
    client.picture_buf = nullptr;
    drop_client(&client);
    c.fds[0] = -1;
}

TEST(SendToClient, GonePeerDropsTheClientWithoutSignal) {
    Connection c;
    ClientState client = with_client(c.relay_end());
    send_to_client(&client);
    close(c.fds[1]);
    c.fds[1] = -1;
    std::vector<uint8_t> record(1000, 1);
    client.picture_buf = record.data();
    client.pending_len = record.size();
    client.send_offset = 10;
    // SIGPIPE is not ignored here: only MSG_NOSIGNAL keeps the test alive.
    send_to_client(&client);
    EXPECT_EQ(client.client_fd, -1);
    EXPECT_EQ(client.pending_len, 0u);
    EXPECT_EQ(client.send_offset, 0u);
    EXPECT_EQ(client.sent_count, 0);
    EXPECT_EQ(client.picture_buf, record.data()) << "the buffer serves the next client";
    c.fds[0] = -1;
}

TEST(DropClient, WithoutClientChangesNothing) {
    ClientState client = with_client(-1);
    client.decoded_count = 4;
    client.picture_cap = 22;
    drop_client(&client);
    send_to_client(&client);
    EXPECT_EQ(client.client_fd, -1);
    EXPECT_EQ(client.decoded_count, 4);
    EXPECT_EQ(client.picture_cap, 22u);
}

}  // namespace
