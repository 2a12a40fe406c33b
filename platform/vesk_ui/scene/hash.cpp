#include <bit>
#include <functional>
#include <string_view>

#include "platform/vesk_ui/scene/scene.hpp"

namespace vesk_ui::scene {

namespace {

// Word-at-a-time mixing; strong enough that two different frames sharing a
// fingerprint is not a practical concern, and cheap next to recording.
class Hasher {
 public:
  void add(std::uint64_t v) {
    h_ ^= v + 0x9e3779b97f4a7c15ull + (h_ << 6) + (h_ >> 2);
    h_ *= 0xff51afd7ed558ccdull;
    h_ ^= h_ >> 32;
  }
  // Equal values hash equally: -0.0 and 0.0 compare equal, so they must.
  void add(double v) { add(std::bit_cast<std::uint64_t>(v == 0.0 ? 0.0 : v)); }
  void add(float v) { add(static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(v == 0.0f ? 0.0f : v))); }
  void add(std::string_view s) {
    add(static_cast<std::uint64_t>(std::hash<std::string_view>{}(s)));
    add(static_cast<std::uint64_t>(s.size()));
  }
  void add(Point p) {
    add(p.x);
    add(p.y);
  }
  void add(const Rect& r) {
    add(r.x0);
    add(r.y0);
    add(r.x1);
    add(r.y1);
  }
  void add(const Affine& a) {
    for (double v : {a.a, a.b, a.c, a.d, a.e, a.f}) add(v);
  }
  void add(const Color& c) {
    add(c.r);
    add(c.g);
    add(c.b);
    add(c.a);
  }
  std::uint64_t value() const { return h_; }

 private:
  std::uint64_t h_ = 0x243f6a8885a308d3ull;
};

void add_shape(Hasher& h, const Shape& s) {
  h.add(static_cast<std::uint64_t>(s.index()));
  std::visit(
      [&h](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Rect>) {
          h.add(v);
        } else if constexpr (std::is_same_v<T, RoundedRect>) {
          h.add(v.rect);
          h.add(v.radius);
        } else if constexpr (std::is_same_v<T, Circle>) {
          h.add(v.center);
          h.add(v.radius);
        } else if constexpr (std::is_same_v<T, Line>) {
          h.add(v.p0);
          h.add(v.p1);
        } else {
          h.add(static_cast<std::uint64_t>(v.elements().size()));
          for (const PathEl& el : v.elements()) {
            h.add(static_cast<std::uint64_t>(el.verb));
            for (const Point& p : el.p) h.add(p);
          }
        }
      },
      s);
}

void add_brush(Hasher& h, const Brush& b, bool with_picture) {
  h.add(static_cast<std::uint64_t>(b.index()));
  if (const Color* c = std::get_if<Color>(&b)) {
    h.add(*c);
    return;
  }
  const ImageBrush& ib = std::get<ImageBrush>(b);
  if (with_picture) h.add(ib.image.id);
  h.add((std::uint64_t{ib.image.width} << 32) | ib.image.height);
  h.add(ib.brush_transform);
  h.add((std::uint64_t{static_cast<std::uint8_t>(ib.quality)} << 8) | static_cast<std::uint8_t>(ib.extend));
  h.add(ib.alpha);
}

}  // namespace

std::uint64_t hash_command(const Command& cmd, bool with_picture) {
  Hasher h;
  h.add(static_cast<std::uint64_t>(cmd.index()));
  std::visit(
      [&h, with_picture](const auto& c) {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, FillCmd>) {
          h.add(static_cast<std::uint64_t>(c.rule));
          h.add(c.transform);
          add_brush(h, c.brush, with_picture);
          add_shape(h, c.shape);
        } else if constexpr (std::is_same_v<T, StrokeCmd>) {
          h.add(c.style.width);
          h.add((std::uint64_t{static_cast<std::uint8_t>(c.style.join)} << 8) | static_cast<std::uint8_t>(c.style.cap));
          h.add(c.style.miter_limit);
          h.add(c.transform);
          add_brush(h, c.brush, with_picture);
          add_shape(h, c.shape);
        } else if constexpr (std::is_same_v<T, PushLayerCmd>) {
          h.add(static_cast<std::uint64_t>(c.blend));
          h.add(c.alpha);
          h.add(c.transform);
          add_shape(h, c.clip);
        } else if constexpr (std::is_same_v<T, PopLayerCmd>) {
        } else {
          const TextRun& r = c.run;
          h.add(std::string_view(r.text));
          h.add(r.size);
          h.add((std::uint64_t{r.weight} << 8) | static_cast<std::uint8_t>(r.family));
          h.add(r.color);
          h.add(r.transform);
          h.add(static_cast<std::uint64_t>(r.max_width.has_value()));
          if (r.max_width) h.add(*r.max_width);
        }
      },
      cmd);
  return h.value();
}

std::uint64_t Scene::fingerprint() const {
  Hasher h;
  h.add(static_cast<std::uint64_t>(hashes_.size()));
  for (std::uint64_t v : hashes_) h.add(v);
  return h.value();
}

}  // namespace vesk_ui::scene
