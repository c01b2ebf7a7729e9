#include "platform/Cairo.h"

#include <dlfcn.h>

#include "platform/RuntimeLibrary.h"

// Every entry point, in binding order.
#define PVL_CAIRO_ENTRIES(X) \
  X(cairo_image_surface_create) \
  X(cairo_create) \
  X(cairo_set_source_rgba) \
  X(cairo_paint) \
  X(cairo_move_to) \
  X(cairo_line_to) \
  X(cairo_close_path) \
  X(cairo_fill) \
  X(cairo_destroy) \
  X(cairo_image_surface_get_data) \
  X(cairo_surface_destroy) \
  X(cairo_image_surface_create_for_data) \
  X(cairo_new_path) \
  X(cairo_stroke) \
  X(cairo_curve_to) \
  X(cairo_set_line_width) \
  X(cairo_set_line_cap) \
  X(cairo_set_line_join) \
  X(cairo_set_dash) \
  X(cairo_set_miter_limit) \
  X(cairo_image_surface_create_from_png_stream) \
  X(cairo_fill_preserve) \
  X(cairo_set_fill_rule) \
  X(cairo_clip) \
  X(cairo_reset_clip) \
  X(cairo_save) \
  X(cairo_restore) \
  X(cairo_transform) \
  X(cairo_set_source_surface) \
  X(cairo_get_source) \
  X(cairo_pattern_set_filter) \
  X(cairo_pattern_set_extend) \
  X(cairo_rectangle) \
  X(cairo_surface_flush) \
  X(cairo_surface_mark_dirty) \
  X(cairo_status) \
  X(cairo_surface_status) \
  X(cairo_mask_surface)

TCairoDLL::~TCairoDLL() { Unload(); }

void TCairoDLL::Unload() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

bool TCairoDLL::Load(const std::string& path) {
  Unload();
  missing_.clear();
  if (path.empty()) return false;
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) return false;
  bool ok = true;
#define PVL_BIND(name) ok &= BindLibrarySymbol(h, #name, name, missing_);
  PVL_CAIRO_ENTRIES(PVL_BIND)
#undef PVL_BIND
  if (!ok) {
    dlclose(h);
#define PVL_CLEAR(name) name = nullptr;
    PVL_CAIRO_ENTRIES(PVL_CLEAR)
#undef PVL_CLEAR
    return false;
  }
  handle_ = h;
  return true;
}
