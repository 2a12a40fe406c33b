#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "apps/remote/src/rfb/decode.hpp"
#include "tests/apps/remote/rfb/wire.hpp"

namespace {

using remote::rfb::Framebuffer;
using remote::rfb::kClientPixelFormat;
using remote::rfb::MemoryStream;
using remote::rfb::PixelFormat;
using rfb_test::rgba;
using rfb_test::Wire;

remote::rfb::Result<std::uint16_t> apply(Framebuffer& fb, const Wire& w, const PixelFormat& f = kClientPixelFormat) {
  MemoryStream in(w.bytes);
  return remote::rfb::read_framebuffer_update(in, fb, f);
}

std::string error_of(const remote::rfb::Result<std::uint16_t>& r) { return r ? "<ok>" : r.error().message; }

// Paints a distinct colour at every pixel through one Raw update.
void paint_pattern(Framebuffer& fb) {
  Wire w;
  w.update(1).rect(0, 0, fb.width(), fb.height(), 0);
  for (int y = 0; y < fb.height(); ++y)
    for (int x = 0; x < fb.width(); ++x) w.pixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7);
  ASSERT_TRUE(apply(fb, w));
}

TEST(RfbFramebuffer, NewIsTransparentBlackAndReadsOutsideGiveZero) {
  Framebuffer fb(1, 1);
  ASSERT_EQ(fb.pixels().size(), 4u);
  for (auto b : fb.pixels()) EXPECT_EQ(b, 0);
  EXPECT_EQ(fb.generation(), 0u);
  EXPECT_EQ(fb.pixel(1, 0), 0u);
  EXPECT_EQ(fb.pixel(0, 1), 0u);
  fb.set_pixel(0, 0, 0xFF112233);
  EXPECT_EQ(fb.pixel(0, 0), 0xFF112233u);
  // Stored in Cairo's layout: B, G, R, A.
  EXPECT_EQ(fb.pixels()[0], 0x11);
  EXPECT_EQ(fb.pixels()[2], 0x33);
  EXPECT_EQ(fb.pixels()[3], 0xFF);
  fb.set_pixel(5, 5, 1);  // outside: dropped
}

TEST(RfbFramebuffer, OversizedHasNoStorage) {
  Framebuffer fb(4097, 4096);
  EXPECT_TRUE(fb.pixels().empty());
  fb.set_pixel(0, 0, 1);
  EXPECT_EQ(fb.pixel(0, 0), 0u);
  // Every encoding is still read and the update applied, but nothing is drawn.
  Wire w;
  w.update(3).rect(0, 0, 2, 1, 0).pixel(1, 2, 3).pixel(4, 5, 6);
  w.rect(0, 0, 2, 2, 1).u16(1).u16(1);
  w.rect(0, 0, 4, 4, 2).u32(1).pixel(7, 7, 7).pixel(8, 8, 8).u16(1).u16(1).u16(2).u16(2);
  ASSERT_TRUE(apply(fb, w));
  EXPECT_EQ(fb.generation(), 1u);
  EXPECT_TRUE(fb.pixels().empty());
}

TEST(RfbFramebuffer, SharedBufferIsNeverWrittenAndMakeUniqueCopies) {
  Framebuffer fb(2, 1);
  fb.set_pixel(0, 0, rgba(1, 2, 3));
  const Framebuffer published = fb;
  fb.set_pixel(0, 0, rgba(9, 9, 9));  // refused while shared
  EXPECT_EQ(fb.pixel(0, 0), rgba(1, 2, 3));
  fb.make_unique();
  fb.set_pixel(0, 0, rgba(9, 9, 9));
  EXPECT_EQ(fb.pixel(0, 0), rgba(9, 9, 9));
  EXPECT_EQ(published.pixel(0, 0), rgba(1, 2, 3));
}

// Random Raw, CopyRect and RRE updates, partly off screen.
Wire random_update(std::mt19937& rng, std::uint16_t w, std::uint16_t h) {
  auto coord = [&](std::uint16_t size) { return static_cast<std::uint16_t>(rng() % (size + 8)); };
  auto extent = [&](std::uint16_t size) { return static_cast<std::uint16_t>(1 + rng() % size); };
  Wire u;
  const int rects = 1 + static_cast<int>(rng() % 4);
  u.update(static_cast<std::uint16_t>(rects));
  for (int i = 0; i < rects; ++i) {
    const std::uint16_t x = coord(w), y = coord(h), rw = extent(w), rh = extent(h);
    switch (rng() % 3) {
      case 0:
        u.rect(x, y, rw, rh, 0);
        for (int p = 0; p < rw * rh; ++p)
          u.pixel(static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), 1);
        break;
      case 1: u.rect(x, y, rw, rh, 1).u16(coord(w)).u16(coord(h)); break;
      default:
        u.rect(x, y, rw, rh, 2).u32(2).pixel(9, 9, static_cast<std::uint8_t>(rng()));
        for (int k = 0; k < 2; ++k) {
          u.pixel(static_cast<std::uint8_t>(rng()), 3, 3).u16(coord(w)).u16(coord(h)).u16(extent(w)).u16(extent(h));
        }
    }
  }
  return u;
}

TEST(RfbFramebuffer, RecyclingGivesTheSamePicturesAsCopying) {
  // The worker's framebuffer recycles the buffers of frames the slot and the
  // UI let go of; a plain one copies. Both must see the same pictures, and
  // no frame once handed out may change.
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    Framebuffer recycled(23, 17), plain(23, 17);
    recycled.enable_recycling();
    std::optional<Framebuffer> slot, ui, ui_old;
    std::vector<std::uint8_t> ui_pixels;
    for (int step = 0; step < 60; ++step) {
      const Wire u = random_update(rng, 23, 17);
      ASSERT_TRUE(apply(recycled, u)) << seed << "/" << step;
      ASSERT_TRUE(apply(plain, u));
      ASSERT_TRUE(std::equal(recycled.pixels().begin(), recycled.pixels().end(), plain.pixels().begin()))
          << "seed " << seed << " step " << step;
      if (ui) {
        ASSERT_TRUE(std::equal(ui->pixels().begin(), ui->pixels().end(), ui_pixels.begin()));
      }
      slot = recycled;  // the frame slot always holds the newest
      switch (rng() % 4) {
        case 0:  // the painter takes the newest
          ui_old = std::move(ui);
          ui = slot;
          ui_pixels.assign(ui->pixels().begin(), ui->pixels().end());
          break;
        case 1:  // and lets go of the older
          ui_old.reset();
          break;
        default:  // paints what it has
          break;
      }
    }
  }
}

// A Raw rectangle of one colour per pixel, varied by `seed`.
Wire& raw_rect(Wire& w, std::uint16_t x, std::uint16_t y, std::uint16_t rw, std::uint16_t rh, std::uint8_t seed) {
  w.rect(x, y, rw, rh, 0);
  for (int r = 0; r < rh; ++r)
    for (int c = 0; c < rw; ++c) w.pixel(static_cast<std::uint8_t>(c + seed), static_cast<std::uint8_t>(r * 3), seed);
  return w;
}

TEST(RfbFramebuffer, SkippedCopiesGiveTheSamePicturesAndHeldFramesNeverChange) {
  // The worker copies only what an update does not overwrite before it reads
  // it; a framebuffer nobody shares is written in place and is the reference.
  // Each case runs three ways: the UI holding every frame (so each update
  // starts from a copy), holding the one before the newest (so the recycled
  // buffer lags two updates), and letting go (so it lags one).
  constexpr std::uint16_t W = 40, H = 30;
  Wire full1, full2, rows, tile, rre_screen, rre_part, scroll_up, scroll_down, sideways, off_screen, moved_twice,
      right_over_new, truncated;
  raw_rect(full1.update(1), 0, 0, W, H, 1);
  raw_rect(full2.update(1), 0, 0, W, H, 2);
  raw_rect(rows.update(1), 0, 7, W, 5, 3);
  raw_rect(tile.update(2), 3, 4, 6, 5, 4).rect(30, 20, 9, 9, 2).u32(0).pixel(7, 7, 7);
  rre_screen.update(1).rect(0, 0, W, H, 2).u32(2).pixel(1, 2, 3);
  rre_screen.pixel(9, 8, 7).u16(2).u16(2).u16(5).u16(5).pixel(6, 5, 4).u16(35).u16(25).u16(20).u16(20);
  rre_part.update(1).rect(10, 10, 8, 6, 2).u32(1).pixel(40, 50, 60).pixel(70, 80, 90).u16(5).u16(4).u16(9).u16(9);
  scroll_up.update(2).rect(0, 0, W, H - 3, 1).u16(0).u16(3);
  raw_rect(scroll_up, 0, H - 3, W, 3, 5);
  scroll_down.update(1).rect(2, 5, 30, 20, 1).u16(2).u16(1);
  sideways.update(1).rect(0, 4, 35, 10, 1).u16(5).u16(4);
  off_screen.update(1).rect(0, 0, 12, 12, 1).u16(32).u16(22);
  // A tile, then a move that reads it and the area behind it.
  raw_rect(moved_twice.update(3), 14, 14, 4, 4, 6).rect(12, 0, 20, 20, 1).u16(10).u16(12);
  moved_twice.rect(0, 1, W, H - 1, 1).u16(0).u16(0);
  // A move to the right within the same rows, over a tile the update just drew.
  raw_rect(right_over_new.update(2), 4, 3, 6, 6, 8).rect(8, 2, 30, 12, 1).u16(2).u16(2);
  raw_rect(truncated.update(2), 20, 0, 10, 10, 7).rect(0, 0, W, H, 0).pixel(1, 1, 1);
  struct Case {
    const char* name;
    std::vector<const Wire*> updates;
    bool last_fails;
  } cases[] = {
      {"full-screen Raw", {&full1, &full2, &full1}, false},
      {"full-width rows, then tiles", {&full1, &rows, &tile, &rows}, false},
      {"RRE over the screen and past a rectangle", {&full1, &rre_screen, &rre_part, &full2, &rre_part}, false},
      {"scroll up with a new line", {&full1, &scroll_up, &scroll_up, &tile, &scroll_up}, false},
      {"CopyRect down, sideways and off screen",
       {&full2, &tile, &scroll_down, &sideways, &off_screen, &sideways},
       false},
      {"CopyRect reading what the same update wrote",
       {&full1, &rows, &moved_twice, &right_over_new, &moved_twice},
       false},
      {"an update that fails part way", {&full1, &rows, &truncated}, true},
  };
  for (const auto& c : cases) {
    for (const std::size_t ui_keeps : {std::size_t{100}, std::size_t{2}, std::size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", UI keeps " + std::to_string(ui_keeps));
      Framebuffer worker(W, H), reference(W, H);
      worker.enable_recycling();
      std::optional<Framebuffer> slot = worker;
      std::vector<std::pair<Framebuffer, std::vector<std::uint8_t>>> held;
      for (std::size_t i = 0; i < c.updates.size(); ++i) {
        const bool failing = c.last_fails && i + 1 == c.updates.size();
        EXPECT_EQ(apply(worker, *c.updates[i]).has_value(), !failing) << "update " << i;
        EXPECT_EQ(apply(reference, *c.updates[i]).has_value(), !failing) << "update " << i;
        ASSERT_TRUE(std::equal(worker.pixels().begin(), worker.pixels().end(), reference.pixels().begin()))
            << "update " << i;
        for (const auto& [frame, pixels] : held) {
          ASSERT_TRUE(std::equal(frame.pixels().begin(), frame.pixels().end(), pixels.begin())) << "update " << i;
        }
        if (failing) break;
        slot = worker;  // published
        held.emplace_back(*slot, std::vector<std::uint8_t>(slot->pixels().begin(), slot->pixels().end()));
        if (held.size() > ui_keeps) held.erase(held.begin());
      }
    }
  }
}

TEST(RfbFramebuffer, UpdatesCopyOnlyWhatTheyDoNotOverwrite) {
  constexpr std::uint16_t W = 64, H = 48;
  constexpr std::uint64_t kScreen = std::uint64_t{W} * H * 4;
  Wire full, tile, rre, scroll;
  raw_rect(full.update(1), 0, 0, W, H, 1);
  raw_rect(tile.update(1), 8, 8, 16, 16, 2);
  rre.update(1).rect(0, 0, W, H, 2).u32(1).pixel(1, 2, 3).pixel(4, 5, 6).u16(1).u16(1).u16(2).u16(2);
  scroll.update(1).rect(0, 0, W, H - 1, 1).u16(0).u16(1);
  struct Case {
    const char* name;
    const Wire& update;
    bool recycling;
    std::uint64_t most_copied;
  } cases[] = {
      {"full-screen Raw", full, true, 0},
      {"RRE covering the screen", rre, true, 0},
      // The last row is the only one the scroll does not write.
      {"scroll", scroll, true, std::uint64_t{W} * 4},
      // What the full-screen update before it changed, except the tile.
      {"tile", tile, true, kScreen - 16 * 16 * 4},
      // Without a buffer to recycle, one whole copy.
      {"full-screen Raw, no recycling", full, false, kScreen},
  };
  for (const auto& c : cases) {
    Framebuffer fb(W, H);
    if (c.recycling) fb.enable_recycling();
    std::optional<Framebuffer> slot;
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(apply(fb, full));
      slot = fb;
    }
    const std::uint64_t before = fb.bytes_copied();
    ASSERT_TRUE(apply(fb, c.update)) << c.name;
    EXPECT_LE(fb.bytes_copied() - before, c.most_copied) << c.name;
    EXPECT_NE(slot->pixels().data(), fb.pixels().data()) << c.name;
  }
}

bool inside(const std::vector<remote::rfb::Area>& areas, std::uint32_t x, std::uint32_t y) {
  return std::any_of(areas.begin(), areas.end(), [&](const remote::rfb::Area& a) {
    return x >= a.x && x < a.x + a.w && y >= a.y && y < a.y + a.h;
  });
}

TEST(RfbFramebuffer, ChangedSinceHoldsEveryPixelThatChanged) {
  // What the UI redraws of a newer frame: a pixel that differs from a frame
  // it holds and lies outside every area would stay stale on the screen.
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    Framebuffer worker(23, 17);
    worker.enable_recycling();
    std::vector<Framebuffer> held;
    for (int step = 0; step < 30; ++step) {
      ASSERT_TRUE(apply(worker, random_update(rng, 23, 17)));
      for (const Framebuffer& old : held) {
        const auto changed = worker.changed_since(old.generation());
        if (worker.generation() - old.generation() > remote::rfb::kDamageHistory) {
          EXPECT_FALSE(changed) << "seed " << seed << " step " << step;
          continue;
        }
        ASSERT_TRUE(changed) << "seed " << seed << " step " << step;
        for (const remote::rfb::Area& a : *changed) ASSERT_TRUE(a.x + a.w <= 23 && a.y + a.h <= 17);
        for (std::uint32_t y = 0; y < 17; ++y) {
          for (std::uint32_t x = 0; x < 23; ++x) {
            if (worker.pixel(x, y) != old.pixel(x, y)) {
              ASSERT_TRUE(inside(*changed, x, y)) << x << "," << y << " seed " << seed << " step " << step;
            }
          }
        }
      }
      held.push_back(worker);
      if (held.size() > remote::rfb::kDamageHistory + 2) held.erase(held.begin());
    }
  }
}

TEST(RfbFramebuffer, ChangedSinceNamesTheAreasWritten) {
  using remote::rfb::Area;
  Wire tile, two, off_screen, empty, truncated;
  raw_rect(tile.update(1), 3, 4, 6, 5, 1);
  raw_rect(two.update(2), 0, 0, 2, 2, 2).rect(10, 1, 4, 3, 2).u32(0).pixel(5, 5, 5);
  raw_rect(off_screen.update(1), 36, 28, 10, 10, 3);
  empty.update(0);
  raw_rect(truncated.update(2), 20, 0, 10, 10, 7).rect(0, 0, 40, 30, 0).pixel(1, 1, 1);
  struct Case {
    const char* name;
    std::vector<const Wire*> updates;
    std::vector<Area> changed;
  } cases[] = {
      {"a tile", {&tile}, {Area{3, 4, 6, 5}}},
      {"two rectangles", {&two}, {Area{0, 0, 2, 2}, Area{10, 1, 4, 3}}},
      {"two updates", {&tile, &two}, {Area{3, 4, 6, 5}, Area{0, 0, 2, 2}, Area{10, 1, 4, 3}}},
      {"clipped to the screen", {&off_screen}, {Area{36, 28, 4, 2}}},
      {"nothing drawn", {&empty}, {}},
  };
  for (const Case& c : cases) {
    Framebuffer fb(40, 30);
    const std::uint64_t before = fb.generation();
    for (const Wire* u : c.updates) ASSERT_TRUE(apply(fb, *u)) << c.name;
    EXPECT_EQ(fb.changed_since(before), c.changed) << c.name;
    EXPECT_EQ(fb.changed_since(fb.generation()), std::vector<Area>{}) << c.name;
  }
  Framebuffer fb(40, 30);
  EXPECT_FALSE(fb.changed_since(1)) << "a generation not reached yet";
  for (std::size_t i = 0; i <= remote::rfb::kDamageHistory; ++i) ASSERT_TRUE(apply(fb, tile));
  EXPECT_FALSE(fb.changed_since(0)) << "further back than remembered";
  EXPECT_TRUE(fb.changed_since(1));
  // An update that fails part way leaves what it wrote to the next one.
  const std::uint64_t shown = fb.generation();
  EXPECT_FALSE(apply(fb, truncated));
  ASSERT_TRUE(apply(fb, empty));
  EXPECT_EQ(fb.changed_since(shown), (std::vector<Area>{Area{20, 0, 10, 10}}));
  fb.set_generation(50);
  EXPECT_FALSE(fb.changed_since(shown));
}

TEST(RfbFramebuffer, StoresPixelsInTheRenderersLayout) {
  // Whatever the wire format, the buffer holds B, G, R, A with an opaque alpha.
  PixelFormat rgb565;
  rgb565.bits_per_pixel = 16;
  rgb565.depth = 16;
  rgb565.red_max = 31, rgb565.green_max = 63, rgb565.blue_max = 31;
  rgb565.red_shift = 11, rgb565.green_shift = 5, rgb565.blue_shift = 0;
  Wire raw, rre, raw565;
  raw.update(1).rect(0, 0, 1, 1, 0).pixel(0x12, 0x34, 0x56);
  rre.update(1).rect(0, 0, 1, 1, 2).u32(0).pixel(0x12, 0x34, 0x56);
  // Full red and full blue in 5-6-5, little-endian.
  raw565.update(1).rect(0, 0, 1, 1, 0).u8(0x1F).u8(0xF8);
  struct Case {
    const char* name;
    const Wire& update;
    const PixelFormat& format;
    std::array<std::uint8_t, 4> bytes;
  } cases[] = {
      {"Raw", raw, kClientPixelFormat, {0x56, 0x34, 0x12, 0xFF}},
      {"RRE", rre, kClientPixelFormat, {0x56, 0x34, 0x12, 0xFF}},
      {"Raw in another format", raw565, rgb565, {0xFF, 0x00, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    Framebuffer fb(1, 1);
    ASSERT_TRUE(apply(fb, c.update, c.format)) << c.name;
    const auto px = fb.pixels();
    EXPECT_EQ((std::array<std::uint8_t, 4>{px[0], px[1], px[2], px[3]}), c.bytes) << c.name;
    EXPECT_EQ(fb.pixel(0, 0),
              0xFF000000u | (std::uint32_t{c.bytes[0]} << 16) | (std::uint32_t{c.bytes[1]} << 8) | c.bytes[2])
        << c.name;
  }
}

TEST(RfbPixelFormat, ClientFormatWireForm) {
  const auto wire = kClientPixelFormat.to_wire();
  const std::array<std::uint8_t, 16> expected{0x20, 0x18, 0, 1, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0x10, 0x08, 0, 0, 0, 0};
  EXPECT_EQ(wire, expected);
  EXPECT_EQ(PixelFormat::from_wire(wire), kClientPixelFormat);
}

TEST(RfbPixelFormat, DecodePixel) {
  PixelFormat rgb565be{16, 16, true, true, 31, 63, 31, 11, 5, 0};
  PixelFormat no_red = kClientPixelFormat;
  no_red.red_max = 0;
  PixelFormat wide_shift = kClientPixelFormat;
  wide_shift.red_shift = 40;  // nothing of a 32-bit value is left
  PixelFormat bgr233{8, 8, false, true, 7, 7, 3, 0, 3, 6};
  struct Case {
    PixelFormat format;
    std::vector<std::uint8_t> bytes;
    std::uint32_t expected;
  } cases[] = {
      {kClientPixelFormat, {0x30, 0x20, 0x10, 0x99}, rgba(0x10, 0x20, 0x30)},
      {rgb565be, {0xF8, 0x00}, rgba(255, 0, 0)},
      {rgb565be, {0x07, 0xE0}, rgba(0, 255, 0)},
      {rgb565be, {0x00, 0x1F}, rgba(0, 0, 255)},
      {rgb565be, {0x84, 0x10}, rgba(132, 130, 132)},
      {no_red, {0x30, 0x20, 0x10, 0}, rgba(0, 0x20, 0x30)},
      {wide_shift, {0x30, 0x20, 0x10, 0}, rgba(0, 0x20, 0x30)},
      {bgr233, {0xFF}, rgba(255, 255, 255)},
      {bgr233, {0x07}, rgba(255, 0, 0)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.format.decode_pixel(c.bytes), c.expected);
}

TEST(RfbUpdate, EmptyUpdateAdvancesGeneration) {
  Framebuffer fb(4, 4);
  auto r = apply(fb, Wire().update(0));
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, 0);
  EXPECT_EQ(fb.generation(), 1u);
}

TEST(RfbUpdate, RawIsDrawnAndClippedAtTheEdges) {
  Framebuffer fb(4, 3);
  Wire w;
  w.update(3);
  w.rect(1, 1, 2, 1, 0).pixel(1, 2, 3).pixel(4, 5, 6);
  // Past the bottom right corner: only (3, 2) is visible.
  w.rect(3, 2, 2, 2, 0).pixel(10, 0, 0).pixel(11, 0, 0).pixel(12, 0, 0).pixel(13, 0, 0);
  // Wholly off screen at x = 65535: consumed, nothing drawn.
  w.rect(65535, 0, 1, 1, 0).pixel(99, 99, 99);
  ASSERT_EQ(error_of(apply(fb, w)), "<ok>");
  EXPECT_EQ(fb.pixel(1, 1), rgba(1, 2, 3));
  EXPECT_EQ(fb.pixel(2, 1), rgba(4, 5, 6));
  EXPECT_EQ(fb.pixel(3, 2), rgba(10, 0, 0));
  EXPECT_EQ(fb.pixel(0, 0), 0u);
  EXPECT_EQ(fb.generation(), 1u);
}

TEST(RfbUpdate, LargeRawRectangleClippedPartWayDown) {
  // 300 × 200 pixels is read in several batches of rows; the screen ends
  // after 150 rows and 250 columns, and a rectangle after it still applies.
  Framebuffer fb(250, 150);
  Wire w;
  w.update(2).rect(0, 0, 300, 200, 0);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x)
      w.pixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x ^ y));
  w.rect(249, 149, 1, 1, 0).pixel(1, 2, 3);
  ASSERT_EQ(error_of(apply(fb, w)), "<ok>");
  for (std::uint32_t y = 0; y < 150; ++y) {
    for (std::uint32_t x = 0; x < 250; ++x) {
      if (x == 249 && y == 149) continue;
      ASSERT_EQ(fb.pixel(x, y),
                rgba(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x ^ y)))
          << x << "," << y;
    }
  }
  EXPECT_EQ(fb.pixel(249, 149), rgba(1, 2, 3));
}

TEST(RfbUpdate, RawOverAMegabyteIsStoredExactly) {
  // Large rectangles take the streaming-store path: rows that start off
  // alignment, a rectangle reaching past two edges, and the columns next to it.
  constexpr std::uint16_t W = 700, H = 400;
  Framebuffer fb(W, H);
  paint_pattern(fb);
  const Framebuffer before = fb;
  Wire w;
  w.update(1).rect(3, 2, W, H, 0);
  auto colour = [](std::uint32_t c, std::uint32_t r) {
    return rgba(static_cast<std::uint8_t>(c * 7), static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(c ^ r));
  };
  for (std::uint32_t r = 0; r < H; ++r)
    for (std::uint32_t c = 0; c < W; ++c) {
      const std::uint32_t v = colour(c, r);
      w.pixel(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16));
    }
  ASSERT_EQ(error_of(apply(fb, w)), "<ok>");
  for (std::uint32_t y = 0; y < H; ++y) {
    for (std::uint32_t x = 0; x < W; ++x) {
      const std::uint32_t expected = x >= 3 && y >= 2 ? colour(x - 3, y - 2) : before.pixel(x, y);
      ASSERT_EQ(fb.pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST(RfbUpdate, RawSizeLimitIsInclusive) {
  Framebuffer fb(8, 8);
  Wire w;
  w.update(2).rect(0, 0, 4096, 4096, 0).zeros(67'108'864);
  w.rect(0, 0, 1, 1, 0).pixel(5, 6, 7);
  ASSERT_EQ(error_of(apply(fb, w)), "<ok>");
  EXPECT_EQ(fb.pixel(0, 0), rgba(5, 6, 7));
  EXPECT_EQ(fb.pixel(1, 1), 0xFF000000u);

  Framebuffer fb2(8, 8);
  EXPECT_EQ(error_of(apply(fb2, Wire().update(1).rect(0, 0, 4097, 4097, 0))), "RFB raw rectangle is too large");
}

TEST(RfbUpdate, RawInAnotherPixelFormat) {
  PixelFormat rgb565be{16, 16, true, true, 31, 63, 31, 11, 5, 0};
  Framebuffer fb(2, 1);
  ASSERT_TRUE(apply(fb, Wire().update(1).rect(0, 0, 2, 1, 0).u16(0xF800).u16(0x001F), rgb565be));
  EXPECT_EQ(fb.pixel(0, 0), rgba(255, 0, 0));
  EXPECT_EQ(fb.pixel(1, 0), rgba(0, 0, 255));
}

TEST(RfbUpdate, CopyRectMovesOverlappingAreasInEveryDirection) {
  struct Case {
    const char* name;
    std::uint16_t sx, sy, dx, dy, w, h;
  } cases[] = {
      {"up one row", 0, 1, 0, 0, 6, 4},       {"down one row", 0, 0, 0, 1, 6, 4}, {"left one column", 1, 0, 0, 0, 5, 5},
      {"right one column", 0, 0, 1, 0, 5, 5}, {"diagonal", 0, 0, 2, 2, 4, 3},     {"in place", 1, 1, 1, 1, 3, 3},
  };
  for (const auto& c : cases) {
    Framebuffer fb(6, 5);
    paint_pattern(fb);
    const Framebuffer before = fb;
    ASSERT_TRUE(apply(fb, Wire().update(1).rect(c.dx, c.dy, c.w, c.h, 1).u16(c.sx).u16(c.sy))) << c.name;
    for (std::uint32_t y = 0; y < 5; ++y) {
      for (std::uint32_t x = 0; x < 6; ++x) {
        const bool inside = x >= c.dx && x < std::uint32_t{c.dx} + c.w && y >= c.dy && y < std::uint32_t{c.dy} + c.h;
        const std::uint32_t expected = inside ? before.pixel(x - c.dx + c.sx, y - c.dy + c.sy) : before.pixel(x, y);
        ASSERT_EQ(fb.pixel(x, y), expected) << c.name << " at " << x << "," << y;
      }
    }
  }
}

TEST(RfbUpdate, CopyRectSourceOffScreenReadsTransparentBlack) {
  Framebuffer fb(4, 4);
  paint_pattern(fb);
  const Framebuffer before = fb;
  // Source (2, 2) of a 3 × 3 area: its last column and row lie outside.
  ASSERT_TRUE(apply(fb, Wire().update(1).rect(0, 0, 3, 3, 1).u16(2).u16(2)));
  EXPECT_EQ(fb.pixel(0, 0), before.pixel(2, 2));
  EXPECT_EQ(fb.pixel(1, 1), before.pixel(3, 3));
  EXPECT_EQ(fb.pixel(2, 0), 0u);
  EXPECT_EQ(fb.pixel(0, 2), 0u);
  EXPECT_EQ(fb.pixel(3, 3), before.pixel(3, 3));
  EXPECT_EQ(error_of(apply(fb, Wire().update(1).rect(0, 0, 4097, 4096, 1).u16(0).u16(0))),
            "RFB copy rectangle is too large");
}

TEST(RfbUpdate, RreFillsBackgroundThenSubrectanglesPastTheRectangle) {
  Framebuffer fb(6, 6);
  Wire w;
  w.update(1).rect(1, 1, 2, 2, 2).u32(2).pixel(1, 1, 1);
  w.pixel(2, 2, 2).u16(1).u16(1).u16(4).u16(1);  // reaches past the rectangle
  w.pixel(3, 3, 3).u16(4).u16(4).u16(9).u16(9);  // clipped to the framebuffer only
  ASSERT_EQ(error_of(apply(fb, w)), "<ok>");
  EXPECT_EQ(fb.pixel(1, 1), rgba(1, 1, 1));
  EXPECT_EQ(fb.pixel(2, 1), rgba(1, 1, 1));
  EXPECT_EQ(fb.pixel(2, 2), rgba(2, 2, 2));
  EXPECT_EQ(fb.pixel(5, 2), rgba(2, 2, 2));
  EXPECT_EQ(fb.pixel(5, 5), rgba(3, 3, 3));
  EXPECT_EQ(fb.pixel(0, 0), 0u);
}

TEST(RfbUpdate, LimitsFailWithTheirTexts) {
  Wire too_many_subrects;
  too_many_subrects.update(1).rect(0, 0, 1, 1, 2).u32(1'000'001);  // nothing follows: checked before reading
  Wire big_background;
  big_background.update(1).rect(0, 0, 4097, 4096, 2).u32(0);
  Wire big_subrect;
  big_subrect.update(1).rect(0, 0, 1, 1, 2).u32(1).pixel(0, 0, 0).pixel(1, 1, 1).u16(0).u16(0).u16(4097).u16(4096);
  Wire too_many_rects;
  too_many_rects.update(4097);
  Wire encoding5;
  encoding5.update(1).rect(0, 0, 1, 1, 5);
  Wire negative;
  negative.update(1).rect(0, 0, 1, 1, -239);
  Wire truncated;
  truncated.update(1).rect(0, 0, 2, 2, 0).pixel(1, 1, 1);
  struct Case {
    const char* name;
    const Wire& wire;
    const char* text;
  } cases[] = {
      {"subrectangle count", too_many_subrects, "RFB RRE update has too many subrectangles"},
      {"background", big_background, "RRE background rectangle exceeds the pixel work limit"},
      {"one subrectangle", big_subrect, "RRE subrectangle exceeds the pixel work limit"},
      {"rectangles", too_many_rects, "RFB update has too many rectangles"},
      {"encoding 5", encoding5, "unsupported RFB encoding 5"},
      {"negative encoding", negative, "unsupported RFB encoding -239"},
      {"truncated", truncated, "failed to fill whole buffer"},
  };
  for (const auto& c : cases) {
    Framebuffer fb(4, 4);
    EXPECT_EQ(error_of(apply(fb, c.wire)), c.text) << c.name;
    EXPECT_EQ(fb.generation(), 0u) << c.name;
  }
}

TEST(RfbUpdate, RreAreaSumOverTheLimitDrawsNothing) {
  Framebuffer fb(4, 4);
  Wire w;
  w.update(1).rect(0, 0, 4, 4, 2).u32(3).pixel(9, 9, 9);
  w.pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(2048);
  w.pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(2048);
  w.pixel(1, 1, 1).u16(0).u16(0).u16(1).u16(1);  // 16,777,217 in all
  EXPECT_EQ(error_of(apply(fb, w)), "RRE subrectangles exceed the pixel work limit");
  EXPECT_EQ(fb.pixel(0, 0), 0u);

  Wire at_limit;  // exactly 16,777,216 is accepted
  at_limit.update(1).rect(0, 0, 4, 4, 2).u32(2).pixel(9, 9, 9);
  at_limit.pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(2048);
  at_limit.pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(2048);
  EXPECT_EQ(error_of(apply(fb, at_limit)), "<ok>");
  EXPECT_EQ(fb.pixel(3, 3), rgba(1, 1, 1));
}

TEST(RfbUpdate, FailedRectangleKeepsEarlierOnesAndTheGeneration) {
  Framebuffer fb(2, 2);
  Wire w;
  w.update(2).rect(0, 0, 1, 1, 0).pixel(4, 4, 4).rect(0, 0, 1, 1, 7);
  EXPECT_EQ(error_of(apply(fb, w)), "unsupported RFB encoding 7");
  EXPECT_EQ(fb.pixel(0, 0), rgba(4, 4, 4));
  EXPECT_EQ(fb.generation(), 0u);
}

TEST(RfbUpdate, GenerationAndPixelFormatChecks) {
  Framebuffer fb(1, 1);
  fb.set_generation(std::numeric_limits<std::uint64_t>::max() - 1);
  ASSERT_TRUE(apply(fb, Wire().update(0)));
  EXPECT_EQ(fb.generation(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(error_of(apply(fb, Wire().update(0))), "RFB framebuffer generation exhausted");

  for (std::uint8_t bits : {0, 33, 255}) {
    Framebuffer f(1, 1);
    PixelFormat bad = kClientPixelFormat;
    bad.bits_per_pixel = bits;
    EXPECT_EQ(error_of(apply(f, Wire().update(0), bad)), "invalid RFB pixel format") << int(bits);
  }
}

TEST(RfbUpdate, HugeRectanglesCostOnlyWhatIsVisible) {
  // 4,096 full-size CopyRects and RRE rectangles on a tiny screen: unclipped
  // loops would do some 10^11 pixel operations; clipped ones finish at once.
  Framebuffer fb(16, 16);
  Wire w;
  w.update(4096);
  for (int i = 0; i < 2048; ++i) {
    w.rect(0, 0, 4096, 4096, 1).u16(1).u16(1);
    w.rect(0, 0, 4096, 4096, 2).u32(1).pixel(1, 2, 3).pixel(3, 2, 1).u16(0).u16(0).u16(4096).u16(4096);
  }
  ASSERT_EQ(error_of(apply(fb, w)), "<ok>");
  EXPECT_EQ(fb.pixel(15, 15), rgba(3, 2, 1));
}

}  // namespace
