// The facade's operations never raise to their caller: an engine failure
// reads as the operation's "nothing" value (0, a 0 handle, an empty text).
// These wrappers run one operation's body under that rule, so that each
// operation says only what it does.
#pragma once

#include <exception>
#include <utility>

// Runs body and returns its result, or fallback when the engine throws.
template <class R, class Body>
R Shielded(R fallback, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception&) {
    return fallback;
  }
}

// For operations that answer through an out-parameter: it is cleared before
// the body runs and again when the body throws, so a failure never leaves a
// half-written answer behind.
template <class Out, class Body>
void ShieldedInto(Out& out, Body&& body) {
  out.clear();
  try {
    std::forward<Body>(body)();
  } catch (const std::exception&) {
    out.clear();
  }
}
