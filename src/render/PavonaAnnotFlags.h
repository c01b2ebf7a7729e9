// The bits of an annotation's flags (its "F" entry). The renderer decides by
// them which annotations a page shows on screen or on paper; the page tree and
// the form layer set them on the annotations they create.
#pragma once

#include <cstdint>

enum TPDFAnnotFlag : uint32_t {
  pdfafInvisible = 1u << 0,       // an unknown kind is not drawn
  pdfafHidden = 1u << 1,          // never drawn nor printed
  pdfafPrint = 1u << 2,           // printed (without it, screen only)
  pdfafNoZoom = 1u << 3,          // keeps its size when the page is zoomed
  pdfafNoRotate = 1u << 4,        // keeps upright when the page is turned
  pdfafNoView = 1u << 5,          // not drawn on screen (may still print)
  pdfafReadOnly = 1u << 6,        // no interaction
  pdfafLocked = 1u << 7,          // cannot be moved or deleted
  pdfafToggleNoView = 1u << 8,    // NoView flips on hover and selection
  pdfafLockedContents = 1u << 9,  // contents cannot be edited
};

// Whether an annotation with these flags is drawn: on paper it needs Print,
// on screen it must not be NoView; Hidden is drawn on neither.
constexpr bool AnnotationIsDrawn(uint32_t flags, bool onPaper) {
  if ((flags & pdfafHidden) != 0) return false;
  return onPaper ? (flags & pdfafPrint) != 0 : (flags & pdfafNoView) == 0;
}
