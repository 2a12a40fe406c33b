#pragma once
// The recorded 2D scene: a display list of fills, strokes, clip layers, images
// and text runs, in call order. Painting code records into it; a backend
// (render/cairo_renderer.hpp) replays it. Tests read the list itself.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/vesk_ui/scene/color.hpp"
#include "platform/vesk_ui/scene/geometry.hpp"
#include "platform/vesk_ui/scene/image.hpp"

namespace vesk_ui::scene {

struct RoundedRect {
  Rect rect;
  double radius = 0.0;
  friend bool operator==(const RoundedRect&, const RoundedRect&) = default;
};

struct Circle {
  Point center;
  double radius = 0.0;
  friend bool operator==(const Circle&, const Circle&) = default;
};

struct Line {
  Point p0;
  Point p1;
  friend bool operator==(const Line&, const Line&) = default;
};

struct PathEl {
  enum class Verb : std::uint8_t { MoveTo, LineTo, QuadTo, CurveTo, Close };
  Verb verb = Verb::MoveTo;
  Point p[3];  // points used by the verb: 1 for move/line, 2 for quad, 3 for curve
  friend bool operator==(const PathEl& a, const PathEl& b) {
    return a.verb == b.verb && a.p[0] == b.p[0] && a.p[1] == b.p[1] && a.p[2] == b.p[2];
  }
};

class Path {
 public:
  Path& move_to(Point p);
  Path& line_to(Point p);
  Path& quad_to(Point c, Point p);
  Path& curve_to(Point c1, Point c2, Point p);
  Path& close();
  const std::vector<PathEl>& elements() const { return els_; }
  bool empty() const { return els_.empty(); }
  friend bool operator==(const Path&, const Path&) = default;

 private:
  std::vector<PathEl> els_;
};

using Shape = std::variant<Rect, RoundedRect, Circle, Line, Path>;

enum class Extend : std::uint8_t { Pad = 0, Repeat = 1, Reflect = 2 };

// Fills a shape with a picture; brush_transform maps image pixels to the
// shape's space (before the fill's own transform).
struct ImageBrush {
  Image image;
  Affine brush_transform;
  ImageQuality quality = ImageQuality::Medium;
  Extend extend = Extend::Pad;
  float alpha = 1.0f;
  friend bool operator==(const ImageBrush&, const ImageBrush&) = default;
};

using Brush = std::variant<Color, ImageBrush>;

enum class Join : std::uint8_t { Bevel = 0, Miter = 1, Round = 2 };
enum class Cap : std::uint8_t { Butt = 0, Square = 1, Round = 2 };

struct StrokeStyle {
  double width = 1.0;
  Join join = Join::Round;
  Cap cap = Cap::Round;
  double miter_limit = 4.0;
  static StrokeStyle of_width(double w) { return StrokeStyle{w}; }
  friend bool operator==(const StrokeStyle&, const StrokeStyle&) = default;
};

enum class FillRule : std::uint8_t { NonZero = 0, EvenOdd = 1 };
enum class BlendMode : std::uint8_t { Normal = 0 };

enum class FontFamily : std::uint8_t { Sans = 0, Mono = 1 };

// One laid-out run of text. `transform` places the top-left corner of the
// text's box; `max_width` wraps it at that many logical pixels.
struct TextRun {
  std::string text;  // valid UTF-8 (the text layer replaces what is not)
  float size = 14.0f;
  std::uint8_t weight = 0;  // 0 normal, 1 medium, 2 semibold, 3 bold
  FontFamily family = FontFamily::Sans;
  Color color;
  Affine transform;
  std::optional<double> max_width;
  friend bool operator==(const TextRun&, const TextRun&) = default;
};

struct FillCmd {
  FillRule rule = FillRule::NonZero;
  Affine transform;
  Brush brush;
  Shape shape;
  friend bool operator==(const FillCmd&, const FillCmd&) = default;
};

struct StrokeCmd {
  StrokeStyle style;
  Affine transform;
  Brush brush;
  Shape shape;
  friend bool operator==(const StrokeCmd&, const StrokeCmd&) = default;
};

struct PushLayerCmd {
  BlendMode blend = BlendMode::Normal;
  float alpha = 1.0f;
  Affine transform;
  Shape clip;
  friend bool operator==(const PushLayerCmd&, const PushLayerCmd&) = default;
};

struct PopLayerCmd {
  friend bool operator==(const PopLayerCmd&, const PopLayerCmd&) = default;
};

struct TextCmd {
  TextRun run;
  friend bool operator==(const TextCmd&, const TextCmd&) = default;
};

using Command = std::variant<FillCmd, StrokeCmd, PushLayerCmd, PopLayerCmd, TextCmd>;

class Scene {
 public:
  void fill(FillRule rule, const Affine& transform, const Brush& brush, const Shape& shape);
  void fill(const Affine& transform, const Brush& brush, const Shape& shape) {
    fill(FillRule::NonZero, transform, brush, shape);
  }
  void stroke(const StrokeStyle& style, const Affine& transform, const Brush& brush, const Shape& shape);
  // Everything until the matching pop_layer is clipped to `clip` and
  // composited at `alpha`.
  void push_layer(BlendMode blend, float alpha, const Affine& transform, const Shape& clip);
  // A pop without a matching push is a painter bug: it stops a debug build and
  // is ignored in a release build.
  void pop_layer();
  void draw_text(TextRun run);
  // The whole picture at its own size, placed by `transform`.
  void draw_image(const Image& image, const Affine& transform);

  // Ends recording. Layers still open are a painter bug: a debug build stops
  // with a message; a release build closes them so the replay stays sound.
  void finish();

  void reset();
  std::size_t layer_depth() const { return depth_; }
  bool balanced() const { return depth_ == 0; }
  const std::vector<Command>& commands() const { return cmds_; }
  bool empty() const { return cmds_.empty(); }

  // A hash of each command, taken as it is recorded (pictures by id, not by
  // pixels), in the order of commands(). Equal commands give equal hashes.
  const std::vector<std::uint64_t>& command_hashes() const { return hashes_; }
  // A hash of the whole list: equal lists give equal fingerprints, so a host
  // can tell an unchanged frame without comparing the lists.
  std::uint64_t fingerprint() const;

  // The display list as text, one line per command; equal lists give equal text.
  std::string dump() const;

  friend bool operator==(const Scene& a, const Scene& b) { return a.cmds_ == b.cmds_; }

 private:
  void record(Command cmd);

  std::vector<Command> cmds_;
  std::vector<std::uint64_t> hashes_;
  std::size_t depth_ = 0;
};

// The hash of one command as Scene records it; without the picture, a fill
// with a picture hashes as the same fill with any other picture of its size.
std::uint64_t hash_command(const Command& cmd, bool with_picture = true);

// The picture a command fills with, if it does.
const ImageBrush* picture_brush(const Command& cmd);

// Stops the program with `message` in a debug build; does nothing in release.
void debug_fail(const char* message);

}  // namespace vesk_ui::scene
