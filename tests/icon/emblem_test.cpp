#include <gtest/gtest.h>
#include <windows.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "icon/decoders.h"
#include "icon/emblem.h"
#include "picture_builder.h"
#include "support.h"

static const char k_refused[] = "ERROR: game emblem picture not understood";

// --- building pictures ----------------------------------------------------------------------
enum { COLOR_256 = 4, COLOR_64 = 11, BRUN = 15, COPY = 16 };

// An FLI sub-chunk; its size counts its 6-byte header.
static std::string sub(unsigned type, const std::string &data) { return le32s(6 + data.size()) + le16s(type) + data; }

// 128-byte header and one frame of sub-chunks, the frame right behind the header.
static std::string fli(int w, int h, const std::vector<std::string> &subs, unsigned magic = 0xAF11) {
    std::string body;
    for (const std::string &s : subs) body += s;
    std::string frame = le32s(16 + body.size()) + le16s(0xF1FA) + le16s(subs.size()) + std::string(8, 0) + body;
    std::string head(128, 0);
    put32(&head, 0, 128 + frame.size());
    put16(&head, 4, magic);
    put16(&head, 8, w);
    put16(&head, 10, h);
    return head + frame;
}

// Entries 0-3 dark (i, 0, 0), 4-255 visible (i, 200, 100): a pixel's red is its index.
static std::string lit_palette() {
    std::string p;
    for (int i = 0; i < 256; i++) p += i < 4 ? bytes({i, 0, 0}) : bytes({i, 200, 100});
    return p;
}
static std::string lit_colours() { return sub(COLOR_256, le16s(1) + bytes({0, 0}) + lit_palette()); }

// Every entry visible, red = index: the pixels give the indices back.
static std::string all_lit_cmap() {
    std::string p;
    for (int i = 0; i < 256; i++) p += bytes({i, 200, 100});
    return ichunk("CMAP", p);
}

// --- decoding --------------------------------------------------------------------------------
struct decoded {
    int ok;
    std::vector<std::string> log;
    std::vector<std::string> rows;  // the index picture, width bytes per row
    std::string palette;
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

static decoded decode(const std::string &file) {
    decoded d;
    log_capture log;
    // The exact size on the heap: nothing after the picture's bytes to lean on.
    std::vector<uint8_t> data(file.begin(), file.end());
    emblem_indexed ix;
    emblem_picture pic = {0, 0, nullptr};
    d.ok = emblem_decode_indexed(data.data(), data.size(), &ix, &pic);
    d.log = log.lines();
    if (!d.ok) {
        EXPECT_EQ(pic.pixels, nullptr);
        EXPECT_EQ(ix.index, nullptr);
        return d;
    }
    for (int y = 0; y < ix.height; y++) d.rows.push_back(std::string((char *)ix.index + y * ix.stride, ix.width));
    d.palette.assign((char *)ix.palette, sizeof ix.palette);
    d.width = pic.width;
    d.height = pic.height;
    d.pixels.assign(pic.pixels, pic.pixels + (size_t)pic.width * pic.height);
    free(pic.pixels);
    return d;
}

static uint32_t colour_of(const decoded &d, uint8_t index) {
    const uint8_t *rgb = (const uint8_t *)d.palette.data() + 3 * index;
    return rgb[0] + rgb[1] + rgb[2] < 60 ? 0 : 0xFF000000u | rgb[0] << 16 | rgb[1] << 8 | rgb[2];
}

// An unstretched picture must be its index picture through the palette, pixel for pixel.
static void expect_plain_render(const decoded &d) {
    ASSERT_EQ(d.height, (int)d.rows.size());
    for (int y = 0; y < d.height; y++)
        for (int x = 0; x < d.width; x++)
            ASSERT_EQ(d.pixels[y * d.width + x], colour_of(d, d.rows[y][x])) << "x=" << x << " y=" << y;
}

// --- refusals --------------------------------------------------------------------------------
TEST(emblem_decode, refusals_are_logged_once) {
    std::string good = fli(2, 1, {lit_colours(), sub(COPY, bytes({20, 21}))});
    std::string magic13 = good, magic10 = good, w0 = good, w2049 = good, h0 = good, h2049 = good;
    put16(&magic13, 4, 0xAF13);
    put16(&magic10, 4, 0xAF10);
    put16(&w0, 8, 0);
    put16(&w2049, 8, 2049);
    put16(&h0, 10, 0);
    put16(&h2049, 10, 2049);
    std::string no_subs = good;
    put16(&no_subs, 128 + 6, 0);
    std::string pbm_good = pbm(bmhd(2, 1, 0) + all_lit_cmap() + ichunk("BODY", bytes({1, 2})));
    std::string form_short = pbm_good, form_wraps = pbm_good;
    form_short.replace(4, 4, be32s(11));  // limit 19
    form_wraps.replace(4, 4, be32s(0xFFFFFFF8));
    struct {
        const char *name;
        std::string file;
    } cases[] = {
        {"11_bytes", std::string(11, 'F')},
        {"100_bytes_not_pbm", std::string(100, 0)},
        {"fli_143_bytes", good.substr(0, 143)},
        {"magic_af13", magic13},
        {"magic_af10", magic10},
        {"width_0", w0},
        {"width_2049", w2049},
        {"height_0", h0},
        {"height_2049", h2049},
        {"no_sub_chunks", no_subs},
        {"only_dark_entries", fli(2, 1, {sub(BRUN, bytes({1, 2, 5}))})},
        {"pbm_without_cmap", pbm(bmhd(2, 1, 0) + ichunk("BODY", bytes({1, 2})))},
        {"pbm_without_body", pbm(bmhd(2, 1, 0) + all_lit_cmap())},
        {"pbm_without_bmhd", pbm(all_lit_cmap() + ichunk("BODY", bytes({1, 2})))},
        {"pbm_width_0", pbm(bmhd(0, 1, 0) + all_lit_cmap() + ichunk("BODY", bytes({1, 2})))},
        {"pbm_height_0", pbm(bmhd(2, 0, 0) + all_lit_cmap() + ichunk("BODY", bytes({1, 2})))},
        {"pbm_limit_19", form_short},
        {"pbm_form_length_wraps", form_wraps},
        {"pbm_width_2049", pbm(bmhd(2049, 1, 0) + all_lit_cmap() + ichunk("BODY", ""))},
        {"pbm_height_2049", pbm(bmhd(1, 2049, 0) + all_lit_cmap() + ichunk("BODY", ""))},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        decoded d = decode(c.file);
        EXPECT_EQ(d.ok, 0);
        EXPECT_EQ(d.log, std::vector<std::string>{k_refused});
    }
    decoded d = decode(good);  // the file the FLI rows change
    EXPECT_EQ(d.ok, 1);
    EXPECT_TRUE(d.log.empty());
    EXPECT_EQ(decode(pbm_good).ok, 1);
}

TEST(emblem_decode, public_entry_point) {
    log_capture log;
    std::string f = fli(3, 2, {lit_colours(), sub(COPY, bytes({0, 0, 0, 20, 30, 0}))});
    emblem_picture pic = {0, 0, nullptr};
    ASSERT_EQ(emblem_decode((const uint8_t *)f.data(), f.size(), &pic), 1);
    EXPECT_EQ(pic.width, 3);
    EXPECT_EQ(pic.height, 1);
    std::vector<uint32_t> px(pic.pixels, pic.pixels + 3);
    EXPECT_EQ(px, (std::vector<uint32_t>{0xFF14C864, 0xFF1EC864, 0}));
    free(pic.pixels);
    emblem_picture untouched = {7, 7, nullptr};
    EXPECT_EQ(emblem_decode((const uint8_t *)f.data(), 11, &untouched), 0);
    EXPECT_EQ(untouched.pixels, nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string>{k_refused});
}

TEST(emblem_decode, sizes_at_the_limits) {
    struct {
        const char *name;
        std::string file;
        int width, height;
    } cases[] = {
        {"fli_magic_af11", fli(1, 1, {lit_colours(), sub(COPY, bytes({20}))}, 0xAF11), 1, 1},
        {"flc_magic_af12", fli(1, 1, {lit_colours(), sub(COPY, bytes({20}))}, 0xAF12), 1, 1},
        {"fli_2048_square", fli(2048, 2048, {lit_colours(), sub(COPY, std::string(2048 * 2048, 20))}), 2048, 2458},
        {"pbm_2048_square", pbm(bmhd(2048, 2048, 0) + all_lit_cmap() + ichunk("BODY", "")), 2048, 2048},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        decoded d = decode(c.file);
        EXPECT_EQ(d.ok, 1);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
    }
}

// --- the colour rule -------------------------------------------------------------------------
TEST(emblem_colour, threshold_at_60) {
    EXPECT_EQ(emblem_colour((const uint8_t *)"\x0A\x14\x1D"), 0u);
    EXPECT_EQ(emblem_colour((const uint8_t *)"\x0A\x14\x1E"), 0xFF0A141Eu);
    EXPECT_EQ(emblem_colour((const uint8_t *)"\xFF\xFF\xFF"), 0xFFFFFFFFu);
    EXPECT_EQ(emblem_colour((const uint8_t *)"\0\0\0"), 0u);
}

// --- PBM -------------------------------------------------------------------------------------
TEST(pbm_decode, bodies) {
    std::string cm = all_lit_cmap();
    struct {
        const char *name;
        std::string chunks;
        std::vector<std::string> rows;
    } cases[] = {
        {"byterun1_example", bmhd(6, 1, 1) + cm + ichunk("BODY", bytes({2, 10, 11, 12, 0xFE, 7, 0x80})),
         {bytes({10, 11, 12, 7, 7, 7})}},
        {"byterun1_stops_at_the_picture_end", bmhd(2, 1, 1) + cm + ichunk("BODY", bytes({0xFD, 5, 1, 9, 9})),
         {bytes({5, 5})}},
        {"byterun1_runs_on_into_the_next_row", bmhd(2, 2, 1) + cm + ichunk("BODY", bytes({0xFE, 9, 0, 4})),
         {bytes({9, 9}), bytes({9, 4})}},
        {"byterun1_body_runs_out", bmhd(4, 2, 1) + cm + ichunk("BODY", bytes({1, 3, 4})),
         {bytes({3, 4, 0, 0}), bytes({0, 0, 0, 0})}},
        {"byterun1_literal_cut_by_body", bmhd(4, 1, 1) + cm + ichunk("BODY", bytes({5, 1, 2})),
         {bytes({1, 2, 0, 0})}},
        {"byterun1_128_writes_nothing", bmhd(3, 1, 1) + cm + ichunk("BODY", bytes({0x80, 0x80, 0, 6})),
         {bytes({6, 0, 0})}},
        {"byterun1_width_5_drops_the_sixth", bmhd(5, 2, 1) + cm +
                                                 ichunk("BODY", bytes({5, 1, 2, 3, 4, 5, 99, 0xFB, 7})),
         {bytes({1, 2, 3, 4, 5}), bytes({7, 7, 7, 7, 7})}},
        {"stored_width_5_drops_the_sixth", bmhd(5, 2, 0) + cm + ichunk("BODY", bytes({1, 2, 3, 4, 5, 99, 6, 7, 8, 9, 10, 99})),
         {bytes({1, 2, 3, 4, 5}), bytes({6, 7, 8, 9, 10})}},
        {"compression_2_is_stored", bmhd(2, 1, 2) + cm + ichunk("BODY", bytes({0xFF, 3})), {bytes({0xFF, 3})}},
        {"stored_short_body", bmhd(2, 2, 0) + cm + ichunk("BODY", bytes({1, 2, 3})), {bytes({1, 2}), bytes({3, 0})}},
        {"stored_long_body", bmhd(2, 1, 0) + cm + ichunk("BODY", bytes({1, 2, 3, 4})), {bytes({1, 2})}},
        {"empty_body", bmhd(2, 1, 1) + cm + ichunk("BODY", ""), {bytes({0, 0})}},
        {"later_bmhd_wins", bmhd(3, 3, 1) + cm + bmhd(2, 1, 0) + ichunk("BODY", bytes({0xFE, 8})),
         {bytes({0xFE, 8})}},
        {"later_body_wins", bmhd(2, 1, 0) + cm + ichunk("BODY", bytes({1, 1})) + ichunk("BODY", bytes({2, 3})),
         {bytes({2, 3})}},
        {"unknown_chunks_skipped", bmhd(2, 1, 0) + ichunk("CRNG", bytes({1, 2, 3})) + cm + ichunk("DPPS", "x") +
                                       ichunk("BODY", bytes({4, 5})),
         {bytes({4, 5})}},
        {"no_band_cut", bmhd(1, 3, 0) + ichunk("CMAP", std::string(60, 0) + bytes({20, 200, 100})) +
                            ichunk("BODY", bytes({0, 0, 20, 0, 0, 0})),
         {bytes({0}), bytes({20}), bytes({0})}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        decoded d = decode(pbm(c.chunks));
        ASSERT_EQ(d.ok, 1);
        EXPECT_EQ(d.rows, c.rows);
        EXPECT_EQ(d.width, (int)c.rows[0].size());
        expect_plain_render(d);
    }
}

TEST(pbm_decode, reads_stay_inside_the_file) {
    // Each picture ends in the middle of something its headers promise.
    std::string head = bmhd(4, 1, 1) + all_lit_cmap();
    std::string body_past_end = pbm(head + "BODY" + be32s(1000) + bytes({0xFE, 6, 0, 2}));
    std::string repeat_at_end = pbm(head + "BODY" + be32s(3) + bytes({0, 9, 0xFE}));
    std::string stored_past_end = pbm(bmhd(4, 1, 0) + all_lit_cmap() + "BODY" + be32s(1000) + bytes({1, 2, 3}));
    std::string cmap_past_end = pbm(bmhd(2, 1, 0) + ichunk("BODY", bytes({0, 1})) + "CMAP" + be32s(768) +
                                    bytes({10, 10, 10, 50, 60}));
    std::string bmhd_cut = pbm(all_lit_cmap() + ichunk("BODY", bytes({7})) + "BMHD" + be32s(20) + be16s(1) + bytes({0}));
    struct {
        const char *name;
        std::string file;
        int ok;
        std::vector<std::string> rows;
    } cases[] = {
        {"byterun1_body_longer_than_file", body_past_end, 1, {bytes({6, 6, 6, 2})}},
        {"byterun1_repeat_control_is_last_byte", repeat_at_end, 1, {bytes({9, 0, 0, 0})}},
        {"stored_body_longer_than_file", stored_past_end, 1, {bytes({1, 2, 3, 0})}},
        {"cmap_longer_than_file", cmap_past_end, 1, {bytes({0, 1})}},
        {"bmhd_height_missing", bmhd_cut, 0, {}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        decoded d = decode(c.file);
        ASSERT_EQ(d.ok, c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(d.rows, c.rows);
        expect_plain_render(d);
    }
    decoded d = decode(cmap_past_end);
    EXPECT_EQ(d.palette.substr(0, 6), bytes({10, 10, 10, 50, 60, 0}));
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0, 0xFF323C00}));
}

TEST(pbm_decode, all_dark_decodes_to_transparent) {
    std::string cmap = ichunk("CMAP", bytes({0, 0, 0, 10, 20, 29}));
    decoded d = decode(pbm(bmhd(3, 2, 0) + cmap + ichunk("BODY", bytes({0, 1, 0, 9, 1, 1, 0, 0}))));
    ASSERT_EQ(d.ok, 1);
    EXPECT_EQ(d.width, 3);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(6, 0));
}

// --- FLI/FLC ---------------------------------------------------------------------------------
// The index picture of a frame after the lit palette; the band cut is checked on its own.
TEST(fli_decode, pixel_chunks) {
    std::string c = lit_colours();
    struct {
        const char *name;
        int w, h;
        std::vector<std::string> subs;
        std::vector<std::string> rows;
    } cases[] = {
        {"brun_example", 5, 1, {c, sub(BRUN, bytes({3, 2, 5, 0xFE, 7, 8, 0xFF, 9}))}, {bytes({5, 5, 7, 8, 9})}},
        {"brun_rows_follow", 2, 2, {c, sub(BRUN, bytes({1, 2, 25, 1, 0xFE, 26, 27}))}, {bytes({25, 25}), bytes({26, 27})}},
        {"brun_repeat_stops_at_row_end", 3, 2, {c, sub(BRUN, bytes({1, 9, 20, 1, 1, 30}))}, {bytes({20, 20, 20}), bytes({30, 0, 0})}},
        {"brun_count_0_skips_its_byte", 2, 1, {c, sub(BRUN, bytes({0, 0, 99, 1, 20}))}, {bytes({20, 0})}},
        {"brun_literal_cut_by_chunk_end", 4, 1, {c, sub(BRUN, bytes({0, 0xFC, 20, 21}))}, {bytes({20, 21, 0, 0})}},
        // Copying stops at the row's end; the next row starts right after the last byte copied.
        {"brun_literal_past_row_end", 2, 2, {c, sub(BRUN, bytes({0, 0xFD, 20, 21, 3, 1, 22}))}, {bytes({20, 21}), bytes({22, 0})}},
        {"brun_line_without_packets_ends_chunk", 1, 2, {c, sub(BRUN, bytes({0, 1, 20, 7}))}, {bytes({20}), bytes({0})}},
        {"brun_empty", 1, 1, {c, sub(BRUN, ""), sub(COPY, bytes({20}))}, {bytes({20})}},
        {"copy", 3, 2, {c, sub(COPY, bytes({20, 21, 22, 23, 24, 25}))}, {bytes({20, 21, 22}), bytes({23, 24, 25})}},
        {"copy_long", 2, 1, {c, sub(COPY, bytes({20, 21, 22, 23}))}, {bytes({20, 21})}},
        {"copy_short", 2, 2, {c, sub(COPY, bytes({20, 21, 22}))}, {bytes({20, 21}), bytes({22, 0})}},
        {"later_chunk_draws_over", 2, 1, {c, sub(COPY, bytes({20, 21})), sub(BRUN, bytes({1, 1, 30}))}, {bytes({30, 21})}},
        {"unknown_types_skipped", 2, 1, {sub(18, bytes({1, 2, 3})), c, sub(7, bytes({0, 0, 1, 0})), sub(COPY, bytes({20, 21}))},
         {bytes({20, 21})}},
    };
    for (auto &t : cases) {
        SCOPED_TRACE(t.name);
        decoded d = decode(fli(t.w, t.h, t.subs));
        ASSERT_EQ(d.ok, 1);
        EXPECT_EQ(d.rows, t.rows);
    }
}

TEST(fli_decode, walk_limits) {
    std::string c = lit_colours();
    std::string copy = sub(COPY, bytes({20, 21}));
    std::string brun = sub(BRUN, bytes({1, 2, 30}));
    std::string count1 = fli(2, 1, {c, copy, brun});
    put16(&count1, 128 + 6, 2);  // the colours and the copy
    std::string frame_end = fli(2, 1, {c, copy, brun});
    put32(&frame_end, 128, 16 + c.size() + copy.size());  // the BRUN starts at the frame's end
    std::string beyond_end = fli(2, 1, {c, copy, brun});
    put32(&beyond_end, 128, 16 + c.size() + copy.size() + 1);  // it starts inside: it is read
    // A sub-chunk size below 6 makes the walk revisit bytes; only the count ends it.
    std::string tiny = fli(2, 1, {c, copy, le32s(0) + le16s(BRUN)});
    put16(&tiny, 128 + 6, 60000);
    // Entry 0 made visible: the frame that stays all 0 is still decoded.
    std::string c0 = sub(COLOR_256, le16s(1) + bytes({0, 1, 90, 90, 90}));
    std::string copy_size_4 = fli(2, 1, {c0, le32s(4) + le16s(COPY) + bytes({20, 21})});
    std::string brun_past_file = fli(2, 1, {c, le32s(1000) + le16s(BRUN) + bytes({0, 2, 22})});
    std::string brun_repeat_last = fli(2, 1, {c, copy, le32s(8) + le16s(BRUN) + bytes({1, 1})});
    brun_repeat_last += bytes({25});  // past the chunk, inside the file: the repeat's byte
    std::string repeat_at_file_end = fli(2, 1, {c, copy, le32s(8) + le16s(BRUN) + bytes({1, 1})});
    struct {
        const char *name;
        std::string file;
        std::vector<std::string> rows;
    } cases[] = {
        {"sub_chunk_count", count1, {bytes({20, 21})}},
        {"frame_end", frame_end, {bytes({20, 21})}},
        {"starts_before_frame_end", beyond_end, {bytes({30, 30})}},
        {"size_0_loops_until_count", tiny, {bytes({20, 21})}},
        {"copy_size_below_header", copy_size_4, {bytes({0, 0})}},
        {"chunk_end_is_file_end", brun_past_file, {bytes({22, 22})}},
        {"repeat_byte_after_chunk", brun_repeat_last, {bytes({25, 21})}},
        {"repeat_byte_past_file", repeat_at_file_end, {bytes({20, 21})}},
    };
    for (auto &t : cases) {
        SCOPED_TRACE(t.name);
        decoded d = decode(t.file);
        ASSERT_EQ(d.ok, 1);
        EXPECT_EQ(d.rows, t.rows);
    }
}

static std::string rgb(int r, int g, int b) { return bytes({r, g, b}); }

TEST(fli_decode, colour_chunks) {
    std::string all64;
    for (int i = 0; i < 256; i++) all64 += rgb(i % 64, 32, 1);
    std::string pal64 = sub(COLOR_64, le16s(1) + bytes({0, 0}) + all64);
    std::string two_packets = sub(COLOR_256, le16s(2) + bytes({2, 1}) + rgb(70, 80, 90) + bytes({1, 2}) +
                                                 rgb(1, 2, 3) + rgb(4, 5, 6));
    // The first packet is cut short by the chunk's end: one colour of three.
    std::string cut = sub(COLOR_256, le16s(1) + bytes({5, 3}) + rgb(7, 8, 9) + bytes({1}));
    // Past entry 255 nothing is written, and there is no wrap to entry 0.
    std::string past_255 = sub(COLOR_256, le16s(1) + bytes({254, 3}) + rgb(1, 1, 1) + rgb(2, 2, 2) + rgb(3, 3, 3));
    std::string zero_packets = sub(COLOR_256, le16s(0) + bytes({0, 1}) + rgb(9, 9, 9));
    // A later colour chunk changes only what it names.
    std::string later = sub(COLOR_64, le16s(1) + bytes({3, 1}) + rgb(63, 0, 0));
    struct {
        const char *name;
        std::vector<std::string> subs;
        std::vector<std::pair<int, std::string>> entries;  // entry index, r g b
    } cases[] = {
        {"color64_all_entries", {pal64}, {{0, rgb(0, 130, 4)}, {1, rgb(4, 130, 4)}, {32, rgb(130, 130, 4)}, {63, rgb(255, 130, 4)}, {255, rgb(255, 130, 4)}}},
        {"color256_skips", {two_packets}, {{0, rgb(0, 0, 0)}, {2, rgb(70, 80, 90)}, {3, rgb(0, 0, 0)}, {4, rgb(1, 2, 3)}, {5, rgb(4, 5, 6)}}},
        {"packet_cut_short", {cut}, {{5, rgb(7, 8, 9)}, {6, rgb(0, 0, 0)}}},
        {"stops_after_255", {past_255}, {{254, rgb(1, 1, 1)}, {255, rgb(2, 2, 2)}, {0, rgb(0, 0, 0)}, {1, rgb(0, 0, 0)}}},
        {"no_packets", {zero_packets}, {{0, rgb(0, 0, 0)}, {1, rgb(0, 0, 0)}}},
        {"later_chunk_changes_one", {pal64, later}, {{2, rgb(8, 130, 4)}, {3, rgb(255, 0, 0)}, {4, rgb(16, 130, 4)}}},
    };
    for (auto &t : cases) {
        SCOPED_TRACE(t.name);
        std::vector<std::string> subs = t.subs;
        // Entry 200 is visible in every case: the frame has its visible row.
        subs.insert(subs.begin(), sub(COLOR_256, le16s(1) + bytes({200, 1}) + rgb(90, 90, 90)));
        subs.push_back(sub(COPY, std::string(1, (char)200)));
        decoded d = decode(fli(1, 1, subs));
        ASSERT_EQ(d.ok, 1);
        for (auto &e : t.entries) EXPECT_EQ(d.palette.substr(3 * e.first, 3), e.second) << "entry " << e.first;
    }
    decoded d = decode(fli(1, 1, {pal64, sub(COPY, bytes({63}))}));
    ASSERT_EQ(d.ok, 1);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>{0xFFFF8204});
}

// --- the band and the stretch ----------------------------------------------------------------
TEST(emblem_stretch, integer_forms_equal_the_rounded_ones) {
    for (int n = 1; n <= 2048; n++) {
        int h = emblem_stretched_height(n);
        ASSERT_EQ(h, (int)trunc(n * 1.2 + 0.5)) << n;
        for (int j = 0; j < h; j++) ASSERT_EQ(emblem_source_row(j), (int)trunc(j / 1.2)) << n << " " << j;
        ASSERT_LE(emblem_source_row(h - 1), n - 1) << n;
    }
}

// Listed rows get one visible pixel (index 16 + row % 200); the rest stay 0 but for one dark pixel.
static std::string band_frame(int w, int h, const std::vector<int> &visible_rows) {
    std::string px(w * h, 0);
    for (int y : visible_rows) px[y * w + (y % w)] = (char)(16 + y % 200);
    px[w - 1] = 3;  // dark: does not make row 0 visible
    return fli(w, h, {lit_colours(), sub(COPY, px)});
}
static std::vector<int> span(int a, int b) {
    std::vector<int> v;
    for (int i = a; i < b; i++) v.push_back(i);
    return v;
}
static std::vector<int> join(std::vector<int> a, const std::vector<int> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(emblem_render, band_cut_and_stretch) {
    struct {
        const char *name;
        int w, h;
        std::vector<int> visible;
        int height;
        std::vector<int> source;  // the source row of each output row, checked where given
    } cases[] = {
        {"rows_20_to_179_of_200", 320, 200, span(20, 180), 192, {}},
        {"two_bands_take_the_first", 16, 48, join(span(10, 20), span(30, 40)), 12, {10, 10, 11, 12, 13, 14, 15, 15, 16, 17, 18, 19}},
        {"single_row", 4, 9, {6}, 1, {6}},
        {"three_rows_give_four", 4, 9, span(0, 3), 4, {0, 0, 1, 2}},
        {"every_row", 8, 200, span(0, 200), 240, {}},
        {"last_row", 3, 5, {4}, 1, {4}},
    };
    for (auto &t : cases) {
        SCOPED_TRACE(t.name);
        decoded d = decode(band_frame(t.w, t.h, t.visible));
        ASSERT_EQ(d.ok, 1);
        ASSERT_EQ(d.width, t.w);
        ASSERT_EQ(d.height, t.height);
        int first = t.visible[0];
        for (int j = 0; j < d.height; j++) {
            int y = first + (int)trunc(j / 1.2);
            if (!t.source.empty()) {
                EXPECT_EQ(y, t.source[j]);
            }
            for (int x = 0; x < d.width; x++)
                ASSERT_EQ(d.pixels[j * d.width + x], colour_of(d, d.rows[y][x])) << "x=" << x << " j=" << j;
        }
    }
    // The last of the 192 rows shows source row 179.
    decoded d = decode(band_frame(320, 200, span(20, 180)));
    EXPECT_EQ(d.pixels[191 * 320 + 179 % 320], 0xFF000000u | (16 + 179) << 16 | 200 << 8 | 100);
}

// --- where the first frame is ----------------------------------------------------------------
TEST(fli_decode, first_frame_after_a_prefix_chunk) {
    std::string frame_file = fli(2, 1, {lit_colours(), sub(COPY, bytes({20, 21}))}, 0xAF12);
    std::string prefix = le32s(16) + le16s(0xF100) + le16s(0) + std::string(8, 0);
    std::string with_prefix = frame_file.substr(0, 128) + prefix + frame_file.substr(128);
    std::string long_prefix = frame_file.substr(0, 128) + le32s(40) + le16s(0xF100) + le16s(1) +
                              std::string(8, 0) + sub(3, std::string(18, 0)) + frame_file.substr(128);
    std::string prefix_past_end = with_prefix;
    put32(&prefix_past_end, 128, (uint32_t)with_prefix.size());
    std::string any_type = frame_file;
    put16(&any_type, 132, 0x1234);  // without a prefix chunk the frame's type word is not read
    struct {
        const char *name;
        std::string file;
        int ok;
    } cases[] = {
        {"no_prefix", frame_file, 1},
        {"prefix_16", with_prefix, 1},
        {"prefix_with_settings", long_prefix, 1},
        {"frame_type_not_checked", any_type, 1},
        {"prefix_beyond_file", prefix_past_end, 0},
    };
    for (auto &t : cases) {
        SCOPED_TRACE(t.name);
        decoded d = decode(t.file);
        ASSERT_EQ(d.ok, t.ok);
        if (t.ok) {
            EXPECT_EQ(d.rows, std::vector<std::string>{bytes({20, 21})});
        }
    }
}

// --- real files ------------------------------------------------------------------------------
static void list_files(const std::string &dir, std::vector<std::string> *out) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            list_files(dir + "\\" + name, out);
        else
            out->push_back(dir + "\\" + name);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

TEST(emblem_decode, real_animations) {
    struct {
        const char *name;
        int width, height;
    } cases[] = {
        {"a.fli", 320, 240},
        {"hopper.fli", 128, 154},  // one byte shorter than its header says
        {"hopper_palette_chunk_second.fli", 128, 154},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        decoded d = decode(slurp(fixture((std::string("anim\\pillow\\") + c.name).c_str())));
        ASSERT_EQ(d.ok, 1);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
    }
}

// Every file of the fuzzed set (and the notes beside them) decodes or is refused cleanly. Most
// claim sides over 2048 and stop there, so each is also tried with its sides cut to 2048: then its
// damaged chunks are walked.
TEST(emblem_decode, malformed_animations) {
    std::vector<std::string> files;
    list_files(fixture("anim\\pillow"), &files);
    ASSERT_GE(files.size(), 60u);
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const std::string &f : files) {
        std::string bytes = slurp(f);
        inputs.push_back({f, bytes});
        if (bytes.size() < 12) continue;
        for (size_t at : {8, 10})
            if (((uint8_t)bytes[at] | (uint8_t)bytes[at + 1] << 8) > 2048) put16(&bytes, at, 2048);
        inputs.push_back({f + " (cut to 2048)", bytes});
    }
    int decoded_count = 0;
    for (auto &in : inputs) {
        SCOPED_TRACE(in.first);
        decoded d = decode(in.second);
        if (!d.ok) {
            EXPECT_EQ(d.log, std::vector<std::string>{k_refused});
            continue;
        }
        decoded_count++;
        EXPECT_TRUE(d.log.empty());
        ASSERT_GE(d.width, 1);
        ASSERT_LE(d.width, 2048);
        ASSERT_GE(d.height, 1);
        ASSERT_LE(d.height, 2458);
        for (uint32_t p : d.pixels) ASSERT_TRUE(p == 0 || p >> 24 == 0xFF) << std::hex << p;
    }
    printf("%d of %zu inputs decoded\n", decoded_count, inputs.size());
}
