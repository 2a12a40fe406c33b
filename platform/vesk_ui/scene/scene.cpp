#include "platform/vesk_ui/scene/scene.hpp"

// GCC 12 at -O3 reports the moves of std::variant elements while the command
// vector grows as reads of uninitialised members: a known false positive.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace vesk_ui::scene {

std::uint64_t new_image_id() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

Image Image::from_rgba(PixelBuffer pixels, std::uint32_t width, std::uint32_t height) {
  return Image{std::move(pixels), new_image_id(), width, height};
}

Image Image::from_bgra(PixelBuffer pixels, std::uint32_t width, std::uint32_t height) {
  Image image = from_rgba(std::move(pixels), width, height);
  image.order = PixelOrder::Bgra;
  return image;
}

void Image::set_changed_since(const Image& earlier, std::vector<ImageArea> areas) {
  if (earlier.id == 0 || earlier.id == id || earlier.width != width || earlier.height != height ||
      earlier.order != order) {
    return;
  }
  std::vector<ImageArea> kept;
  kept.reserve(std::min(areas.size(), kMaxChangedAreas));
  bool any = false;
  std::uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  for (const ImageArea& a : areas) {
    if (a.x >= width || a.y >= height || a.w == 0 || a.h == 0) continue;
    const ImageArea clipped{a.x, a.y, std::min(a.w, width - a.x), std::min(a.h, height - a.y)};
    if (!any) {
      x0 = clipped.x, y0 = clipped.y, x1 = clipped.x + clipped.w, y1 = clipped.y + clipped.h;
      any = true;
    } else {
      x0 = std::min(x0, clipped.x), y0 = std::min(y0, clipped.y);
      x1 = std::max(x1, clipped.x + clipped.w), y1 = std::max(y1, clipped.y + clipped.h);
    }
    kept.push_back(clipped);
  }
  if (kept.size() > kMaxChangedAreas) {
    kept.assign(1, ImageArea{x0, y0, x1 - x0, y1 - y0});
  }
  base = earlier.id;
  changed = std::make_shared<const std::vector<ImageArea>>(std::move(kept));
}

const ImageBrush* picture_brush(const Command& cmd) {
  const auto* fill = std::get_if<FillCmd>(&cmd);
  return fill ? std::get_if<ImageBrush>(&fill->brush) : nullptr;
}

bool Image::is_valid() const {
  if (!pixels || width == 0 || height == 0) return false;
  const std::uint64_t need = std::uint64_t{width} * std::uint64_t{height} * 4u;
  return pixels->size() >= need;
}

Path& Path::move_to(Point p) {
  els_.push_back(PathEl{PathEl::Verb::MoveTo, {p, {}, {}}});
  return *this;
}
Path& Path::line_to(Point p) {
  els_.push_back(PathEl{PathEl::Verb::LineTo, {p, {}, {}}});
  return *this;
}
Path& Path::quad_to(Point c, Point p) {
  els_.push_back(PathEl{PathEl::Verb::QuadTo, {c, p, {}}});
  return *this;
}
Path& Path::curve_to(Point c1, Point c2, Point p) {
  els_.push_back(PathEl{PathEl::Verb::CurveTo, {c1, c2, p}});
  return *this;
}
Path& Path::close() {
  els_.push_back(PathEl{PathEl::Verb::Close, {}});
  return *this;
}

void debug_fail(const char* message) {
#ifndef NDEBUG
  std::fprintf(stderr, "vesk_ui: %s\n", message);
  std::abort();
#else
  (void)message;
#endif
}

void Scene::record(Command cmd) {
  hashes_.push_back(hash_command(cmd));
  cmds_.push_back(std::move(cmd));
}

void Scene::fill(FillRule rule, const Affine& transform, const Brush& brush, const Shape& shape) {
  record(FillCmd{rule, transform, brush, shape});
}

void Scene::stroke(const StrokeStyle& style, const Affine& transform, const Brush& brush, const Shape& shape) {
  record(StrokeCmd{style, transform, brush, shape});
}

void Scene::push_layer(BlendMode blend, float alpha, const Affine& transform, const Shape& clip) {
  record(PushLayerCmd{blend, alpha, transform, clip});
  ++depth_;
}

void Scene::pop_layer() {
  if (depth_ == 0) {
    debug_fail("pop_layer without a matching push_layer");
    return;
  }
  --depth_;
  record(PopLayerCmd{});
}

void Scene::draw_text(TextRun run) { record(TextCmd{std::move(run)}); }

void Scene::draw_image(const Image& image, const Affine& transform) {
  const Rect r{0.0, 0.0, static_cast<double>(image.width), static_cast<double>(image.height)};
  fill(transform, ImageBrush{image, Affine::identity()}, r);
}

void Scene::finish() {
  if (depth_ != 0) {
    debug_fail("scene finished with clip layers still open (push_layer without pop_layer)");
    while (depth_ > 0) pop_layer();
  }
}

void Scene::reset() {
  cmds_.clear();
  hashes_.clear();
  depth_ = 0;
}

namespace {

void num(std::string& out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v == 0.0 ? 0.0 : v);
  out += buf;
}

void affine(std::string& out, const Affine& a) {
  if (a == Affine::identity()) {
    out += "id";
    return;
  }
  out += "[";
  const double v[6] = {a.a, a.b, a.c, a.d, a.e, a.f};
  for (int i = 0; i < 6; ++i) {
    if (i) out += ' ';
    num(out, v[i]);
  }
  out += "]";
}

void color(std::string& out, const Color& c) {
  const Rgba8 b = c.to_rgba8();
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x%02x", b.r, b.g, b.b, b.a);
  out += buf;
}

void point(std::string& out, Point p) {
  num(out, p.x);
  out += ',';
  num(out, p.y);
}

void rect(std::string& out, const Rect& r) {
  out += "(";
  point(out, {r.x0, r.y0});
  out += ' ';
  point(out, {r.x1, r.y1});
  out += ")";
}

void shape(std::string& out, const Shape& s) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Rect>) {
          out += "rect";
          rect(out, v);
        } else if constexpr (std::is_same_v<T, RoundedRect>) {
          out += "rrect";
          rect(out, v.rect);
          out += " r=";
          num(out, v.radius);
        } else if constexpr (std::is_same_v<T, Circle>) {
          out += "circle(";
          point(out, v.center);
          out += ") r=";
          num(out, v.radius);
        } else if constexpr (std::is_same_v<T, Line>) {
          out += "line(";
          point(out, v.p0);
          out += ' ';
          point(out, v.p1);
          out += ")";
        } else {
          out += "path(";
          static const char* verbs = "MLQCZ";
          static const int counts[] = {1, 1, 2, 3, 0};
          bool first = true;
          for (const PathEl& el : v.elements()) {
            if (!first) out += ' ';
            first = false;
            const int vi = static_cast<int>(el.verb);
            out += verbs[vi];
            for (int i = 0; i < counts[vi]; ++i) {
              out += i ? " " : "";
              point(out, el.p[i]);
            }
          }
          out += ")";
        }
      },
      s);
}

void brush(std::string& out, const Brush& b) {
  if (const Color* c = std::get_if<Color>(&b)) {
    color(out, *c);
    return;
  }
  const ImageBrush& ib = std::get<ImageBrush>(b);
  char buf[96];
  std::snprintf(buf, sizeof buf, "image#%llu %ux%u q%d e%d a=", static_cast<unsigned long long>(ib.image.id),
                ib.image.width, ib.image.height, static_cast<int>(ib.quality), static_cast<int>(ib.extend));
  out += buf;
  num(out, ib.alpha);
  out += " bt=";
  affine(out, ib.brush_transform);
}

}  // namespace

std::string Scene::dump() const {
  std::string out;
  for (const Command& cmd : cmds_) {
    std::visit(
        [&](const auto& c) {
          using T = std::decay_t<decltype(c)>;
          if constexpr (std::is_same_v<T, FillCmd>) {
            out += c.rule == FillRule::EvenOdd ? "fill-evenodd " : "fill ";
            shape(out, c.shape);
            out += ' ';
            brush(out, c.brush);
            out += " t=";
            affine(out, c.transform);
          } else if constexpr (std::is_same_v<T, StrokeCmd>) {
            out += "stroke w=";
            num(out, c.style.width);
            out += ' ';
            shape(out, c.shape);
            out += ' ';
            brush(out, c.brush);
            out += " t=";
            affine(out, c.transform);
          } else if constexpr (std::is_same_v<T, PushLayerCmd>) {
            out += "push a=";
            num(out, c.alpha);
            out += ' ';
            shape(out, c.clip);
            out += " t=";
            affine(out, c.transform);
          } else if constexpr (std::is_same_v<T, PopLayerCmd>) {
            out += "pop";
          } else {
            const TextRun& r = c.run;
            out += "text \"";
            out += r.text;
            out += "\" size=";
            num(out, r.size);
            out += " w=";
            out += std::to_string(r.weight);
            out += r.family == FontFamily::Mono ? " mono " : " sans ";
            color(out, r.color);
            out += " t=";
            affine(out, r.transform);
            if (r.max_width) {
              out += " wrap=";
              num(out, *r.max_width);
            }
          }
        },
        cmd);
    out += '\n';
  }
  return out;
}

}  // namespace vesk_ui::scene
