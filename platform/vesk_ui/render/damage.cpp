#include "platform/vesk_ui/render/damage.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace vesk_ui::render {

using namespace vesk_ui::scene;

namespace {

constexpr Rect kNothing{0, 0, 0, 0};

bool finite(double v) { return std::isfinite(v); }

Rect unite(const Rect& a, const Rect& b) {
  if (a.is_empty()) return b;
  if (b.is_empty()) return a;
  return Rect{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

bool overlaps(const Rect& a, const Rect& b) { return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1; }

void grow(Rect& r, Point p) {
  r.x0 = std::min(r.x0, p.x);
  r.y0 = std::min(r.y0, p.y);
  r.x1 = std::max(r.x1, p.x);
  r.y1 = std::max(r.y1, p.y);
}

// The shape's box in its own space (curves lie inside their control points).
Rect shape_box(const Shape& s) {
  return std::visit(
      [](const auto& v) -> Rect {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Rect>) {
          return v.normalized();
        } else if constexpr (std::is_same_v<T, RoundedRect>) {
          return v.rect.normalized();
        } else if constexpr (std::is_same_v<T, Circle>) {
          const double r = std::fabs(v.radius);
          return Rect{v.center.x - r, v.center.y - r, v.center.x + r, v.center.y + r};
        } else if constexpr (std::is_same_v<T, Line>) {
          return Rect{v.p0.x, v.p0.y, v.p1.x, v.p1.y}.normalized();
        } else {
          const auto& els = v.elements();
          if (els.empty()) return kNothing;
          Rect r{els[0].p[0].x, els[0].p[0].y, els[0].p[0].x, els[0].p[0].y};
          static constexpr int kPoints[] = {1, 1, 2, 3, 0};
          for (const PathEl& el : els) {
            for (int i = 0; i < kPoints[static_cast<int>(el.verb)]; ++i) grow(r, el.p[i]);
          }
          return r;
        }
      },
      s);
}

// The box of `r` under `t`, rounded out to whole pixels with one of margin
// for antialiasing. Nothing when the numbers are not finite (the renderer
// skips such commands).
Rect device_box(const Affine& t, const Rect& r) {
  if (!finite(r.x0) || !finite(r.y0) || !finite(r.x1) || !finite(r.y1)) return kNothing;
  const Point c[4] = {t.apply({r.x0, r.y0}), t.apply({r.x1, r.y0}), t.apply({r.x0, r.y1}), t.apply({r.x1, r.y1})};
  Rect out{c[0].x, c[0].y, c[0].x, c[0].y};
  for (const Point& p : c) grow(out, p);
  if (!finite(out.x0) || !finite(out.y0) || !finite(out.x1) || !finite(out.y1)) return kNothing;
  return Rect{std::floor(out.x0) - 1, std::floor(out.y0) - 1, std::ceil(out.x1) + 1, std::ceil(out.y1) + 1};
}

}  // namespace

namespace {

// One command's device box; `open` holds the clip boxes of the layers open
// before it and is updated by pushes and pops.
Rect command_box(const Command& cmd, text::PangoTextRenderer& text, const Affine& device, std::vector<Rect>& open) {
  return std::visit(
      [&](const auto& c) -> Rect {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, FillCmd>) {
          return device_box(device * c.transform, shape_box(c.shape));
        } else if constexpr (std::is_same_v<T, StrokeCmd>) {
          if (!finite(c.style.width) || c.style.width <= 0.0) return kNothing;
          // Half the width, times the miter limit for miter joins, or the
          // diagonal of a square cap.
          const double reach = c.style.width / 2.0 *
                               std::max(c.style.join == Join::Miter ? c.style.miter_limit : 1.0, std::numbers::sqrt2);
          if (!finite(reach)) return kNothing;
          return device_box(device * c.transform, shape_box(c.shape).inset(-reach));
        } else if constexpr (std::is_same_v<T, PushLayerCmd>) {
          const Rect clip = device_box(device * c.transform, shape_box(c.clip));
          open.push_back(clip);
          return clip;
        } else if constexpr (std::is_same_v<T, PopLayerCmd>) {
          if (open.empty()) return kNothing;
          const Rect clip = open.back();
          open.pop_back();
          return clip;
        } else {
          return device_box(device * c.run.transform, text.run_bounds(c.run));
        }
      },
      cmd);
}

}  // namespace

std::optional<PixelRect> placed_picture(const FillCmd& fill, const ImageBrush& ib, const Affine& device) {
  const Rect* rect = std::get_if<Rect>(&fill.shape);
  const Affine full = device * fill.transform;
  const Affine total = full * ib.brush_transform;
  if (!rect || ib.alpha < 1.0f || full.b != 0.0 || full.c != 0.0 || total.b != 0.0 || total.c != 0.0) {
    return std::nullopt;
  }
  const Point p0 = full.apply({rect->x0, rect->y0});
  const Point p1 = full.apply({rect->x1, rect->y1});
  const Rect dev = Rect{p0.x, p0.y, p1.x, p1.y}.normalized();
  auto whole = [](double v) { return std::fabs(v - std::round(v)) < 1e-6; };
  if (!whole(dev.x0) || !whole(dev.y0) || !whole(dev.x1) || !whole(dev.y1)) return std::nullopt;
  constexpr double kMaxSide = 8192;
  if (dev.width() < 1 || dev.height() < 1 || dev.width() > kMaxSide || dev.height() > kMaxSide) return std::nullopt;
  return PixelRect{static_cast<int>(std::lround(dev.x0)), static_cast<int>(std::lround(dev.y0)),
                   static_cast<int>(std::lround(dev.width())), static_cast<int>(std::lround(dev.height()))};
}

namespace {

// How far, in picture pixels, the sampling of a picture update reaches past
// the pixels that changed; none when the update cannot be followed that way
// (a filter reaching further, a repeated picture).
std::optional<double> sampling_reach(const ImageBrush& ib) {
  if (ib.quality == ImageQuality::High || ib.extend != Extend::Pad) return std::nullopt;
  return 1.0;
}

// The device areas where a picture update changes what `cmd` paints, clipped
// to `box` (the command's device box).
void picture_damage(const FillCmd& fill, const ImageBrush& ib, double reach, const Affine& device, const Rect& box,
                    std::vector<Rect>& out) {
  const Affine t = device * fill.transform * ib.brush_transform;
  // Past the picture's edges padding repeats the edge pixels.
  constexpr double kFar = 1e6;
  const double w = ib.image.width, h = ib.image.height;
  for (const ImageArea& a : *ib.image.changed) {
    const Rect r{a.x <= reach ? -kFar : a.x - reach, a.y <= reach ? -kFar : a.y - reach,
                 a.x + a.w + reach >= w ? kFar : a.x + a.w + reach, a.y + a.h + reach >= h ? kFar : a.y + a.h + reach};
    const Rect d = device_box(t, r);
    const Rect clipped{std::max(d.x0, box.x0), std::max(d.y0, box.y0), std::min(d.x1, box.x1), std::min(d.y1, box.y1)};
    if (!clipped.is_empty()) out.push_back(clipped);
  }
}

}  // namespace

std::vector<Rect> command_device_bounds(const Scene& scene, text::PangoTextRenderer& text, const Affine& device) {
  std::vector<Rect> out;
  out.reserve(scene.commands().size());
  std::vector<Rect> open;
  for (const Command& cmd : scene.commands()) out.push_back(command_box(cmd, text, device, open));
  return out;
}

std::vector<PixelRect> merge_damage(const std::vector<Rect>& rects, int width, int height) {
  const Rect frame{0, 0, static_cast<double>(width), static_cast<double>(height)};
  const std::vector<PixelRect> whole{PixelRect{0, 0, width, height}};
  std::vector<Rect> merged;
  for (const Rect& raw : rects) {
    Rect r{std::max(raw.x0, frame.x0), std::max(raw.y0, frame.y0), std::min(raw.x1, frame.x1),
           std::min(raw.y1, frame.y1)};
    if (r.is_empty()) continue;
    // Swallow every rectangle this one touches, until none is left to take.
    for (bool again = true; again;) {
      again = false;
      for (auto it = merged.begin(); it != merged.end(); ++it) {
        if (overlaps(r, *it)) {
          r = unite(r, *it);
          merged.erase(it);
          again = true;
          break;
        }
      }
    }
    merged.push_back(r);
  }
  if (merged.empty()) return {};
  double area = 0;
  for (const Rect& r : merged) area += r.width() * r.height();
  if (merged.size() > kMaxDamageRects || area * 2.0 > frame.width() * frame.height()) return whole;
  std::vector<PixelRect> out;
  out.reserve(merged.size());
  for (const Rect& r : merged) {
    out.push_back(PixelRect{static_cast<int>(r.x0), static_cast<int>(r.y0), static_cast<int>(r.width()),
                            static_cast<int>(r.height())});
  }
  return out;
}

std::vector<PixelRect> DamageTracker::update(const Scene& scene, text::PangoTextRenderer& text, const Affine& device,
                                             int width, int height, bool full) {
  const std::uint64_t fingerprint = scene.fingerprint();
  const bool same_frame = valid_ && width == width_ && height == height_ && device == device_;
  if (same_frame && !full && fingerprint == fingerprint_) return {};
  const std::vector<std::uint64_t>& hashes = scene.command_hashes();
  const auto& commands = scene.commands();
  std::vector<PixelRect> damage;
  std::vector<Rect> bounds;
  if (!same_frame) {
    bounds = command_device_bounds(scene, text, device);
    damage.push_back(PixelRect{0, 0, width, height});
  } else {
    // Commands before the first difference and after the last one are the
    // same in both frames; what lies between was painted or is painted now.
    const std::size_t n_old = hashes_.size();
    const std::size_t n_new = hashes.size();
    std::size_t prefix = 0;
    while (prefix < n_old && prefix < n_new && hashes_[prefix] == hashes[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < n_old - prefix && suffix < n_new - prefix &&
           hashes_[n_old - 1 - suffix] == hashes[n_new - 1 - suffix]) {
      ++suffix;
    }
    // Equal commands under the same device transform have equal boxes: only
    // the changed ones are measured.
    bounds.resize(n_new);
    std::vector<Rect> open;
    for (std::size_t i = 0; i < prefix; ++i) {
      bounds[i] = bounds_[i];
      if (std::holds_alternative<PushLayerCmd>(commands[i])) open.push_back(bounds[i]);
      if (std::holds_alternative<PopLayerCmd>(commands[i]) && !open.empty()) open.pop_back();
    }
    for (std::size_t i = prefix; i < n_new - suffix; ++i) bounds[i] = command_box(commands[i], text, device, open);
    for (std::size_t k = 0; k < suffix; ++k) bounds[n_new - 1 - k] = bounds_[n_old - 1 - k];
    // A pop's box is its push's: set them again, since a reused pop may
    // close a layer whose push changed.
    open.clear();
    for (std::size_t i = 0; i < n_new; ++i) {
      if (std::holds_alternative<PushLayerCmd>(commands[i])) {
        open.push_back(bounds[i]);
      } else if (std::holds_alternative<PopLayerCmd>(commands[i])) {
        bounds[i] = open.empty() ? kNothing : open.back();
        if (!open.empty()) open.pop_back();
      }
    }
    if (full) {
      damage.push_back(PixelRect{0, 0, width, height});
    } else {
      // With the commands still in step, a fill whose only change is a
      // picture that knows where it differs from the one it showed damages
      // just those areas.
      const bool in_step = n_old == n_new;
      std::vector<Rect> changed;
      for (std::size_t i = prefix; i < n_new - suffix; ++i) {
        // Only a placed picture is redrawn exactly in part; elsewhere a part
        // of it could come out a shade apart from a whole redraw.
        const ImageBrush* ib = in_step ? picture_brush(commands[i]) : nullptr;
        const std::optional<double> reach = ib ? sampling_reach(*ib) : std::nullopt;
        if (reach && ib->image.base != 0 && ib->image.changed && ib->image.base == picture_ids_[i] &&
            hash_command(commands[i], false) == picture_free_hashes_[i] &&
            placed_picture(std::get<FillCmd>(commands[i]), *ib, device)) {
          picture_damage(std::get<FillCmd>(commands[i]), *ib, *reach, device, bounds[i], changed);
          continue;
        }
        changed.push_back(bounds[i]);
        if (in_step) changed.push_back(bounds_[i]);
      }
      if (!in_step) {
        for (std::size_t i = prefix; i < n_old - suffix; ++i) changed.push_back(bounds_[i]);
      }
      damage = merge_damage(changed, width, height);
    }
  }
  valid_ = true;
  width_ = width;
  height_ = height;
  device_ = device;
  fingerprint_ = fingerprint;
  hashes_ = hashes;
  bounds_ = std::move(bounds);
  picture_ids_.assign(commands.size(), 0);
  picture_free_hashes_.assign(commands.size(), 0);
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (const ImageBrush* ib = picture_brush(commands[i])) {
      picture_ids_[i] = ib->image.id;
      picture_free_hashes_[i] = hash_command(commands[i], false);
    }
  }
  return damage;
}

}  // namespace vesk_ui::render
