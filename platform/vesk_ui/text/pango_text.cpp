#include "platform/vesk_ui/text/pango_text.hpp"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <optional>
#include <unordered_map>

namespace vesk_ui::text {

namespace {

// Layouts are kept by their text and style, so a frame that repeats last
// frame's text shapes nothing. Past this many entries the least recently used
// one goes, so a screen that changes a lot never throws the rest away at once.
constexpr std::size_t kLayoutCacheLimit = 4096;

struct GObjectDeleter {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectDeleter>;

const char* family_name(FontFamily f) { return f == FontFamily::Mono ? "DejaVu Sans Mono" : "DejaVu Sans"; }

PangoWeight pango_weight(std::uint8_t w) {
  switch (w) {
    case 0: return PANGO_WEIGHT_NORMAL;
    case 1: return PANGO_WEIGHT_MEDIUM;
    case 2: return PANGO_WEIGHT_SEMIBOLD;
    default: return PANGO_WEIGHT_BOLD;
  }
}

std::string cache_key(const std::string& text, const TextStyle& s) {
  std::string key;
  key.reserve(text.size() + 24);
  float size = s.size;
  double width = s.max_width.value_or(-1.0);
  key.push_back(static_cast<char>(s.family));
  key.push_back(static_cast<char>(s.weight));
  key.append(reinterpret_cast<const char*>(&size), sizeof size);
  key.append(reinterpret_cast<const char*>(&width), sizeof width);
  key += text;
  return key;
}

}  // namespace

struct PangoTextRenderer::Impl {
  GPtr<PangoFontMap> font_map;
  GPtr<PangoContext> context;
  struct Entry {
    GPtr<PangoLayout> layout;
    TextSize size;
    std::optional<scene::Rect> bounds;            // ink and logical boxes together, once asked for
    std::list<const std::string*>::iterator use;  // place in `recent`
  };
  std::unordered_map<std::string, Entry> layouts;
  // Keys of `layouts`, most recently used first (the map's nodes are stable).
  std::list<const std::string*> recent;
  std::unordered_map<std::uint64_t, int> mono_spacing;  // (size bits, weight) -> Pango units

  Impl() {
    font_map.reset(pango_cairo_font_map_new());
    context.reset(pango_font_map_create_context(font_map.get()));
    cairo_font_options_t* opts = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(opts, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context.get(), opts);
    cairo_font_options_destroy(opts);
    pango_context_set_round_glyph_positions(context.get(), FALSE);
  }

  GPtr<PangoLayout> make_layout(const std::string& text, const TextStyle& s, int letter_spacing) {
    GPtr<PangoLayout> layout(pango_layout_new(context.get()));
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family_static(desc, family_name(s.family));
    pango_font_description_set_weight(desc, pango_weight(s.weight));
    pango_font_description_set_absolute_size(desc, static_cast<double>(s.size) * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), desc);
    pango_font_description_free(desc);
    if (letter_spacing != 0) {
      PangoAttrList* attrs = pango_attr_list_new();
      pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(letter_spacing));
      pango_layout_set_attributes(layout.get(), attrs);
      pango_attr_list_unref(attrs);
    }
    if (s.max_width) {
      pango_layout_set_width(layout.get(), static_cast<int>(std::lround(*s.max_width * PANGO_SCALE)));
      pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    return layout;
  }

  int spacing_for(const TextStyle& s) {
    if (s.family != FontFamily::Mono) return 0;
    std::uint32_t bits;
    std::memcpy(&bits, &s.size, sizeof bits);
    const std::uint64_t key = (std::uint64_t{bits} << 8) | s.weight;
    if (auto it = mono_spacing.find(key); it != mono_spacing.end()) return it->second;
    const TextStyle single{s.size, s.weight, s.family, std::nullopt};
    // Ten cells, so the spacing is found to a tenth of a Pango unit per cell.
    GPtr<PangoLayout> probe = make_layout("0000000000", single, 0);
    PangoRectangle logical;
    pango_layout_get_extents(probe.get(), nullptr, &logical);
    const double natural = logical.width / 10.0;
    const double want = kMonoAdvanceEm * s.size * PANGO_SCALE;
    const int spacing = static_cast<int>(std::lround(want - natural));
    mono_spacing.emplace(key, spacing);
    return spacing;
  }

  Entry& entry(const std::string& text, const TextStyle& s) {
    std::string key = cache_key(text, s);
    if (auto it = layouts.find(key); it != layouts.end()) {
      recent.splice(recent.begin(), recent, it->second.use);
      return it->second;
    }
    while (layouts.size() >= kLayoutCacheLimit && !recent.empty()) {
      layouts.erase(*recent.back());
      recent.pop_back();
    }
    GPtr<PangoLayout> layout = make_layout(text, s, spacing_for(s));
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    TextSize size{static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
    auto [it, inserted] = layouts.emplace(std::move(key), Entry{std::move(layout), size, std::nullopt, {}});
    (void)inserted;
    recent.push_front(&it->first);
    it->second.use = recent.begin();
    return it->second;
  }
};

PangoTextRenderer::PangoTextRenderer() : impl_(std::make_unique<Impl>()) {}
PangoTextRenderer::~PangoTextRenderer() = default;

std::size_t PangoTextRenderer::cached_layouts() const { return impl_->layouts.size(); }

TextSize PangoTextRenderer::do_measure(const std::string& text, const TextStyle& style) {
  return impl_->entry(text, style).size;
}

double PangoTextRenderer::do_caret_x(const std::string& text, const TextStyle& style, std::size_t byte_index) {
  const TextStyle single{style.size, style.weight, style.family, std::nullopt};
  Impl::Entry& e = impl_->entry(text, single);
  if (byte_index >= text.size()) return e.size.width;
  PangoRectangle pos;
  pango_layout_index_to_pos(e.layout.get(), static_cast<int>(byte_index), &pos);
  return static_cast<double>(pos.x) / PANGO_SCALE;
}

std::size_t PangoTextRenderer::do_index_at_x(const std::string& text, const TextStyle& style, double x) {
  const TextStyle single{style.size, style.weight, style.family, std::nullopt};
  Impl::Entry& e = impl_->entry(text, single);
  if (x >= e.size.width) return text.size();
  int index = 0;
  int trailing = 0;
  pango_layout_xy_to_index(e.layout.get(), static_cast<int>(std::lround(x * PANGO_SCALE)), 0, &index, &trailing);
  std::size_t i = static_cast<std::size_t>(std::max(index, 0));
  for (int k = 0; k < trailing && i < text.size(); ++k) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return std::min(i, text.size());
}

void PangoTextRenderer::render_run(cairo_t* cr, const scene::TextRun& run) {
  // Runs come from the scene, which only the text layer fills, but a scene
  // can be built by hand: repair and clamp again rather than trust it.
  const TextStyle s = normalize_style(TextStyle{run.size, run.weight, run.family, run.max_width});
  const std::string text = is_nul_free_utf8(run.text) ? run.text : sanitize_utf8(run.text);
  Impl::Entry& e = impl_->entry(text, s);
  cairo_set_source_rgba(cr, run.color.r, run.color.g, run.color.b, run.color.a);
  pango_cairo_show_layout(cr, e.layout.get());
}

scene::Rect PangoTextRenderer::run_bounds(const scene::TextRun& run) {
  const TextStyle s = normalize_style(TextStyle{run.size, run.weight, run.family, run.max_width});
  const std::string text = is_nul_free_utf8(run.text) ? run.text : sanitize_utf8(run.text);
  Impl::Entry& e = impl_->entry(text, s);
  if (!e.bounds) {
    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_extents(e.layout.get(), &ink, &logical);
    const double x0 = std::min(ink.x, logical.x);
    const double y0 = std::min(ink.y, logical.y);
    const double x1 = std::max(ink.x + ink.width, logical.x + logical.width);
    const double y1 = std::max(ink.y + ink.height, logical.y + logical.height);
    e.bounds = scene::Rect{x0 / PANGO_SCALE, y0 / PANGO_SCALE, x1 / PANGO_SCALE, y1 / PANGO_SCALE};
  }
  return *e.bounds;
}

double PangoTextRenderer::natural_mono_advance(float size) {
  TextStyle s{size, 0, FontFamily::Mono, std::nullopt};
  s = normalize_style(s);
  GPtr<PangoLayout> probe = impl_->make_layout("0000000000", s, 0);
  PangoRectangle logical;
  pango_layout_get_extents(probe.get(), nullptr, &logical);
  return logical.width / 10.0 / PANGO_SCALE;
}

}  // namespace vesk_ui::text
