// cairo bound at run time: a drawing object loads the library from a path
// it is given ("libcairo.so.2") and calls it through this table, so the
// program starts and draws with GDI where cairo is missing. Our own
// declarations of the few cairo types and functions used.
#pragma once

#include <string>

namespace cairo_rt {
// Opaque cairo objects.
struct cairo_t;
struct cairo_surface_t;
struct cairo_pattern_t;

// Enumerations with cairo's values.
constexpr int CAIRO_FORMAT_ARGB32 = 0;
constexpr int CAIRO_LINE_CAP_BUTT = 0, CAIRO_LINE_CAP_ROUND = 1, CAIRO_LINE_CAP_SQUARE = 2;
constexpr int CAIRO_LINE_JOIN_MITER = 0, CAIRO_LINE_JOIN_ROUND = 1, CAIRO_LINE_JOIN_BEVEL = 2;
constexpr int CAIRO_FILL_RULE_WINDING = 0, CAIRO_FILL_RULE_EVEN_ODD = 1;
constexpr int CAIRO_FILTER_GOOD = 1, CAIRO_FILTER_NEAREST = 3, CAIRO_FILTER_BILINEAR = 4;
constexpr int CAIRO_EXTEND_PAD = 3;
constexpr int CAIRO_STATUS_SUCCESS = 0;

struct cairo_matrix_t {
  double xx, yx, xy, yy, x0, y0;
};
using cairo_read_func_t = int (*)(void* closure, unsigned char* data, unsigned int length);
}  // namespace cairo_rt

// The loader: the library handle and one slot per entry point. Every drawing
// goes to an image surface: either cairo's own pixels, or a bitmap's pixel
// buffer wrapped in place (create_for_data), so that cairo draws straight
// into the page bitmap the rest of the engine reads.
class TCairoDLL {
public:
  TCairoDLL() = default;
  ~TCairoDLL();
  TCairoDLL(const TCairoDLL&) = delete;
  TCairoDLL& operator=(const TCairoDLL&) = delete;

  // Loads the library and binds every entry point. False (and nothing kept
  // loaded) for an empty path, a library that cannot be loaded, or one that
  // lacks any entry point: a half-bound table is never reported usable.
  bool Load(const std::string& path);
  bool Loaded() const { return handle_ != nullptr; }
  // Name of the first missing entry point after a failed Load (empty otherwise).
  const std::string& MissingEntry() const { return missing_; }

  using cr = cairo_rt::cairo_t;
  using surf = cairo_rt::cairo_surface_t;
  using pat = cairo_rt::cairo_pattern_t;

  // The 21 entry points of the drawing object, in binding order.
  surf* (*cairo_image_surface_create)(int format, int width, int height) = nullptr;
  cr* (*cairo_create)(surf*) = nullptr;
  void (*cairo_set_source_rgba)(cr*, double, double, double, double) = nullptr;
  void (*cairo_paint)(cr*) = nullptr;
  void (*cairo_move_to)(cr*, double, double) = nullptr;
  void (*cairo_line_to)(cr*, double, double) = nullptr;
  void (*cairo_close_path)(cr*) = nullptr;
  void (*cairo_fill)(cr*) = nullptr;
  void (*cairo_destroy)(cr*) = nullptr;
  unsigned char* (*cairo_image_surface_get_data)(surf*) = nullptr;
  void (*cairo_surface_destroy)(surf*) = nullptr;
  surf* (*cairo_image_surface_create_for_data)(unsigned char*, int format, int width, int height, int stride) = nullptr;
  void (*cairo_new_path)(cr*) = nullptr;
  void (*cairo_stroke)(cr*) = nullptr;
  void (*cairo_curve_to)(cr*, double, double, double, double, double, double) = nullptr;
  void (*cairo_set_line_width)(cr*, double) = nullptr;
  void (*cairo_set_line_cap)(cr*, int) = nullptr;
  void (*cairo_set_line_join)(cr*, int) = nullptr;
  void (*cairo_set_dash)(cr*, const double*, int, double) = nullptr;
  void (*cairo_set_miter_limit)(cr*, double) = nullptr;
  surf* (*cairo_image_surface_create_from_png_stream)(cairo_rt::cairo_read_func_t, void*) = nullptr;
  // What honouring fill rules, clipping and images needs besides.
  void (*cairo_fill_preserve)(cr*) = nullptr;
  void (*cairo_set_fill_rule)(cr*, int) = nullptr;
  void (*cairo_clip)(cr*) = nullptr;
  void (*cairo_reset_clip)(cr*) = nullptr;
  void (*cairo_save)(cr*) = nullptr;
  void (*cairo_restore)(cr*) = nullptr;
  void (*cairo_transform)(cr*, const cairo_rt::cairo_matrix_t*) = nullptr;
  void (*cairo_set_source_surface)(cr*, surf*, double, double) = nullptr;
  pat* (*cairo_get_source)(cr*) = nullptr;
  void (*cairo_pattern_set_filter)(pat*, int) = nullptr;
  void (*cairo_pattern_set_extend)(pat*, int) = nullptr;
  void (*cairo_rectangle)(cr*, double, double, double, double) = nullptr;
  void (*cairo_surface_flush)(surf*) = nullptr;
  void (*cairo_surface_mark_dirty)(surf*) = nullptr;
  int (*cairo_status)(cr*) = nullptr;
  int (*cairo_surface_status)(surf*) = nullptr;
  // Blending cached glyph coverage in the source colour.
  void (*cairo_mask_surface)(cr*, surf*, double, double) = nullptr;

private:
  void Unload();
  void* handle_ = nullptr;
  std::string missing_;
};
