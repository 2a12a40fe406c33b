#pragma once
// Plain 2D geometry in logical pixels: points, rectangles, affine transforms.

#include <algorithm>
#include <cmath>

namespace vesk_ui::scene {

struct Point {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Axis-aligned rectangle (x0, y0) to (x1, y1); a point lies inside when
// x0 <= x < x1 and y0 <= y < y1.
struct Rect {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;

  static constexpr Rect from_origin_size(double x, double y, double w, double h) { return Rect{x, y, x + w, y + h}; }
  constexpr double width() const { return x1 - x0; }
  constexpr double height() const { return y1 - y0; }
  constexpr Point center() const { return Point{(x0 + x1) / 2.0, (y0 + y1) / 2.0}; }
  constexpr bool contains(Point p) const { return p.x >= x0 && p.x < x1 && p.y >= y0 && p.y < y1; }
  constexpr bool contains(double x, double y) const { return contains(Point{x, y}); }
  // Same rectangle with x0 <= x1 and y0 <= y1.
  Rect normalized() const { return Rect{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)}; }
  Rect inset(double d) const { return Rect{x0 + d, y0 + d, x1 - d, y1 - d}; }
  bool is_empty() const { return !(x1 > x0 && y1 > y0); }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Affine transform [a c e; b d f; 0 0 1], the same layout as cairo_matrix_t:
// x' = a x + c y + e, y' = b x + d y + f.
struct Affine {
  double a = 1.0, b = 0.0, c = 0.0, d = 1.0, e = 0.0, f = 0.0;

  static constexpr Affine identity() { return Affine{}; }
  static constexpr Affine translate(double tx, double ty) { return Affine{1, 0, 0, 1, tx, ty}; }
  static constexpr Affine scale(double s) { return Affine{s, 0, 0, s, 0, 0}; }
  static constexpr Affine scale_non_uniform(double sx, double sy) { return Affine{sx, 0, 0, sy, 0, 0}; }

  // (this * o) applies o first, then this.
  constexpr Affine operator*(const Affine& o) const {
    return Affine{a * o.a + c * o.b, b * o.a + d * o.b,     a * o.c + c * o.d,
                  b * o.c + d * o.d, a * o.e + c * o.f + e, b * o.e + d * o.f + f};
  }
  constexpr Point apply(Point p) const { return Point{a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
  constexpr Affine then_translate(double tx, double ty) const { return translate(tx, ty) * *this; }
  friend bool operator==(const Affine&, const Affine&) = default;
};

}  // namespace vesk_ui::scene
