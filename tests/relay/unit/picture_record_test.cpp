#include "relay/picture_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

struct FrameFixture {
    AVFrame *frame = av_frame_alloc();
    ~FrameFixture() { av_frame_free(&frame); }

    // A picture whose every byte tells its plane, row and column, in buffers
    // whose rows are padded past the width.
    void fill(int format, int w, int h) {
        frame->format = format;
        frame->width = w;
        frame->height = h;
        ASSERT_EQ(av_frame_get_buffer(frame, 64), 0);
        for (int p = 0; p < 3; p++) {
            int pw = p ? w / 2 : w, ph = p ? h / 2 : h;
            for (int r = 0; r < ph; r++)
                for (int c = 0; c < frame->linesize[p]; c++)
                    frame->data[p][r * frame->linesize[p] + c] =
                        c < pw ? static_cast<uint8_t>(p * 80 + r * 7 + c) : 0xEE;
        }
    }
};

ClientState ready_client() {
    ClientState client;
    memset(&client, 0, sizeof(client));
    client.listen_fd = -1;
    client.client_fd = 100;  // pack_picture makes no call on it
    client.header_sent = 1;
    return client;
}

uint32_t le32(const uint8_t *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

TEST(PackPicture, RecordLayout) {
    struct Case { int w, h; size_t size; };
    for (Case c : {Case{2, 2, 22}, Case{6, 4, 52}, Case{1920, 1080, 3110416}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        FrameFixture f;
        f.fill(AV_PIX_FMT_YUV420P, c.w, c.h);
        ClientState client = ready_client();
        client.decoded_count = 6;
        ASSERT_TRUE(pack_picture(&client, f.frame));
        ASSERT_EQ(client.pending_len, c.size);
        EXPECT_EQ(client.picture_cap, c.size);
        EXPECT_EQ(client.send_offset, 0u);
        const uint8_t *rec = client.picture_buf;
        EXPECT_EQ(memcmp(rec, "FPV1", 4), 0);
        EXPECT_EQ(le32(rec + 4), static_cast<uint32_t>(c.w));
        EXPECT_EQ(le32(rec + 8), static_cast<uint32_t>(c.h));
        EXPECT_EQ(le32(rec + 12), 7u);
        // Rows packed back to back, none of the line padding.
        size_t pos = 16;
        for (int p = 0; p < 3; p++) {
            int pw = p ? c.w / 2 : c.w, ph = p ? c.h / 2 : c.h;
            if (p == 1) {
                EXPECT_EQ(pos, 16 + static_cast<size_t>(c.w) * c.h);
            }
            for (int r = 0; r < ph; r++)
                for (int col = 0; col < pw; col++, pos++)
                    ASSERT_EQ(rec[pos], static_cast<uint8_t>(p * 80 + r * 7 + col))
                        << "plane " << p << " row " << r << " column " << col;
        }
        EXPECT_EQ(pos, c.size);
        free(client.picture_buf);
    }
}

TEST(PackPicture, FullRangeGivesTheSameRecord) {
    FrameFixture limited, full;
    limited.fill(AV_PIX_FMT_YUV420P, 8, 6);
    full.fill(AV_PIX_FMT_YUVJ420P, 8, 6);
    ClientState a = ready_client(), b = ready_client();
    ASSERT_TRUE(pack_picture(&a, limited.frame));
    ASSERT_TRUE(pack_picture(&b, full.frame));
    ASSERT_EQ(a.pending_len, b.pending_len);
    EXPECT_EQ(memcmp(a.picture_buf, b.picture_buf, a.pending_len), 0);
    free(a.picture_buf);
    free(b.picture_buf);
}

TEST(PackPicture, RefusedPicturesFailUncountedWithTheirMessage) {
    struct Case { int format, w, h; std::string message; };
    const Case cases[] = {
        {AV_PIX_FMT_YUV422P, 4, 4, "only 8-bit 4:2:0 pictures (got format 4)\n"},
        {AV_PIX_FMT_YUV420P10LE, 4, 4,
         "only 8-bit 4:2:0 pictures (got format " + std::to_string(AV_PIX_FMT_YUV420P10LE) +
             ")\n"},
        {AV_PIX_FMT_YUV420P, 3, 2, "picture size 3x2 not handled\n"},
        {AV_PIX_FMT_YUV420P, 2, 3, "picture size 2x3 not handled\n"},
        {AV_PIX_FMT_YUV420P, 1922, 2, "picture size 1922x2 not handled\n"},
        {AV_PIX_FMT_YUV420P, 2, 1082, "picture size 2x1082 not handled\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        FrameFixture f;
        f.fill(c.format, c.w, c.h);
        ClientState client = ready_client();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(pack_picture(&client, f.frame));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(client.decoded_count, 0);
        EXPECT_EQ(client.pending_len, 0u);
        EXPECT_EQ(f.frame->buf[0], nullptr) << "the frame was not unreferenced";
    }
}

TEST(PackPicture, EmptyPictureIsRefused) {
    FrameFixture f;
    f.frame->format = AV_PIX_FMT_YUV420P;  // no buffers, zero size
    ClientState client = ready_client();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(pack_picture(&client, f.frame));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "picture size 0x0 not handled\n");
}

TEST(PackPicture, ClientStatesDecideBetweenPackedCountedAndDropped) {
    FrameFixture f;
    f.fill(AV_PIX_FMT_YUV420P, 4, 4);

    ClientState none = ready_client();
    none.client_fd = -1;
    none.header_sent = 0;
    EXPECT_TRUE(pack_picture(&none, f.frame));
    EXPECT_EQ(none.decoded_count, 1);
    EXPECT_EQ(none.dropped_count, 0);
    EXPECT_EQ(none.pending_len, 0u);
    EXPECT_EQ(none.picture_buf, nullptr);

    ClientState greeting = ready_client();
    greeting.header_sent = 0;
    EXPECT_TRUE(pack_picture(&greeting, f.frame));
    EXPECT_EQ(greeting.decoded_count, 1);
    EXPECT_EQ(greeting.pending_len, 0u);

    ClientState busy = ready_client();
    ASSERT_TRUE(pack_picture(&busy, f.frame));
    std::vector<uint8_t> first(busy.picture_buf, busy.picture_buf + busy.pending_len);
    busy.send_offset = 5;
    FrameFixture other;
    other.fill(AV_PIX_FMT_YUV420P, 2, 2);
    EXPECT_TRUE(pack_picture(&busy, other.frame));
    EXPECT_EQ(busy.decoded_count, 2);
    EXPECT_EQ(busy.dropped_count, 1);
    EXPECT_EQ(busy.send_offset, 5u);
    ASSERT_EQ(busy.pending_len, first.size());
    EXPECT_EQ(memcmp(busy.picture_buf, first.data(), first.size()), 0);
    free(busy.picture_buf);
}

TEST(PackPicture, SmallerPictureReusesTheBuffer) {
    FrameFixture big, small;
    big.fill(AV_PIX_FMT_YUV420P, 64, 48);
    small.fill(AV_PIX_FMT_YUV420P, 2, 2);
    ClientState client = ready_client();
    ASSERT_TRUE(pack_picture(&client, big.frame));
    uint8_t *buffer = client.picture_buf;
    size_t cap = client.picture_cap;
    client.pending_len = 0;
    ASSERT_TRUE(pack_picture(&client, small.frame));
    EXPECT_EQ(client.picture_buf, buffer);
    EXPECT_EQ(client.picture_cap, cap);
    EXPECT_EQ(client.pending_len, 22u);
    EXPECT_EQ(le32(client.picture_buf + 12), 2u);
    free(client.picture_buf);
}

}  // namespace
